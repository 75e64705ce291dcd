// The check of a printed result document against the JSON Schema of the tool that printed it
// (schema/TOOL.schema.json), with RapidJSON's validator. Tests that run a tool call it on
// whatever the tool printed as JSON, results and error results alike.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_RESULT_SCHEMA_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_RESULT_SCHEMA_H_

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/pointer.h>
#include <rapidjson/schema.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>

namespace Network_tools::testing_support {

namespace result_schema_internal {

inline std::string pointer_text(const rapidjson::Pointer& pointer) {
  rapidjson::StringBuffer text;
  pointer.Stringify(text);
  return text.GetString();
}

inline std::string compact(const rapidjson::Value& value, std::size_t limit = 400) {
  rapidjson::StringBuffer text;
  rapidjson::Writer<rapidjson::StringBuffer> writer(text);
  value.Accept(writer);
  const std::string all = text.GetString();
  return all.size() > limit ? all.substr(0, limit) + "..." : all;
}

// The schema of `tool`, read and compiled once.
struct Compiled_schema {
  rapidjson::Document source;
  std::unique_ptr<rapidjson::SchemaDocument> schema;
};

inline const Compiled_schema& schema_of(const std::string& tool) {
  static std::mutex guard;
  static std::map<std::string, Compiled_schema> schemas;
  const std::lock_guard<std::mutex> lock(guard);
  Compiled_schema& compiled = schemas[tool];
  if (compiled.schema) return compiled;
  const std::string path = std::string(NT_SOURCE_DIR) + "/schema/" + tool + ".schema.json";
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  compiled.source.Parse(text.str().c_str());
  if (!file || compiled.source.HasParseError()) {
    throw std::runtime_error("cannot read the JSON Schema " + path);
  }
  compiled.schema = std::make_unique<rapidjson::SchemaDocument>(compiled.source);
  return compiled;
}

}  // namespace result_schema_internal

// "" when `text` is a JSON document that conforms to schema/`tool`.schema.json; otherwise what
// is wrong and where, for a test failure message. Example:
//   EXPECT_EQ(schema_violation("dig_wrapper", run.out), "");
inline std::string schema_violation(const std::string& tool, const std::string& text) {
  using namespace result_schema_internal;
  rapidjson::Document document;
  document.Parse(text.c_str(), text.size());
  if (document.HasParseError()) {
    return std::string("not JSON: ") + rapidjson::GetParseError_En(document.GetParseError()) +
           " at offset " + std::to_string(document.GetErrorOffset());
  }
  const Compiled_schema& compiled = schema_of(tool);
  rapidjson::SchemaValidator validator(*compiled.schema);
  if (document.Accept(validator)) return "";

  // The validator names the innermost value and rule that failed; the value shows the rest.
  const rapidjson::Pointer where = validator.GetInvalidDocumentPointer();
  const rapidjson::Value* value = where.Get(document);
  return "#" + pointer_text(where) + " breaks \"" + validator.GetInvalidSchemaKeyword() + "\" of " +
         tool + ".schema.json#" + pointer_text(validator.GetInvalidSchemaPointer()) +
         (value == nullptr ? "" : "\nvalue: " + compact(*value));
}

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_SUPPORT_RESULT_SCHEMA_H_
