// Stand-ins for the native tools in unit tests: a tool folder holding empty executables (so that
// the wrappers' existence checks pass) and scripted command hooks that record every command line
// and answer with a prepared text and exit status.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_FAKE_TOOLS_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_FAKE_TOOLS_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "frame/exception.h"
#include "frame/system.h"
#include "wrapper/test_result.h"
#include "wrapper/test_result_access.h"
#include "wrapper/wrapper.h"

namespace Network_tools::testing_support {

// A temporary folder with empty QV_dig and QV_delv files; removed with the object.
class Tool_folder {
 public:
  Tool_folder() {
    char pattern[] = "/tmp/fake_tools_XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = std::string(pattern) + "/";
    for (const char* name : {"QV_dig", "QV_delv"}) std::ofstream(path_ + name) << "";
  }
  ~Tool_folder() { std::filesystem::remove_all(path_); }
  Tool_folder(const Tool_folder&) = delete;
  Tool_folder& operator=(const Tool_folder&) = delete;

  // With a trailing "/", as parameter sets expect.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// What a scripted tool prints and how it ends.
struct Reply {
  std::string text;
  int exit_status = 0;
};

// Replaces a wrapper's launcher and reader: every command line is recorded, and `answer`
// decides what the command printed. Commands may run on several threads at once.
struct Scripted_tools {
  // A deque: the launcher hands out the address of its command as the stream, which must stay.
  std::deque<std::string> commands;
  std::function<Reply(const std::string& command)> answer;

  void install(Wrapper& wrapper) {
    wrapper.set_command_launcher([this](const std::string& command, Pipe_registry&) {
      std::lock_guard lock(mutex_);
      commands.push_back(command);
      // A token only: the scripted reader never reads it as a stream.
      return reinterpret_cast<FILE*>(&commands.back());
    });
    wrapper.set_command_reader([this](FILE* stream, int& exit_status) {
      const Reply reply = answer(*reinterpret_cast<const std::string*>(stream));
      exit_status = reply.exit_status;
      return reply.text;
    });
  }

 private:
  std::mutex mutex_;
};

// The text of a file recorded under tests/data/.
inline std::string recorded(const std::string& name) {
  std::ifstream file(std::string(NT_TEST_DATA_DIR) + "/" + name);
  if (!file) throw std::runtime_error("missing test data " + name);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A value of the result document as text, by a short path: "S:key" for the step's "OtherData",
// "R:key" for the result's, "M2:key" for the "MetricData" of metric 2. Integers are written in
// decimal; a missing value reads "<absent>".
inline std::string value_at(const rapidjson::Value& root, const std::string& path) {
  using namespace test_result_access;
  const std::size_t colon = path.find(':');
  const std::string level = path.substr(0, colon);
  const std::string key = path.substr(colon + 1);
  const rapidjson::Value* object = nullptr;
  if (level == "S" || level == "R") {
    object = find_object(find_level(root, 0, level == "S" ? 0 : -1, -1), "OtherData");
  } else {
    object = find_level(root, 0, 0, std::stoi(level.substr(1)));
  }
  if (object == nullptr || !object->IsObject() || !object->HasMember(key.c_str())) {
    return "<absent>";
  }
  const rapidjson::Value& value = (*object)[key.c_str()];
  if (value.IsString()) return value.GetString();
  return value.IsInt() ? std::to_string(value.GetInt()) : "<other>";
}
inline std::string value_at(const TestResult& result, const std::string& path) {
  return value_at(result.document(), path);
}

// The `Network_tools::exception` that `action` throws; a test failure when it throws none.
template <typename Action>
exception thrown_by(Action action) {
  try {
    action();
  } catch (const exception& error) {
    return error;
  }
  ADD_FAILURE() << "nothing was thrown";
  return exception("<nothing thrown>", -1, "");
}

// A tool built from the command line `line` (words separated by single blanks, the program name
// first), with `rest` after the logger: from_command_line<Dig::Wrapper>("dig_wrapper -t a x",
// logger, "").
template <typename Tool, typename... Rest>
std::unique_ptr<Tool> from_command_line(const std::string& line, Logger& logger, Rest&&... rest) {
  std::vector<std::string> words = split(line, ' ');
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return std::make_unique<Tool>(static_cast<int>(words.size()), argv.data(), logger,
                                std::forward<Rest>(rest)...);
}

// The JSON input document with these capabilities and settings, on one line.
inline std::string input_document(const std::string& capabilities,
                                  const std::string& settings = "") {
  return R"({"Capabilities":{)" + capabilities + R"(},"Settings":{)" + settings + "}}\n";
}

// The number of metrics of step 0.
inline std::size_t metric_count(const TestResult& result) {
  const rapidjson::Value* array = test_result_access::find_array(
      test_result_access::find_level(result.document(), 0, 0, -1), "Metrics");
  return array == nullptr ? 0 : array->Size();
}

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_SUPPORT_FAKE_TOOLS_H_
