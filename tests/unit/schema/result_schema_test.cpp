// The JSON Schemas of the result documents (schema/): they know every error key the tools can
// write, and they refuse a recorded lab result once a key is misspelt, a value has the wrong
// type or a mandatory entry is missing. That every document the lab tests produce conforms is
// checked where the lab tests produce them.
#include "support/result_schema.h"

#include <gtest/gtest.h>
#include <rapidjson/pointer.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "dig/errors.h"
#include "dns_experience/errors.h"
#include "ping/errors.h"
#include "wrapper/json_access.h"

namespace Network_tools {
namespace {

using testing_support::schema_violation;

// The keys of the enum at `pointer` in schema/`tool`.schema.json.
std::set<std::string> enum_of(const std::string& tool, const char* pointer) {
  const rapidjson::Value* list = rapidjson::Pointer(pointer).Get(
      testing_support::result_schema_internal::schema_of(tool).source);
  std::set<std::string> keys;
  if (list == nullptr || !list->IsArray()) return keys;
  for (const auto& key : list->GetArray()) keys.insert(key.GetString());
  return keys;
}

// Every key that `err_to_string` gives for the codes a tool uses (and the unknown ones).
template <typename Code, typename To_string>
std::set<std::string> keys_of(To_string to_string) {
  std::set<std::string> keys;
  for (int code = -2; code <= 12000; ++code) keys.insert(to_string(static_cast<Code>(code)));
  return keys;
}

TEST(ResultSchema, KnowsEveryErrorKeyOfTheTools) {
  const auto dns = keys_of<DNS_experience::err_t>(DNS_experience::err_to_string);
  const auto dig = keys_of<Dig::err_t>(Dig::err_to_string);
  const auto ping = keys_of<Ping::err_t>(Ping::err_to_string);
  // The schema's keys, and the keys a tool writes there (a test error is never "none").
  const std::vector<std::tuple<std::string, const char*, std::set<std::string>, bool>> lists = {
      {"dns_experience", "/definitions/test_error/enum", dns, false},
      {"dns_experience", "/definitions/test_error/enum", dig, false},
      {"dns_experience", "/definitions/status/enum", dig, true},
      {"dns_experience", "/definitions/ping_error/enum", ping, false},
      {"dig_wrapper", "/definitions/status/enum", dig, true},
      {"dig_wrapper", "/definitions/error/enum", dig, false},
      {"ping_wrapper", "/definitions/error/enum", ping, false},
  };
  for (const auto& [tool, pointer, keys, with_none] : lists) {
    const std::set<std::string> known = enum_of(tool, pointer);
    EXPECT_FALSE(known.empty()) << tool << pointer;
    for (const std::string& key : keys) {
      if (!with_none && key.ends_with(".error.none")) continue;
      EXPECT_TRUE(known.count(key)) << key << " missing from " << tool << pointer;
    }
  }
}

TEST(ResultSchema, RefusesAWrongKeyTypeOrMissingEntry) {
  // A change of a recorded result: where (a JSON pointer below its result, "/MonitorResults/0"),
  // and a new member or value there, or (null) a removal.
  struct Change {
    std::string tool;
    std::string pointer;
    const char* value;
  };
  const std::string empty_step = R"({"Metrics":[],"OtherData":{},"PageResults":{}})";
  const std::vector<Change> changes = {
      {"dns_experience", "/StepResults/1/Metrics/1/MetricData/qv-dns.results.sever.port", "53"},
      {"dns_experience", "/StepResults/1/Metrics/1/MetricData/qv-dns.results.duration.ms", "\"2\""},
      {"dns_experience", "/StepResults/1/Metrics/0/MetricData/qv-dns.results.answer.ttl", nullptr},
      {"dns_experience", "/StepResults/2/OtherData/qv-dns.results.level-id.number", nullptr},
      {"dns_experience", "/StepResults/2/OtherData/qv-dns.results.level-id.number", "17"},
      {"dns_experience", "/OtherData/qv-dns.results.duration.ms", nullptr},
      {"dns_experience", "/OtherData/common.results.error-code",
       "\"qv-dns.results.error.nxdomain\""},
      {"dns_experience", "/StepResults/4", empty_step.c_str()},
      {"dig_wrapper", "/StepResults/0/OtherData/qv-dns.results.protocol", "\"QUIC\""},
      {"dig_wrapper", "/StepResults/0/OtherData/qv-dns.results.question.name", nullptr},
      {"dig_wrapper", "/StepResults/1", empty_step.c_str()},
      {"ping_wrapper", "/StepResults/0/Metrics/2/MetricData/qv-ping.results.rtt", "0.004"},
      {"ping_wrapper", "/StepResults/0/OtherData/qv-ping.results.duration.ms", nullptr},
      {"ping_wrapper", "/OtherData/common.results.host.name", "\"x\""},
  };
  const std::vector<std::pair<std::string, std::string>> recorded = {
      {"dns_experience", "result_cached_alias.json"},
      {"dig_wrapper", "result_dig.json"},
      {"ping_wrapper", "result_ping.json"}};
  for (const auto& [tool, file] : recorded) {
    std::ifstream stream(std::string(NT_TEST_DATA_DIR) + "/" + file);
    const std::string text((std::istreambuf_iterator<char>(stream)), {});
    ASSERT_EQ(schema_violation(tool, text), "") << file;
    for (const Change& change : changes) {
      if (change.tool != tool) continue;
      rapidjson::Document document;
      ASSERT_EQ(parse_JSON(document, text), "");
      const rapidjson::Pointer where(("/MonitorResults/0" + change.pointer).c_str());
      if (change.value == nullptr) {
        ASSERT_TRUE(where.Erase(document)) << change.pointer;
      } else {
        rapidjson::Document value(&document.GetAllocator());
        value.Parse(change.value);
        where.Set(document, value);
      }
      EXPECT_NE(schema_violation(tool, JSON_to_string(document)), "") << change.pointer;
    }
  }
}

}  // namespace
}  // namespace Network_tools
