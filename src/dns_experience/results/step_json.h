// Mandatory-member access to the JSON documents of the DNS experience engine, and the reshaping
// of a dig step result before it enters the results model.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_RESULTS_STEP_JSON_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_RESULTS_STEP_JSON_H_

#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "wrapper/test_result.h"

namespace Network_tools::DNS_experience {

// Keys of a step that the engine reads and writes in several places.
inline const std::string error_code_key = "common.results.error-code";
inline const std::string status_key = "qv-dns.results.status";
inline const std::string duration_key = "qv-dns.results.duration.ms";
inline const std::string duration_us_key = "qv-dns.results.duration.us";
inline const std::string server_name_key = "qv-dns.results.server.name";
inline const std::string server_address_key = "qv-dns.results.server.address";

// Throws the engine's structural fault: `Network_tools::exception` with `message`, code 1003
// (`err_t::internal_error`) and no JSON.
[[noreturn]] void throw_structural_fault(const std::string& message);

// The member `name` of the object `value`. Throws a structural fault "Missing mandatory field "
// + name when it is absent, or when `value` is no object at all.
rapidjson::Value::MemberIterator get_mandatory_json_iterator(rapidjson::Value& value,
                                                             const std::string& name);
rapidjson::Value::ConstMemberIterator get_mandatory_json_iterator(const rapidjson::Value& value,
                                                                  const std::string& name);

// The integer or string member `name` of the object `value`. Throws the structural fault "Missing
// mandatory field " + name when it is absent or of another type.
int mandatory_int(const rapidjson::Value& value, const std::string& name);
std::string mandatory_text(const rapidjson::Value& value, const std::string& name);

// The text of the string member `key` of `object`; "" when `object` is no object or the member
// is absent or no string.
std::string text_member(const rapidjson::Value& object, const std::string& key);

// The "MetricData" objects of the entries of the array `metrics`, in order. Entries of another
// shape give none, and so does a `metrics` that is no array.
std::vector<const rapidjson::Value*> metric_data_objects(const rapidjson::Value& metrics);

// Adds or replaces `key` in `object`, keeping the place of an existing member.
void set_member(rapidjson::Value& object, const std::string& key, rapidjson::Value value,
                rapidjson::Document::AllocatorType& allocator);

// True when the metric data `data` is a server entry (it names the server or its address)
// rather than a record.
bool is_server_entry(const rapidjson::Value& data);

// Moves the server details of the first step of a dig `result` (server name and address, port,
// received bytes, duration, id, status, flags) from its "OtherData" into a new metric entry of
// that step, so that a group can gather one such entry per server. The duration stays in
// "OtherData" too, for the test total; a response `from_cache` took 0 ms.
void move_server_detail_to_metrics(TestResult& result, bool from_cache);

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_RESULTS_STEP_JSON_H_
