// Dig step results made by hand in the shape the dig wrapper writes them, for feeding the
// results model in tests.
#ifndef NETWORK_TOOLS_TESTS_UNIT_DNS_EXPERIENCE_RESULTS_DIG_STEP_H_
#define NETWORK_TOOLS_TESTS_UNIT_DNS_EXPERIENCE_RESULTS_DIG_STEP_H_

#include <gtest/gtest.h>

#include <string>

#include "frame/exception.h"
#include "wrapper/json_access.h"
#include "wrapper/test_result.h"

namespace Network_tools::DNS_experience::testing {

// One dig query's result: records are metric entries of step 0, the details its "OtherData",
// the test error and duration are at the result level.
class DigStep {
 public:
  DigStep(Logger& logger, int duration_ms) : result_(logger) {
    result_.add_other_data("qv-dns.results.duration.ms", duration_ms, 0, 0);
    result_.add_other_data("qv-dns.results.duration.ms", duration_ms, 0, -1);
  }
  // The server line and the header, as the engine leaves them after a reply.
  DigStep& server(const std::string& name, const std::string& status = "qv-dns.results.error.none",
                  const std::string& flags = "qr aa") {
    for (const char* key : {"qv-dns.results.server.port", "qv-dns.results.id"}) {
      result_.add_other_data(key, 53, 0, 0);
    }
    return other("qv-dns.results.server.name", name)
        .other("qv-dns.results.status", status)
        .other("qv-dns.results.flags", flags);
  }
  // The question and transport every dig result carries.
  DigStep& question(const std::string& name) {
    return other("qv-dns.results.question.class", "IN")
        .other("qv-dns.results.question.name", name)
        .other("qv-dns.results.protocol", "UDP");
  }
  // A record of `section` ("answer", "authority", "additional").
  DigStep& record(const std::string& section, const std::string& name, const std::string& info,
                  int ttl = 300) {
    const std::string prefix = "qv-dns.results." + section;
    const int entry = result_.get_metrics_count(0, 0);
    result_.add_metric_data(prefix + ".name", name, 0, 0, entry);
    result_.add_metric_data(prefix + ".info", info, 0, 0, entry);
    result_.add_metric_data(prefix + ".ttl", ttl, 0, 0, entry);
    return *this;
  }
  // The test error the dig wrapper records before it throws.
  DigStep& error(const std::string& key) {
    result_.add_other_data("common.results.error-code", key, 0, -1);
    return *this;
  }
  DigStep& other(const std::string& key, const std::string& value) {
    result_.add_other_data(key, value, 0, 0);
    return *this;
  }

  TestResult& result() { return result_; }
  const rapidjson::Value& step() { return *result_.retrieve_data_level_pointer(0, 0, -1); }

 private:
  TestResult result_;
};

// The message of the code 1003 `Network_tools::exception` that `action` throws.
template <typename Action>
std::string fault_of(Action action) {
  try {
    action();
  } catch (const exception& error) {
    EXPECT_EQ(error.error_code(), 1003) << error.what();
    return error.what();
  }
  return "no fault";
}

// Member `key` of `object` as compact JSON, or "absent".
inline std::string member(const rapidjson::Value& object, const std::string& key) {
  if (!object.IsObject() || !object.HasMember(key.c_str())) return "absent";
  return JSON_to_string(object[key.c_str()]);
}

}  // namespace Network_tools::DNS_experience::testing

#endif  // NETWORK_TOOLS_TESTS_UNIT_DNS_EXPERIENCE_RESULTS_DIG_STEP_H_
