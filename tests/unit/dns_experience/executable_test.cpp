// dns_experience run as a user would, with bad and good input on the command line and on
// standard input: what it prints on each stream and how it ends. No network is needed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/processes.h"

namespace Network_tools::DNS_experience {
namespace {

struct Tool_run {
  std::string out;
  std::string err;
  int status = -1;
};

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Runs the built tool with `arguments` (no shell in between) and `input` on standard input.
Tool_run run_tool(const std::vector<std::string>& arguments, const std::string& input = "") {
  char folder_pattern[] = "/tmp/dns_experience_run_XXXXXX";
  const std::string folder = mkdtemp(folder_pattern);
  const std::string in = folder + "/in", out = folder + "/out", err = folder + "/err";
  std::ofstream(in, std::ios::binary) << input;
  std::vector<std::string> words = {std::string(NT_BINARY_DIR) + "/dns_experience"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open(in.c_str(), O_RDONLY), 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  Tool_run run;
  int status = 0;
  if (testing_support::wait_for_child(pid, status) && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  run.out = read_file(out);
  run.err = read_file(err);
  for (const std::string& file : {in, out, err}) unlink(file.c_str());
  rmdir(folder.c_str());
  return run;
}

// How a failure must end: status 1, no output, and this line last on standard error. The key
// is written without its "qv-dns.results.error." prefix.
struct Fatal_case {
  std::vector<std::string> arguments;
  std::string input;
  std::string line;
};

TEST(DnsExperienceTool, HelpEndsWithItsText) {
  const Tool_run help = run_tool({"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, read_file(std::string(NT_TEST_DATA_DIR) + "/dns_experience_help.txt"));
  EXPECT_EQ(help.err, "");
  // The help stops the scan: a later bad option is never looked at.
  EXPECT_EQ(run_tool({"--help", "--frobnicate"}).out, help.out);
}

TEST(DnsExperienceTool, BadInputEndsWithOneFatalLine) {
  const std::string url = R"("test.common.url":"qv-dns-exp://www.lab.test")";
  const auto document = [](const std::string& capabilities, const std::string& settings = "") {
    return R"({"Capabilities":{)" + capabilities + R"(},"Settings":{)" + settings + "}}\n";
  };
  // clang-format off
  const std::vector<Fatal_case> cases = {
      {{"--frobnicate=1", "x.test"}, "", "Unrecognized option --frobnicate (unrecognized-argument)"},
      {{"-jZ", "x.test"}, "", "Unrecognized option -Z (unrecognized-argument)"},
      {{"--json=1", "x.test"}, "", "Option --json does not take an argument (unrecognized-argument)"},
      {{"x.test", "-x"}, "", "Option -x requires an argument (missing-argument-value)"},
      {{"x.test", "--tries"}, "", "Option --tries requires an argument (missing-argument-value)"},
      // The next option was taken for the value.
      {{"-X", "-j", "x.test"}, "", "Option -X requires an argument (missing-argument-value)"},
      {{"--tries=abc", "x.test"}, "", "Option --tries argument is invalid (out-of-bounds-argument)"},
      {{"-r", "9", "x.test"}, "", "Tries of 9 over the limit of 5 (out-of-bounds-argument)"},
      {{"-Q", "-5", "x.test"}, "", "Option -Q requires an argument (missing-argument-value)"},
      {{"--timeout=99999999999", "x"}, "", "Option --timeout requires an argument (missing-argument-value)"},
      {{"-Q", "70000", "x.test"}, "", "Timeout of 70000 over the limit of 65535 (out-of-bounds-argument)"},
      {{"-j", "-t", "a"}, "", "Missing Host (missing-host)"},
      {{"a.test", "-j", "b.test"}, "", "Duplicate destination hosts: [a.test] and [b.test] (duplicate-host)"},
      {{}, document(url + R"(,"qv-dns.test.nsid":"yes")"), "Capability qv-dns.test.nsid is supposed to be Bool and not String (wrong-argument-value)"},
      {{}, document(R"("test.common.url":"dns://a.test")"), "Invalid scheme [dns] in url [dns://a.test] (wrong-argument-value)"},
      {{}, document(R"("test.common.url":"a.test")"), "Capability test.common.url is not a properly formatted url: Missing :// (wrong-argument-value)"},
      {{}, document(url + R"(,"test.common.url":"qv-dns-trace://b.test")"), "Duplicate destination hosts: [www.lab.test] and [qv-dns-trace://b.test] (duplicate-host)"},
      {{}, document(url + R"(,"common.test.max-step-time":-3)"), "Timeout of -3 under the limit of 0 (out-of-bounds-argument)"},
      {{}, document(url, R"("Tries":"2")"), "Setting Tries is supposed to be Int and not String (wrong-argument-value)"},
      {{}, document(url, R"("EdnsSubnet":"x/1")"), "Invalid subnet: x/1 (wrong-argument-value)"},
      {{}, document(url, R"("DataDirectory":"/etc/hostname")"), "could not verify accessibility of path: /etc/hostname/dns_experience_cache.dat. error: Not a directory (out-of-bounds-argument)"},
      {{}, document(""), "Missing Host (missing-host)"},
      {{}, document(url + R"(,"qv-dns.test.query-type":"")"), "Missing query type (missing-query-type)"},
  };
  // clang-format on
  for (const Fatal_case& c : cases) {
    const Tool_run run = run_tool(c.arguments, c.input);
    EXPECT_EQ(run.status, 1) << c.line;
    EXPECT_EQ(run.out, "") << c.line;
    // Warnings about the failed capability may come first; the fatal line is the last.
    std::string fatal = "Fatal error: " + c.line + "\n";
    fatal.insert(fatal.rfind('(') + 1, "qv-dns.results.error.");
    EXPECT_TRUE(run.err.size() >= fatal.size() &&
                run.err.compare(run.err.size() - fatal.size(), fatal.size(), fatal) == 0)
        << run.err;
  }
}

TEST(DnsExperienceTool, AcceptedInputEndsAsNotAvailable) {
  const std::string error_line =
      "Resolution is not available in this build (qv-dns.results.error.internal-error)\n";
  // A capability forgiven by its setting, and a host made of shell syntax: both are data.
  const Tool_run forgiven =
      run_tool({}, R"({"Capabilities":{"test.common.url":"qv-dns-exp://$(touch /tmp/x).test",)"
                   R"("qv-dns.test.subnet":"bad","qv-dns.test.query-type":"a;ls"},)"
                   R"("Settings":{"EdnsSubnet":"127.53.200.9/24"}})"
                   "\n");
  EXPECT_EQ(forgiven.status, 1);
  EXPECT_EQ(
      forgiven.out,
      R"({"MonitorResults":[{"StepResults":[{"Metrics":[],"OtherData":{},"PageResults":{}}],)"
      R"("OtherData":{"qv-dns.results.url":"qv-dns-exp://$(touch /tmp/x).test",)"
      R"("qv-dns.results.edns-client-subnet":"127.53.200.0/24",)"
      R"("common.results.error-code":"qv-dns.results.error.internal-error"}}],"OtherData":{}})");
  EXPECT_NE(forgiven.err.find("[WARNING] "), std::string::npos);
  EXPECT_NE(forgiven.err.find(error_line), std::string::npos);
  EXPECT_EQ(forgiven.err.find("Fatal error"), std::string::npos);

  // Without -j: the error line only, no document.
  const Tool_run text = run_tool({"-t", "AAAA", "www.lab.test"});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.out, "");
  EXPECT_NE(text.err.find("[ERROR] "), std::string::npos);
  EXPECT_EQ(text.err.substr(text.err.size() - error_line.size()), error_line);
}

}  // namespace
}  // namespace Network_tools::DNS_experience
