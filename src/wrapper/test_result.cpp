// Building, addressing and writing the test-result document.
#include "wrapper/test_result.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "frame/exception.h"
#include "wrapper/test_result_access.h"

namespace Network_tools {

using namespace test_result_access;

TestResult::TestResult(Logger& logger) : logger_(logger) {
  initialize_JSON_object();
}

void TestResult::initialize_JSON_object() {
  auto& allocator = document_.GetAllocator();
  document_.SetObject();
  document_.AddMember("MonitorResults", rapidjson::Value(rapidjson::kArrayType), allocator);
  document_.AddMember("OtherData", rapidjson::Value(rapidjson::kObjectType), allocator);
  add_result();
  add_step(0);
}

void TestResult::add_result() {
  rapidjson::Value* results = find_array(document_, "MonitorResults");
  if (results == nullptr) fail("Missing MonitorResults");
  auto& allocator = document_.GetAllocator();
  rapidjson::Value result(rapidjson::kObjectType);
  result.AddMember("StepResults", rapidjson::Value(rapidjson::kArrayType), allocator);
  result.AddMember("OtherData", rapidjson::Value(rapidjson::kObjectType), allocator);
  results->PushBack(result, allocator);
}

void TestResult::add_step(int result) {
  rapidjson::Value* results = find_array(document_, "MonitorResults");
  if (results == nullptr) fail("Missing MonitorResults");
  if (result < 0 || static_cast<rapidjson::SizeType>(result) >= results->Size()) {
    fail("Missing results in pos " + std::to_string(result));
  }
  rapidjson::Value* steps = find_array((*results)[result], "StepResults");
  if (steps == nullptr) fail("Missing StepResults");
  auto& allocator = document_.GetAllocator();
  rapidjson::Value step(rapidjson::kObjectType);
  step.AddMember("Metrics", rapidjson::Value(rapidjson::kArrayType), allocator);
  step.AddMember("OtherData", rapidjson::Value(rapidjson::kObjectType), allocator);
  step.AddMember("PageResults", rapidjson::Value(rapidjson::kObjectType), allocator);
  steps->PushBack(step, allocator);
}

rapidjson::Value* TestResult::retrieve_data_level_pointer(int result, int step, int metric) {
  if (result < 0) return &document_;
  rapidjson::Value* results = find_array(document_, "MonitorResults");
  if (results == nullptr) fail("Missing MonitorResults");
  while (results->Size() <= static_cast<rapidjson::SizeType>(result)) add_result();
  rapidjson::Value& result_object = (*results)[result];
  if (step < 0) return &result_object;

  rapidjson::Value* steps = find_array(result_object, "StepResults");
  if (steps == nullptr) fail("Missing StepResults" + at(result));
  while (steps->Size() <= static_cast<rapidjson::SizeType>(step)) add_step(result);
  rapidjson::Value& step_object = (*steps)[step];
  if (metric < 0) return &step_object;

  rapidjson::Value* metrics = find_array(step_object, "Metrics");
  if (metrics == nullptr) fail("Missing Metrics" + at(result, step));
  auto& allocator = document_.GetAllocator();
  while (metrics->Size() <= static_cast<rapidjson::SizeType>(metric)) {
    rapidjson::Value empty_metric(rapidjson::kObjectType);
    empty_metric.AddMember("MetricData", rapidjson::Value(rapidjson::kObjectType), allocator);
    metrics->PushBack(empty_metric, allocator);
  }
  rapidjson::Value* data = find_object((*metrics)[metric], "MetricData");
  if (data == nullptr) fail("Missing MetricData" + at(result, step, metric));
  return data;
}

void TestResult::set_member(rapidjson::Value& object, const std::string& key,
                            rapidjson::Value& value) {
  if (!object.IsObject()) fail("Attempt to write key " + key + " into a value that is no object");
  if (auto member = object.FindMember(key_ref(key)); member != object.MemberEnd()) {
    member->value = value;
    return;
  }
  auto& allocator = document_.GetAllocator();
  object.AddMember(
      rapidjson::Value(key.data(), static_cast<rapidjson::SizeType>(key.size()), allocator), value,
      allocator);
}

void TestResult::set_metric(const std::string& key, rapidjson::Value value, int result, int step,
                            int metric) {
  set_member(*retrieve_data_level_pointer(result, step, metric), key, value);
}

void TestResult::set_other(const std::string& key, rapidjson::Value value, int result, int step) {
  rapidjson::Value* other =
      find_object(*retrieve_data_level_pointer(result, step, -1), "OtherData");
  if (other == nullptr) {
    fail("Attempt to add OtherData with key " + key + " at result ID " + std::to_string(result) +
         ", step ID " + std::to_string(step) + ", with no OtherData available");
  }
  set_member(*other, key, value);
}

void TestResult::add_metric_data(const std::string& key, bool value, int result, int step,
                                 int metric) {
  set_metric(key, rapidjson::Value(value), result, step, metric);
}

void TestResult::add_metric_data(const std::string& key, const std::string& value, int result,
                                 int step, int metric) {
  set_metric(key, string_value(value, document_.GetAllocator()), result, step, metric);
}

void TestResult::add_metric_data(const std::string& key, const char* value, int result, int step,
                                 int metric) {
  add_metric_data(key, std::string(value == nullptr ? "" : value), result, step, metric);
}

void TestResult::add_metric_data(const std::string& key, int value, int result, int step,
                                 int metric) {
  set_metric(key, rapidjson::Value(value), result, step, metric);
}

void TestResult::add_metric_data(const std::string& key, unsigned int value, int result, int step,
                                 int metric) {
  set_metric(key, rapidjson::Value(value), result, step, metric);
}

void TestResult::add_metric_data(const std::string& key, unsigned long value, int result, int step,
                                 int metric) {
  set_metric(key, rapidjson::Value(static_cast<uint64_t>(value)), result, step, metric);
}

void TestResult::add_metric_data(const std::string& key, float value, int result, int step,
                                 int metric) {
  set_metric(key, rapidjson::Value(static_cast<double>(value)), result, step, metric);
}

void TestResult::add_other_data(const std::string& key, const std::string& value, int result,
                                int step) {
  set_other(key, string_value(value, document_.GetAllocator()), result, step);
}

void TestResult::add_other_data(const std::string& key, const char* value, int result, int step) {
  add_other_data(key, std::string(value == nullptr ? "" : value), result, step);
}

void TestResult::add_other_data(const std::string& key, int value, int result, int step) {
  set_other(key, rapidjson::Value(value), result, step);
}

void TestResult::add_other_data(const std::string& key, unsigned int value, int result, int step) {
  set_other(key, rapidjson::Value(value), result, step);
}

void TestResult::add_other_data(const std::string& key, unsigned long value, int result, int step) {
  set_other(key, rapidjson::Value(static_cast<uint64_t>(value)), result, step);
}

void TestResult::add_other_data(const std::string& key, float value, int result, int step) {
  set_other(key, rapidjson::Value(static_cast<double>(value)), result, step);
}

void TestResult::add_other_data(const std::string& key, bool value, int result, int step) {
  set_other(key, rapidjson::Value(value), result, step);
}

void TestResult::remove_other_data(const std::string& key, int result, int step) {
  rapidjson::Value* other =
      find_object(*retrieve_data_level_pointer(result, step, -1), "OtherData");
  if (other == nullptr) {
    fail("Attempt to remove OtherData with key " + key + " at result ID " + std::to_string(result) +
         ", step ID " + std::to_string(step) + " with no OtherData available");
  }
  // RemoveMember moves the last member into the freed place.
  other->RemoveMember(key_ref(key));
}

void TestResult::append_string_to_metric_data(const std::string& key, const std::string& text,
                                              int result, int step, int metric) {
  rapidjson::Value* data = retrieve_data_level_pointer(result, step, metric);
  auto member = data->FindMember(key_ref(key));
  if (member == data->MemberEnd()) {
    add_metric_data(key, text, result, step, metric);
    return;
  }
  if (!member->value.IsString()) {
    fail("Attempt to append to non-string key " + key + " at result ID " + std::to_string(result) +
         ", step ID " + std::to_string(step) + ", metric ID " + std::to_string(metric) +
         " with no MetricData available");
  }
  const std::string joined =
      std::string(member->value.GetString(), member->value.GetStringLength()) + text;
  member->value = string_value(joined, document_.GetAllocator());
}

void TestResult::push_back_metric_data(const rapidjson::Value& value, int result, int step) {
  rapidjson::Value* metrics = find_array(*retrieve_data_level_pointer(result, step, -1), "Metrics");
  if (metrics == nullptr) fail("Missing Metrics" + at(result, step));
  auto& allocator = document_.GetAllocator();
  rapidjson::Value metric(rapidjson::kObjectType);
  metric.AddMember("MetricData", deep_copy(value, allocator), allocator);
  metrics->PushBack(metric, allocator);
}

std::string TestResult::retrieve_error(const std::string& key, int result, int step) {
  const rapidjson::Value* other = find_object(find_level(document_, result, step, -1), "OtherData");
  if (other == nullptr) return "";
  auto member = other->FindMember(key_ref(key));
  if (member == other->MemberEnd() || !member->value.IsString()) return "";
  return std::string(member->value.GetString(), member->value.GetStringLength());
}

int TestResult::get_metrics_count(int result, int step) {
  const rapidjson::Value* metrics = find_array(find_level(document_, result, step, -1), "Metrics");
  return metrics == nullptr ? 0 : static_cast<int>(metrics->Size());
}

bool TestResult::check_metric_data_presence(const std::string& key, int result, int step,
                                            int metric) const {
  const rapidjson::Value* data = find_level(document_, result, step, metric);
  return data != nullptr && data->IsObject() && data->HasMember(key_ref(key));
}

bool TestResult::check_other_data_presence(const std::string& key, int result, int step) const {
  const rapidjson::Value* other = find_object(find_level(document_, result, step, -1), "OtherData");
  return other != nullptr && other->HasMember(key_ref(key));
}

std::string TestResult::to_string() const {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.SetMaxDecimalPlaces(3);
  document_.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace Network_tools
