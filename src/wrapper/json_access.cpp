// Typed JSON accessors.
#include "wrapper/json_access.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <stdexcept>

namespace Network_tools {
namespace {

// Passes the parser's events on to the document being built, and stops the parse when arrays
// and objects nest deeper than `max_JSON_depth`.
class Depth_limited_builder {
 public:
  explicit Depth_limited_builder(rapidjson::Document& document) : document_(document) {}

  bool Null() { return document_.Null(); }
  bool Bool(bool value) { return document_.Bool(value); }
  bool Int(int value) { return document_.Int(value); }
  bool Uint(unsigned value) { return document_.Uint(value); }
  bool Int64(std::int64_t value) { return document_.Int64(value); }
  bool Uint64(std::uint64_t value) { return document_.Uint64(value); }
  bool Double(double value) { return document_.Double(value); }
  bool RawNumber(const char* text, rapidjson::SizeType length, bool copy) {
    return document_.RawNumber(text, length, copy);
  }
  bool String(const char* text, rapidjson::SizeType length, bool copy) {
    return document_.String(text, length, copy);
  }
  bool Key(const char* text, rapidjson::SizeType length, bool copy) {
    return document_.Key(text, length, copy);
  }
  bool StartObject() { return enter() && document_.StartObject(); }
  bool EndObject(rapidjson::SizeType members) {
    --depth_;
    return document_.EndObject(members);
  }
  bool StartArray() { return enter() && document_.StartArray(); }
  bool EndArray(rapidjson::SizeType elements) {
    --depth_;
    return document_.EndArray(elements);
  }

  bool too_deep() const { return too_deep_; }

 private:
  bool enter() {
    too_deep_ = ++depth_ > max_JSON_depth;
    return !too_deep_;
  }

  rapidjson::Document& document_;
  std::size_t depth_ = 0;
  bool too_deep_ = false;
};

}  // namespace

std::string parse_JSON(rapidjson::Document& document, std::string_view text) {
  constexpr unsigned flags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;
  rapidjson::Reader reader;
  Depth_limited_builder builder(document);
  const auto generate = [&](rapidjson::Document&) {
    rapidjson::MemoryStream memory(text.data(), text.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    return !reader.Parse<flags>(input, builder).IsError();
  };
  document.Populate(generate);
  if (!reader.HasParseError()) return "";
  if (builder.too_deep()) return "The document is nested too deeply.";
  return rapidjson::GetParseError_En(reader.GetParseErrorCode());
}

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
