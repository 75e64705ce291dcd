// The JSON test-result document that every tool prints.
#ifndef NETWORK_TOOLS_WRAPPER_TEST_RESULT_H_
#define NETWORK_TOOLS_WRAPPER_TEST_RESULT_H_

#include <rapidjson/document.h>

#include <string>

#include "frame/logger.h"

namespace Network_tools {

// The result document:
//   {"MonitorResults":[{"StepResults":[{"Metrics":[{"MetricData":{...}}, ...],
//                                       "OtherData":{...},"PageResults":{}}, ...],
//                       "OtherData":{...}}, ...],
//    "OtherData":{...}}
// Entries are addressed by (result, step, metric) indices. A negative result index names the
// whole test (the root), a negative step index the result, a negative metric index the step.
// Writing operations grow the document on demand: results, steps and metrics are appended,
// each with its empty skeleton, until the index exists. Misuse and malformed imported
// documents throw `Network_tools::exception` with code 0 and no JSON.
class TestResult {
 public:
  // A document with one result holding one step.
  explicit TestResult(Logger& logger);
  virtual ~TestResult() = default;
  TestResult(const TestResult&) = delete;
  TestResult& operator=(const TestResult&) = delete;

  // Resets the document to the root skeleton plus one result with one step.
  void initialize_JSON_object();
  // Appends an empty result.
  void add_result();
  // Appends an empty step to result `result`, which must exist.
  void add_step(int result);

  // The object of the named level (root, result, step, or a metric's "MetricData"), grown to
  // exist.
  rapidjson::Value* retrieve_data_level_pointer(int result, int step, int metric);

  // Writes `key` into the metric, replacing an existing value in place.
  void add_metric_data(const std::string& key, bool value, int result, int step, int metric);
  void add_metric_data(const std::string& key, const std::string& value, int result, int step,
                       int metric);
  void add_metric_data(const std::string& key, const char* value, int result, int step, int metric);
  void add_metric_data(const std::string& key, int value, int result, int step, int metric);
  void add_metric_data(const std::string& key, unsigned int value, int result, int step,
                       int metric);
  void add_metric_data(const std::string& key, unsigned long value, int result, int step,
                       int metric);
  void add_metric_data(const std::string& key, float value, int result, int step, int metric);

  // Appends a metric whose "MetricData" is a copy of `value` to the step.
  void push_back_metric_data(const rapidjson::Value& value, int result, int step);

  // Appends `text` to the string under `key` (adding it when absent); throws when the value
  // there is not a string.
  void append_string_to_metric_data(const std::string& key, const std::string& text, int result,
                                    int step, int metric);

  // Writes `key` into the "OtherData" of the level (metric index -1 is implied).
  void add_other_data(const std::string& key, const std::string& value, int result, int step);
  void add_other_data(const std::string& key, const char* value, int result, int step);
  void add_other_data(const std::string& key, int value, int result, int step);
  void add_other_data(const std::string& key, unsigned int value, int result, int step);
  void add_other_data(const std::string& key, unsigned long value, int result, int step);
  void add_other_data(const std::string& key, float value, int result, int step);
  void add_other_data(const std::string& key, bool value, int result, int step);

  // Removes `key` from the level's "OtherData" (nothing when absent). The object's last member
  // takes the removed member's place.
  void remove_other_data(const std::string& key, int result, int step);

  // The string under `key` in the level's "OtherData", or "" (absent, or not a string).
  std::string retrieve_error(const std::string& key, int result, int step);

  // The number of metrics of a step.
  int get_metrics_count(int result, int step);

  // Presence checks; they never grow the document.
  bool check_metric_data_presence(const std::string& key, int result, int step, int metric) const;
  bool check_other_data_presence(const std::string& key, int result, int step) const;

  // Renames every key in the document that contains `from`: its first occurrence becomes `to`.
  void change_option_key_pattern(const std::string& from, const std::string& to);

  // Copies every member of a metric of `source` into a metric of this document, replacing
  // members with the same key. Only strings, booleans and numbers can be merged.
  void merge_metric_data(TestResult& source, int source_result, int source_step, int source_metric,
                         int result, int step, int metric);

  // Replaces the document with the one in `text`, a JSON text in double quotes (backslash
  // escapes) or a bare word. The document must hold a non-empty "MonitorResults" whose first
  // result has a non-empty "StepResults" and "OtherData" and whose first step has "OtherData".
  // On any failure the old document is kept.
  void import(const std::string& text);

  // Compact JSON; numbers with a fraction have at most three decimals.
  std::string to_string() const;

  // The whole document, for reading.
  const rapidjson::Document& document() const { return document_; }

 private:
  // Adds or replaces `key` in `object`, keeping the position of an existing member.
  void set_member(rapidjson::Value& object, const std::string& key, rapidjson::Value& value);
  // Writes `value` under `key` into the metric object.
  void set_metric(const std::string& key, rapidjson::Value value, int result, int step, int metric);
  // Writes `value` under `key` into the level's "OtherData".
  void set_other(const std::string& key, rapidjson::Value value, int result, int step);

  Logger& logger_;
  rapidjson::Document document_;
};

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_WRAPPER_TEST_RESULT_H_
