// Ping wrappers whose native tool is scripted: the launcher records each command line and the
// reader answers with prepared outputs, so no process starts.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_SCRIPTED_PING_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_SCRIPTED_PING_H_

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ping/wrapper.h"

namespace Network_tools::testing_support {

// A folder holding an empty QV_traceroute, so that the check for the executable passes.
class Fake_tool_folder {
 public:
  Fake_tool_folder() {
    char pattern[] = "/tmp/ping_tool_XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = std::string(pattern) + "/";
    std::ofstream(folder_ + "QV_traceroute") << "";
  }
  ~Fake_tool_folder() {
    unlink((folder_ + "QV_traceroute").c_str());
    rmdir(folder_.c_str());
  }
  const std::string& path() const { return folder_; }

 private:
  std::string folder_;
};

// One answer of the scripted tool: its text and exit status.
struct Tool_answer {
  std::string text;
  int status = 0;
};

// Each start of `wrapper`'s tool is recorded in `commands` and answered with the next of
// `answers` (the last one repeats). The stream handed out is never read.
inline void script_tool(Ping::Wrapper& wrapper, std::vector<Tool_answer> answers,
                        std::shared_ptr<std::vector<std::string>> commands) {
  auto next = std::make_shared<std::size_t>(0);
  auto script = std::make_shared<std::vector<Tool_answer>>(std::move(answers));
  wrapper.set_command_launcher([commands](const std::string& command, Pipe_registry&) {
    commands->push_back(command);
    return stderr;
  });
  wrapper.set_command_reader([next, script](FILE*, int& status) {
    const Tool_answer& answer = (*script)[std::min((*next)++, script->size() - 1)];
    status = answer.status;
    return answer.text;
  });
}

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_SUPPORT_SCRIPTED_PING_H_
