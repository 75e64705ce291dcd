// Typed reading and compact writing of JSON values from the input document.
#ifndef NETWORK_TOOLS_WRAPPER_JSON_ACCESS_H_
#define NETWORK_TOOLS_WRAPPER_JSON_ACCESS_H_

#include <rapidjson/document.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace Network_tools {

// Nesting beyond this many arrays and objects is refused: a test document needs about ten.
inline constexpr std::size_t max_JSON_depth = 64;

// Parses `text` into `document` without recursion, so that no nesting can exhaust the stack,
// refusing invalid UTF-8 and more than `max_JSON_depth` levels of nesting. Returns "" on
// success, otherwise RapidJSON's English message ("Invalid value.", "Invalid encoding in
// string.") or "The document is nested too deeply."; `document` is then left as it was.
std::string parse_JSON(rapidjson::Document& document, std::string_view text);

// The value of a JSON true or false; throws std::invalid_argument("Bool") for anything else.
bool GetBool(const rapidjson::Value& value);

// The value of a JSON integer that fits an int; throws std::invalid_argument("Int") otherwise
// (also for 5.0 and for 2147483648).
int GetInt(const rapidjson::Value& value);

// The text of a JSON string; throws std::invalid_argument("String") otherwise.
std::string GetString(const rapidjson::Value& value);

// The value as compact JSON text ({"a":[1,2]}), numbers at full precision.
std::string JSON_to_string(const rapidjson::Value& value);

// The name of the value's JSON type for messages: "Null", "Bool", "Object", "Array", "String"
// or "Number".
std::string JSON_type_name(const rapidjson::Value& value);

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_WRAPPER_JSON_ACCESS_H_
