// Typed JSON accessors.
#include "wrapper/json_access.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <stdexcept>

namespace Network_tools {

bool GetBool(const rapidjson::Value& value) {
  if (!value.IsBool()) throw std::invalid_argument("Bool");
  return value.GetBool();
}

int GetInt(const rapidjson::Value& value) {
  if (!value.IsInt()) throw std::invalid_argument("Int");
  return value.GetInt();
}

std::string GetString(const rapidjson::Value& value) {
  if (!value.IsString()) throw std::invalid_argument("String");
  return std::string(value.GetString(), value.GetStringLength());
}

std::string JSON_to_string(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string JSON_type_name(const rapidjson::Value& value) {
  switch (value.GetType()) {
    case rapidjson::kNullType:
      return "Null";
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      return "Bool";
    case rapidjson::kObjectType:
      return "Object";
    case rapidjson::kArrayType:
      return "Array";
    case rapidjson::kStringType:
      return "String";
    case rapidjson::kNumberType:
      return "Number";
  }
  return "Null";
}

}  // namespace Network_tools
