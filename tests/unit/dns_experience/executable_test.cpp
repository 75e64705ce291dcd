// dns_experience run as a user would, with its help and with bad input on the command line and
// on standard input: what it prints on each stream and how it ends. No network is needed (runs
// that resolve are lab tests).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_tools.h"
#include "support/processes.h"

namespace Network_tools::DNS_experience {
namespace {

using testing_support::input_document;

struct Tool_run {
  std::string out;
  std::string err;
  int status = -1;
};

// Runs the built tool with `arguments` and `input` on standard input; one that has not ended after
// ten seconds is killed.
Tool_run run_tool(std::vector<std::string> arguments, const std::string& input = "") {
  arguments.insert(arguments.begin(), NT_BINARY_DIR "/dns_experience");
  testing_support::Started_tool tool(arguments, input);
  const int status = tool.wait();
  return {tool.out(), tool.err(), status};
}

const std::string url = R"("test.common.url":"qv-dns-exp://www.lab.test")";

TEST(DnsExperienceTool, HelpEndsWithItsText) {
  const Tool_run help = run_tool({"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, testing_support::recorded("dns_experience_help.txt"));
  EXPECT_EQ(help.err, "");
  // The help stops the scan: a later bad option is never looked at.
  EXPECT_EQ(run_tool({"--help", "--frobnicate"}).out, help.out);
}

TEST(DnsExperienceTool, BadInputEndsWithOneFatalLine) {
  // The arguments, the document on standard input, and the last line on standard error with the
  // key written without its "qv-dns.results.error." prefix.
  struct Fatal_case {
    std::vector<std::string> arguments;
    std::string input;
    std::string line;
  };
  // clang-format off
  const std::vector<Fatal_case> cases = {
      {{"--frobnicate=1", "x"}, "", "Unrecognized option --frobnicate (unrecognized-argument)"},
      {{"-jZ", "x"}, "", "Unrecognized option -Z (unrecognized-argument)"},
      {{"--json=1", "x"}, "", "Option --json does not take an argument (unrecognized-argument)"},
      {{"x", "-x"}, "", "Option -x requires an argument (missing-argument-value)"},
      {{"x", "--tries"}, "", "Option --tries requires an argument (missing-argument-value)"},
      {{"--tries=abc", "x"}, "", "Option --tries argument is invalid (out-of-bounds-argument)"},
      {{"-r", "9", "x"}, "", "Tries of 9 over the limit of 5 (out-of-bounds-argument)"},
      // The next option, or a negative number, is not taken for the value.
      {{"-Q", "-5", "x"}, "", "Option -Q requires an argument (missing-argument-value)"},
      {{"-j", "-t", "a"}, "", "Missing Host (missing-host)"},
      {{"a", "-j", "b"}, "", "Duplicate destination hosts: [a] and [b] (duplicate-host)"},
      {{}, input_document(url + R"(,"qv-dns.test.nsid":"yes")"),
       "Capability qv-dns.test.nsid is supposed to be Bool and not String (wrong-argument-value)"},
      {{}, input_document(R"("test.common.url":"dns://a")"),
       "Invalid scheme [dns] in url [dns://a] (wrong-argument-value)"},
      {{}, input_document(R"("test.common.url":"a")"),
       "Capability test.common.url is not a properly formatted url: Missing :// "
       "(wrong-argument-value)"},
      {{}, input_document(url + R"(,"test.common.url":"qv-dns-trace://b")"),
       "Duplicate destination hosts: [www.lab.test] and [qv-dns-trace://b] (duplicate-host)"},
      {{}, input_document(url + R"(,"common.test.max-step-time":-3)"),
       "Timeout of -3 under the limit of 0 (out-of-bounds-argument)"},
      {{}, input_document(url, R"("Tries":"2")"),
       "Setting Tries is supposed to be Int and not String (wrong-argument-value)"},
      {{}, input_document(url, R"("EdnsSubnet":"x/1")"), "Invalid subnet: x/1 (wrong-argument-value)"},
      {{}, input_document(url, R"("DataDirectory":"/etc/hostname")"),
       "could not verify accessibility of path: /etc/hostname/dns_experience_cache.dat. error: "
       "Not a directory (out-of-bounds-argument)"},
      {{}, input_document(url + R"(,"qv-dns.test.query-type":"")"),
       "Missing query type (missing-query-type)"},
  };
  // clang-format on
  for (const Fatal_case& c : cases) {
    const Tool_run run = run_tool(c.arguments, c.input);
    EXPECT_EQ(run.status, 1) << c.line;
    EXPECT_EQ(run.out, "") << c.line;
    // Warnings about the failed capability may come first; the fatal line is the last.
    std::string fatal = "Fatal error: " + c.line + "\n";
    fatal.insert(fatal.rfind('(') + 1, "qv-dns.results.error.");
    EXPECT_TRUE(run.err.ends_with(fatal)) << run.err;
  }
}

}  // namespace
}  // namespace Network_tools::DNS_experience
