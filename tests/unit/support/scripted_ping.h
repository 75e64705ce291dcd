// Helpers for ping unit tests: a tool folder whose QV_traceroute exists, so that the wrapper's
// check for the executable passes while scripted hooks answer for it, and the ping's metrics.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_SCRIPTED_PING_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_SCRIPTED_PING_H_

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/fake_tools.h"

namespace Network_tools::testing_support {

// A `Tool_folder` that also holds an empty QV_traceroute.
class Ping_tool_folder : public Tool_folder {
 public:
  Ping_tool_folder() { std::ofstream(traceroute()) << ""; }
  ~Ping_tool_folder() { unlink(traceroute().c_str()); }

 private:
  std::string traceroute() const { return path() + "QV_traceroute"; }
};

// `key` of every metric of step 0, in order; "<absent>" where a metric lacks it.
inline std::vector<std::string> metric_values(const rapidjson::Value& result,
                                              const std::string& key = "qv-ping.results.rtt") {
  const rapidjson::Value* metrics =
      test_result_access::find_array(test_result_access::find_level(result, 0, 0, -1), "Metrics");
  std::vector<std::string> values;
  for (rapidjson::SizeType at = 0; metrics != nullptr && at < metrics->Size(); ++at) {
    values.push_back(value_at(result, "M" + std::to_string(at) + ":" + key));
  }
  return values;
}
inline std::vector<std::string> metric_values(const TestResult& result,
                                              const std::string& key = "qv-ping.results.rtt") {
  return metric_values(result.document(), key);
}

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_SUPPORT_SCRIPTED_PING_H_
