// Running a command inside the DNS lab from a test, as a user would, and collecting what it
// printed on each stream and its exit status.
#ifndef NETWORK_TOOLS_TESTS_LAB_SUPPORT_LAB_RUN_H_
#define NETWORK_TOOLS_TESTS_LAB_SUPPORT_LAB_RUN_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "../../unit/support/result_schema.h"

namespace Network_tools::testing_support {

// What a command printed and how it ended.
struct Lab_run {
  std::string out;
  std::string err;
  // The exit status, or 128 + the signal number when the command was killed.
  int status = -1;
};

// The folder of the built executables ("build/bin"), without a trailing "/".
inline std::string built_tool(const std::string& name) {
  return std::string(NT_BINARY_DIR) + "/" + name;
}

// Starts the lab when it is not running yet (a no-op when it is); throws when it cannot.
inline void ensure_lab_up() {
  const std::string command = std::string(NT_SOURCE_DIR) + "/lab/dnslab up >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("lab/dnslab up failed");
}

namespace lab_run_internal {

inline std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A temporary file that disappears with this object.
class Temporary_file {
 public:
  Temporary_file() {
    char pattern[] = "/tmp/lab_run_XXXXXX";
    const int descriptor = mkstemp(pattern);
    if (descriptor < 0) throw std::runtime_error("mkstemp failed");
    close(descriptor);
    path_ = pattern;
  }
  ~Temporary_file() { unlink(path_.c_str()); }
  Temporary_file(const Temporary_file&) = delete;
  Temporary_file& operator=(const Temporary_file&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Single-quotes `text` for /bin/sh.
inline std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

}  // namespace lab_run_internal

// Runs the shell command line `command` inside the lab's network namespace (with the lab
// resolver as machine resolver), feeding `input` on standard input. Example:
//   auto run = run_in_lab(built_tool("dig_wrapper") + " -j -n 127.53.0.53 -t a www.lab.test");
inline Lab_run run_in_lab(const std::string& command, const std::string& input = "") {
  using namespace lab_run_internal;
  Temporary_file in, out, err;
  std::ofstream(in.path(), std::ios::binary) << input;
  const std::string line = std::string(NT_SOURCE_DIR) + "/lab/dnslab exec /bin/sh -c " +
                           quoted(command) + " <" + in.path() + " >" + out.path() + " 2>" +
                           err.path();
  const int status = std::system(line.c_str());
  Lab_run run;
  run.out = read_file(out.path());
  run.err = read_file(err.path());
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.status = 128 + WTERMSIG(status);
  return run;
}

// Runs the built `tool` with `arguments` (shell words) inside the lab, as run_in_lab does, and
// checks the JSON document it printed, a result or an error result, against the tool's JSON
// Schema. Example:
//   auto run = run_tool_in_lab("dig_wrapper", "-j -n 127.53.0.53 -t a www.lab.test");
inline Lab_run run_tool_in_lab(const std::string& tool, const std::string& arguments,
                               const std::string& input = "") {
  Lab_run run = run_in_lab(built_tool(tool) + " " + arguments, input);
  if (run.out.starts_with('{')) {
    EXPECT_EQ(schema_violation(tool, run.out), "") << tool << " " << arguments << input;
  }
  return run;
}

// A hostile input: the tool's arguments (shell words), the document on standard input, and the
// refusal that must end the run.
struct Refusal_case {
  std::string arguments;
  std::string input;
  std::string refusal;
};

// Runs the built `tool` inside the lab for each case and expects the input refused before any
// native tool starts: status 1, nothing on standard output, "Fatal error: " and the refusal on
// standard error, and no "NATIVE INPUT" line (the cases ask for the debug log to show it).
inline void expect_refused(const std::string& tool, const std::vector<Refusal_case>& cases) {
  for (const Refusal_case& c : cases) {
    const Lab_run run = run_tool_in_lab(tool, c.arguments, c.input);
    const std::string what = c.arguments + c.input.substr(0, 120);
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_EQ(run.out, "") << what;
    EXPECT_NE(run.err.find("Fatal error: " + c.refusal), std::string::npos)
        << what << "\n"
        << run.err.substr(0, 1000);
    EXPECT_EQ(run.err.find("NATIVE INPUT"), std::string::npos) << what;
  }
}

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_LAB_SUPPORT_LAB_RUN_H_
