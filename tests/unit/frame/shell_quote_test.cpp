// Shell quoting: ordinary words stay bare, nothing else reaches the shell unquoted.
#include "frame/shell_quote.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "frame/command.h"

namespace Network_tools {
namespace {

std::string through_shell(const std::string& command) {
  int status = -1;
  Pipe_registry registry;
  return parse_bash_command_output(launch_bash_command(command, registry), status, registry);
}

TEST(ShellQuoteTest, OrdinaryWordsStayBareAndTheRestIsSingleQuoted) {
  for (const char* word :
       {"www.example.com", "2001:db8::1", "10.0.0.0/8", "fe80::1%eth0", "user@host,a+b=c_d-e"}) {
    EXPECT_EQ(shell_quote(word), word);
  }
  EXPECT_EQ(shell_quote(""), "''");
  EXPECT_EQ(shell_quote("a b"), "'a b'");
  EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
  EXPECT_EQ(shell_quote("~root"), "'~root'");
  EXPECT_EQ(shell_quote("caf\xc3\xa9"), "'caf\xc3\xa9'");
}

TEST(ShellQuoteTest, ShellSeesExactlyTheValueAsOneWord) {
  for (const std::string value : {"", "a b", "it's", "'", "$(echo hi)", "`echo hi`", "a\"b\\c",
                                  "line\nbreak", "*", "-n", "$HOME", "tab\there", "#x", "a<b"}) {
    EXPECT_EQ(through_shell("printf '%s|' " + shell_quote(value)), value + "|") << value;
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
    EXPECT_EQ(through_shell("echo " + shell_quote(host) + " 2>&1"), host + "\n");
    EXPECT_FALSE(std::filesystem::exists(target)) << "ran a command from: " << host;
  }
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace Network_tools
