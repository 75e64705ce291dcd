// Operations that move keys and values between test-result documents: renaming, merging and
// importing.
#include <iomanip>
#include <sstream>
#include <vector>

#include "wrapper/json_access.h"
#include "wrapper/test_result.h"
#include "wrapper/test_result_access.h"

namespace Network_tools {

using namespace test_result_access;

namespace {

// Renames the keys of `object` (if it is one) that contain `from`.
void rename_keys(rapidjson::Value* object, const std::string& from, const std::string& to,
                 rapidjson::Document::AllocatorType& allocator) {
  if (object == nullptr) return;
  for (auto& member : object->GetObject()) {
    std::string name = GetString(member.name);
    const std::size_t position = name.find(from);
    if (position == std::string::npos) continue;
    name.replace(position, from.size(), to);
    member.name = string_value(name, allocator);
  }
}

// Renames the keys of the metrics, "OtherData" and "PageResults" of step `s` of result `r`.
void rename_in_step(rapidjson::Value& step, int r, int s, const std::string& from,
                    const std::string& to, rapidjson::Document::AllocatorType& allocator) {
  rapidjson::Value* metrics = find_array(step, "Metrics");
  if (metrics == nullptr) fail("Missing Metrics" + at(r, s));
  for (rapidjson::SizeType m = 0; m < metrics->Size(); ++m) {
    rapidjson::Value* data = find_object((*metrics)[m], "MetricData");
    if (data == nullptr) fail("Missing MetricData" + at(r, s, static_cast<int>(m)));
    rename_keys(data, from, to, allocator);
  }
  rename_keys(find_object(step, "OtherData"), from, to, allocator);
  rename_keys(find_object(step, "PageResults"), from, to, allocator);
}

// Checks that `parent` holds a non-empty array `name`, throwing the import messages otherwise.
const rapidjson::Value& require_filled_array(const rapidjson::Value& parent, const char* name) {
  if (!parent.IsObject() || !parent.HasMember(name)) fail(std::string("Missing ") + name);
  const rapidjson::Value& array = parent[name];
  if (!array.IsArray()) fail(std::string(name) + " is not an array");
  if (array.Empty()) fail(std::string(name) + " is empty");
  return array;
}

}  // namespace

void TestResult::change_option_key_pattern(const std::string& from, const std::string& to) {
  // Every key contains the empty text; renaming them all is never what a caller means.
  if (from.empty()) return;
  auto& allocator = document_.GetAllocator();
  rapidjson::Value* results = find_array(document_, "MonitorResults");
  if (results == nullptr) fail("Missing MonitorResults");
  for (rapidjson::SizeType r = 0; r < results->Size(); ++r) {
    rapidjson::Value& result = (*results)[r];
    rapidjson::Value* steps = find_array(result, "StepResults");
    if (steps == nullptr) fail("Missing StepResults" + at(static_cast<int>(r)));
    for (rapidjson::SizeType s = 0; s < steps->Size(); ++s) {
      rename_in_step((*steps)[s], static_cast<int>(r), static_cast<int>(s), from, to, allocator);
    }
    rename_keys(find_object(result, "OtherData"), from, to, allocator);
  }
  rename_keys(find_object(document_, "OtherData"), from, to, allocator);
}

void TestResult::merge_metric_data(TestResult& source, int source_result, int source_step,
                                   int source_metric, int result, int step, int metric) {
  const rapidjson::Value* source_data = nullptr;
  try {
    source_data = source.retrieve_data_level_pointer(source_result, source_step, source_metric);
  } catch (const exception& error) {
    fail(std::string("Error in source while merging JSON: ") + error.what());
  }

  if (!source_data->IsObject()) {
    fail("Error in source while merging JSON: Missing MetricData" +
         at(source_result, source_step, source_metric));
  }

  // Check everything before changing anything, so that a refused merge leaves no half of it.
  for (const auto& member : source_data->GetObject()) {
    const rapidjson::Value& value = member.value;
    if (value.IsString() || value.IsBool() || value.IsNumber()) continue;
    fail("Attempt to merge unhandled MetricData type member " + GetString(member.name) +
         " which is of type " + JSON_type_name(value) +
         at(source_result, source_step, source_metric));
  }

  // Copied first: growing this document could move the source when both are the same.
  auto& allocator = document_.GetAllocator();
  rapidjson::Value copy = deep_copy(*source_data, allocator);
  rapidjson::Value* data = retrieve_data_level_pointer(result, step, metric);
  for (auto& member : copy.GetObject()) {
    set_member(*data, GetString(member.name), member.value);
  }
}

void TestResult::import(const std::string& text) {
  std::istringstream input(text);
  std::string json;
  input >> std::quoted(json);

  rapidjson::Document imported;
  if (!parse_JSON(imported, json).empty()) fail("Invalid JSON");

  const rapidjson::Value& results = require_filled_array(imported, "MonitorResults");
  const rapidjson::Value& steps = require_filled_array(results[0], "StepResults");
  if (!steps[0].IsObject() || !steps[0].HasMember("OtherData")) {
    fail("Missing OtherData in step results");
  }
  if (!results[0].HasMember("OtherData")) fail("Missing OtherData in monitor results");

  document_.Swap(imported);
  logger_.write(LEVEL_DEBUG, "", "Imported test result document");
}

}  // namespace Network_tools
