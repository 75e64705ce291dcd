// Mandatory-member access to the JSON documents of the DNS experience engine, and the reshaping
// of a dig step result before it enters the results model.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_RESULTS_STEP_JSON_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_RESULTS_STEP_JSON_H_

#include <rapidjson/document.h>

#include <string>

#include "wrapper/test_result.h"

namespace Network_tools::DNS_experience {

// Throws the engine's structural fault: `Network_tools::exception` with `message`, code 1003
// (`err_t::internal_error`) and no JSON.
[[noreturn]] void throw_structural_fault(const std::string& message);

// The member `name` of the object `value`. Throws a structural fault "Missing mandatory field "
// + name when it is absent, or when `value` is no object at all.
rapidjson::Value::MemberIterator get_mandatory_json_iterator(rapidjson::Value& value,
                                                             const std::string& name);
rapidjson::Value::ConstMemberIterator get_mandatory_json_iterator(const rapidjson::Value& value,
                                                                  const std::string& name);

// Moves the server details of the first step of a dig `result` (server name and address, port,
// received bytes, duration, id, status, flags) from its "OtherData" into a new metric entry of
// that step, so that a group can gather one such entry per server. The duration stays in
// "OtherData" too, for the test total; a response `from_cache` took 0 ms.
void move_server_detail_to_metrics(TestResult& result, bool from_cache);

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_RESULTS_STEP_JSON_H_
