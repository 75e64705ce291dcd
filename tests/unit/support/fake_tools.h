// Stand-ins for the native tools in unit tests: a tool folder holding empty executables (so that
// the wrappers' existence checks pass) and scripted command hooks that record every command line
// and answer with a prepared text and exit status.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_FAKE_TOOLS_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_FAKE_TOOLS_H_

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

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
  ~Tool_folder() {
    for (const char* name : {"QV_dig", "QV_delv"}) unlink((path_ + name).c_str());
    rmdir(path_.c_str());
  }
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
// decides what the command printed.
struct Scripted_tools {
  std::vector<std::string> commands;
  std::function<Reply(const std::string& command)> answer;

  void install(Wrapper& wrapper) {
    wrapper.set_command_launcher([this](const std::string& command, Pipe_registry&) {
      commands.push_back(command);
      return stdin;  // a token only: the scripted reader never reads it
    });
    wrapper.set_command_reader([this](FILE*, int& exit_status) {
      const Reply reply = answer(commands.back());
      exit_status = reply.exit_status;
      return reply.text;
    });
  }
};

// The text of a file recorded under tests/data/.
inline std::string recorded(const std::string& name) {
  std::ifstream file(std::string(NT_TEST_DATA_DIR) + "/" + name);
  if (!file) throw std::runtime_error("missing test data " + name);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The "OtherData" value `key` at (0, step), or null.
inline const rapidjson::Value* other_data(const TestResult& result, const std::string& key,
                                          int step) {
  using namespace test_result_access;
  const rapidjson::Value* other =
      find_object(find_level(result.document(), 0, step, -1), "OtherData");
  if (other == nullptr) return nullptr;
  const auto member = other->FindMember(key.c_str());
  return member == other->MemberEnd() ? nullptr : &member->value;
}

// The integer under `key` in "OtherData" at (0, step), or -1 when there is none.
inline int other_int(const TestResult& result, const std::string& key, int step) {
  const rapidjson::Value* value = other_data(result, key, step);
  return value != nullptr && value->IsInt() ? value->GetInt() : -1;
}

// The string under `key` in "OtherData" at (0, step), or "<absent>".
inline std::string other_string(const TestResult& result, const std::string& key, int step) {
  const rapidjson::Value* value = other_data(result, key, step);
  return value != nullptr && value->IsString() ? value->GetString() : "<absent>";
}

// The "MetricData" objects of step 0, in order.
inline std::vector<const rapidjson::Value*> metrics(const TestResult& result) {
  using namespace test_result_access;
  std::vector<const rapidjson::Value*> found;
  const rapidjson::Value* array = find_array(find_level(result.document(), 0, 0, -1), "Metrics");
  if (array == nullptr) return found;
  for (const rapidjson::Value& metric : array->GetArray()) {
    found.push_back(find_object(&metric, "MetricData"));
  }
  return found;
}

// Member `key` of a "MetricData" object as text ("<absent>" when missing); numbers in decimal.
inline std::string field(const rapidjson::Value* data, const std::string& key) {
  if (data == nullptr || !data->HasMember(key.c_str())) return "<absent>";
  const rapidjson::Value& value = (*data)[key.c_str()];
  if (value.IsString()) return value.GetString();
  if (value.IsInt()) return std::to_string(value.GetInt());
  return "<other>";
}

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_SUPPORT_FAKE_TOOLS_H_
