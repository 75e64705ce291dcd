// Mandatory members and the move of a dig step's server details into a metric entry.
#include "dns_experience/results/step_json.h"

#include "dns_experience/errors.h"
#include "dns_experience/results/results.h"
#include "frame/exception.h"

namespace Network_tools::DNS_experience {

void throw_structural_fault(const std::string& message) {
  throw exception(message, static_cast<int>(err_t::internal_error), "");
}

namespace {

template <typename Value>
auto find_mandatory(Value& value, const std::string& name) {
  if (!value.IsObject()) throw_structural_fault("Missing mandatory field " + name);
  auto member = value.FindMember(name.c_str());
  if (member == value.MemberEnd()) throw_structural_fault("Missing mandatory field " + name);
  return member;
}

// Server details kept as text; the others are integers.
bool is_text_field(const std::string& key) {
  return key == "qv-dns.results.server.name" || key == "qv-dns.results.server.address" ||
         key == "qv-dns.results.status" || key == "qv-dns.results.flags";
}

}  // namespace

rapidjson::Value::MemberIterator get_mandatory_json_iterator(rapidjson::Value& value,
                                                             const std::string& name) {
  return find_mandatory(value, name);
}

rapidjson::Value::ConstMemberIterator get_mandatory_json_iterator(const rapidjson::Value& value,
                                                                  const std::string& name) {
  return find_mandatory(value, name);
}

int mandatory_int(const rapidjson::Value& value, const std::string& name) {
  const auto member = find_mandatory(value, name);
  if (!member->value.IsInt()) throw_structural_fault("Missing mandatory field " + name);
  return member->value.GetInt();
}

std::string mandatory_text(const rapidjson::Value& value, const std::string& name) {
  const auto member = find_mandatory(value, name);
  if (!member->value.IsString()) throw_structural_fault("Missing mandatory field " + name);
  return std::string(member->value.GetString(), member->value.GetStringLength());
}

std::string text_member(const rapidjson::Value& object, const std::string& key) {
  if (!object.IsObject()) return "";
  const auto member = object.FindMember(key.c_str());
  if (member == object.MemberEnd() || !member->value.IsString()) return "";
  return std::string(member->value.GetString(), member->value.GetStringLength());
}

std::vector<const rapidjson::Value*> metric_data_objects(const rapidjson::Value& metrics) {
  std::vector<const rapidjson::Value*> objects;
  if (!metrics.IsArray()) return objects;
  for (const auto& entry : metrics.GetArray()) {
    if (!entry.IsObject()) continue;
    const auto data = entry.FindMember("MetricData");
    if (data != entry.MemberEnd() && data->value.IsObject()) objects.push_back(&data->value);
  }
  return objects;
}

bool is_server_entry(const rapidjson::Value& data) {
  return data.HasMember("qv-dns.results.server.name") ||
         data.HasMember("qv-dns.results.server.address");
}

void move_server_detail_to_metrics(TestResult& result, bool from_cache) {
  const rapidjson::Value* step = result.retrieve_data_level_pointer(0, 0, -1);
  if (!step->IsObject()) {
    throw_structural_fault(
        "Cannot move server details to metrics. Provided step_result is not a valid JSON object");
  }
  const auto metrics = step->FindMember("Metrics");
  if (metrics == step->MemberEnd() || !metrics->value.IsArray()) {
    throw_structural_fault(
        "Cannot move server details to metrics. No 'Metrics' key found in step_result or it's "
        "not an array.");
  }
  const auto other = step->FindMember("OtherData");
  if (other == step->MemberEnd() || !other->value.IsObject()) {
    throw_structural_fault(
        "Cannot move server details to metrics. No 'OtherData' key found in step_result or it's "
        "not an object.");
  }

  if (from_cache && other->value.HasMember(duration_key.c_str())) {
    result.add_other_data(duration_key, 0, 0, 0);
    result.add_other_data(duration_us_key, 0, 0, 0);
  }
  const int entry = result.get_metrics_count(0, 0);
  result.push_back_metric_data(rapidjson::Value(rapidjson::kObjectType), 0, 0);

  for (const std::string& key : Results::server_fields) {
    // Writing into the document may move its values, so the details are looked up afresh for
    // every key and copied out before they are written.
    const rapidjson::Value& details =
        result.retrieve_data_level_pointer(0, 0, -1)->FindMember("OtherData")->value;
    const auto field = details.FindMember(key.c_str());
    if (field == details.MemberEnd()) continue;
    // A detail of an unexpected type stays where it is rather than being lost.
    if (is_text_field(key)) {
      if (!field->value.IsString()) continue;
      const std::string text(field->value.GetString(), field->value.GetStringLength());
      result.add_metric_data(key, text, 0, 0, entry);
    } else if (key == duration_us_key) {
      if (!field->value.IsUint64()) continue;
      result.add_metric_data(key, static_cast<unsigned long>(field->value.GetUint64()), 0, 0,
                             entry);
    } else {
      if (!field->value.IsInt()) continue;
      result.add_metric_data(key, field->value.GetInt(), 0, 0, entry);
    }
    // The durations stay for the test total too.
    if (key != duration_key && key != duration_us_key) result.remove_other_data(key, 0, 0);
  }
}

void set_member(rapidjson::Value& object, const std::string& key, rapidjson::Value value,
                rapidjson::Document::AllocatorType& allocator) {
  if (auto member = object.FindMember(key.c_str()); member != object.MemberEnd()) {
    member->value = value;
    return;
  }
  object.AddMember(rapidjson::Value(key.c_str(), allocator), value, allocator);
}

}  // namespace Network_tools::DNS_experience
