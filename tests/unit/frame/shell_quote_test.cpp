// Shell quoting: ordinary words stay bare, nothing else can reach the shell unquoted.
#include "frame/shell_quote.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "frame/command.h"

namespace Network_tools {
namespace {

TEST(ShellQuoteTest, OrdinaryWordsStayBare) {
  EXPECT_EQ(shell_quote("www.example.com"), "www.example.com");
  EXPECT_EQ(shell_quote("2001:db8::1"), "2001:db8::1");
  EXPECT_EQ(shell_quote("10.0.0.0/8"), "10.0.0.0/8");
  EXPECT_EQ(shell_quote("AAAA"), "AAAA");
  EXPECT_EQ(shell_quote("fe80::1%eth0"), "fe80::1%eth0");
  EXPECT_EQ(shell_quote("user@host,a+b=c_d-e"), "user@host,a+b=c_d-e");
}

TEST(ShellQuoteTest, EverythingElseIsSingleQuoted) {
  EXPECT_EQ(shell_quote(""), "''");
  EXPECT_EQ(shell_quote("a b"), "'a b'");
  EXPECT_EQ(shell_quote("a;touch /tmp/x"), "'a;touch /tmp/x'");
  EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
  EXPECT_EQ(shell_quote("'"), "''\\'''");
  EXPECT_EQ(shell_quote("$(id)"), "'$(id)'");
  EXPECT_EQ(shell_quote("~root"), "'~root'");
  EXPECT_EQ(shell_quote("caf\xc3\xa9"), "'caf\xc3\xa9'");
}

// Every awkward value comes back from the shell exactly as it went in, as one word.
TEST(ShellQuoteTest, ShellSeesExactlyTheValue) {
  const std::string values[] = {"",        "a b",         "it's",   "$(echo hi)", "`echo hi`",
                                "a\"b\\c", "line\nbreak", "*",      "-n",         "x;y|z&w",
                                "$HOME",   "tab\there",   "!event", "#comment",   "a>b<c"};
  for (const std::string& value : values) {
    int status = -1;
    Pipe_registry registry;
    FILE* stream = launch_bash_command("printf '%s|' " + shell_quote(value) + " 2>&1", registry);
    EXPECT_EQ(parse_bash_command_output(stream, status, registry), value + "|") << value;
    EXPECT_EQ(status, 0);
  }
}

TEST(ShellQuoteTest, QuotedHostNeverRunsACommand) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("quote-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  const std::string target = (directory / "x").string();

  for (const std::string& host :
       {"a;touch " + target, "a$(touch " + target + ")", "a`touch " + target + "`",
        "a && touch " + target, "a\ntouch " + target, "a|touch " + target}) {
    int status = -1;
    Pipe_registry registry;
    FILE* stream = launch_bash_command("echo " + shell_quote(host) + " 2>&1", registry);
    EXPECT_EQ(parse_bash_command_output(stream, status, registry), host + "\n");
    EXPECT_FALSE(std::filesystem::exists(target)) << "ran a command from: " << host;
  }
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace Network_tools
