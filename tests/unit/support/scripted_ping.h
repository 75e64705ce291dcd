// Ping wrappers whose native tool is scripted: the launcher records each command line and the
// reader answers with prepared outputs, so no process starts.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_SCRIPTED_PING_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_SCRIPTED_PING_H_

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ping/parameters.h"
#include "ping/wrapper.h"

namespace Network_tools::testing_support {

// A folder holding an empty file named QV_traceroute, so that the wrapper's check for the
// executable passes; removed with the object.
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
  Fake_tool_folder(const Fake_tool_folder&) = delete;
  Fake_tool_folder& operator=(const Fake_tool_folder&) = delete;
  const std::string& path() const { return folder_; }

 private:
  std::string folder_;
};

// What the scripted tool answers to one start: its text and exit status.
struct Tool_answer {
  std::string text;
  int status = 0;
};

// Replaces the launcher and reader of `wrapper`: each start is recorded in `*commands` and
// answered with the next of `answers` (the last one repeats). The launcher hands out a stream
// that the replaced reader never touches.
inline void script_tool(Ping::Wrapper& wrapper, std::vector<Tool_answer> answers,
                        std::shared_ptr<std::vector<std::string>> commands) {
  auto next = std::make_shared<std::size_t>(0);
  auto shared_answers = std::make_shared<std::vector<Tool_answer>>(std::move(answers));
  wrapper.set_command_launcher([commands](const std::string& command, Pipe_registry&) {
    commands->push_back(command);
    return stderr;
  });
  wrapper.set_command_reader([next, shared_answers](FILE*, int& status) {
    const Tool_answer& answer = (*shared_answers)[std::min(*next, shared_answers->size() - 1)];
    ++*next;
    status = answer.status;
    return answer.text;
  });
}

// The text the tool prints for `probes` answered probes from `address`, one hop line.
inline std::string replies_text(const std::string& address, int probes, double first_time = 0.5) {
  std::string text = "ping to " + address + " (" + address + "), 128 hops max, 60 byte packets\n";
  text += "128  " + address;
  for (int i = 0; i < probes; ++i) {
    char time[32];
    std::snprintf(time, sizeof time, "  %.3f ms", first_time + i);
    text += time;
  }
  return text + "\nDuration: 12.500\n";
}

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_SUPPORT_SCRIPTED_PING_H_
