// Small helpers for walking the test-result document; internal to the TestResult files.
#ifndef NETWORK_TOOLS_WRAPPER_TEST_RESULT_ACCESS_H_
#define NETWORK_TOOLS_WRAPPER_TEST_RESULT_ACCESS_H_

#include <rapidjson/document.h>

#include <string>

#include "frame/exception.h"
#include "frame/utf8.h"

namespace Network_tools::test_result_access {

// Throws the document's failure: code 0, no JSON.
[[noreturn]] inline void fail(const std::string& message) {
  throw exception(message, 0, "");
}

// " at result ID 1", " at result ID 1, step ID 2", " at result ID 1, step ID 2, metric ID 3".
inline std::string at(int result) {
  return " at result ID " + std::to_string(result);
}
inline std::string at(int result, int step) {
  return at(result) + ", step ID " + std::to_string(step);
}
inline std::string at(int result, int step, int metric) {
  return at(result, step) + ", metric ID " + std::to_string(metric);
}

// A non-owning JSON string for looking up `key` (which may hold any character).
inline rapidjson::Value key_ref(const std::string& key) {
  return rapidjson::Value(
      rapidjson::StringRef(key.data(), static_cast<rapidjson::SizeType>(key.size())));
}

// A JSON string holding a copy of `text`. Bytes that are not UTF-8 (a native tool may print
// any) become U+FFFD: the printed document must stay valid JSON.
inline rapidjson::Value string_value(const std::string& text,
                                     rapidjson::Document::AllocatorType& allocator) {
  if (!is_valid_UTF8(text)) {
    const std::string valid = to_valid_UTF8(text);
    return rapidjson::Value(valid.data(), static_cast<rapidjson::SizeType>(valid.size()),
                            allocator);
  }
  return rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// A copy of `value` that owns all its strings, even those that `value` only refers to
// (rapidjson's own copy keeps such references).
inline rapidjson::Value deep_copy(const rapidjson::Value& value,
                                  rapidjson::Document::AllocatorType& allocator) {
  if (value.IsString()) {
    return rapidjson::Value(value.GetString(), value.GetStringLength(), allocator);
  }
  if (value.IsArray()) {
    rapidjson::Value array(rapidjson::kArrayType);
    for (const auto& item : value.GetArray()) array.PushBack(deep_copy(item, allocator), allocator);
    return array;
  }
  if (value.IsObject()) {
    rapidjson::Value object(rapidjson::kObjectType);
    for (const auto& member : value.GetObject()) {
      object.AddMember(deep_copy(member.name, allocator), deep_copy(member.value, allocator),
                       allocator);
    }
    return object;
  }
  return rapidjson::Value(value, allocator);
}

// Member `name` of `object` when `object` is an object that has it with the wanted type, else
// null. Documents may come from outside (`import`), so every step checks types.
template <typename Value>
Value* find_typed(Value* object, const char* name, rapidjson::Type type) {
  if (object == nullptr || !object->IsObject()) return nullptr;
  auto member = object->FindMember(name);
  if (member == object->MemberEnd() || member->value.GetType() != type) return nullptr;
  return &member->value;
}
inline rapidjson::Value* find_array(rapidjson::Value& object, const char* name) {
  return find_typed(&object, name, rapidjson::kArrayType);
}
inline const rapidjson::Value* find_array(const rapidjson::Value* object, const char* name) {
  return find_typed(object, name, rapidjson::kArrayType);
}
inline rapidjson::Value* find_object(rapidjson::Value& object, const char* name) {
  return find_typed(&object, name, rapidjson::kObjectType);
}
inline const rapidjson::Value* find_object(const rapidjson::Value* object, const char* name) {
  return find_typed(object, name, rapidjson::kObjectType);
}

// Element `index` of `array` when it exists, else null.
inline const rapidjson::Value* element(const rapidjson::Value* array, int index) {
  if (array == nullptr || index < 0 || static_cast<rapidjson::SizeType>(index) >= array->Size()) {
    return nullptr;
  }
  return &(*array)[static_cast<rapidjson::SizeType>(index)];
}

// The level object as the growing lookup would give it, or null where it does not exist yet.
inline const rapidjson::Value* find_level(const rapidjson::Value& root, int result, int step,
                                          int metric) {
  if (result < 0) return &root;
  const rapidjson::Value* result_object = element(find_array(&root, "MonitorResults"), result);
  if (step < 0 || result_object == nullptr) return result_object;
  const rapidjson::Value* step_object = element(find_array(result_object, "StepResults"), step);
  if (metric < 0 || step_object == nullptr) return step_object;
  return find_object(element(find_array(step_object, "Metrics"), metric), "MetricData");
}

}  // namespace Network_tools::test_result_access

#endif  // NETWORK_TOOLS_WRAPPER_TEST_RESULT_ACCESS_H_
