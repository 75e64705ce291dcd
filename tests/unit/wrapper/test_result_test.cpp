// The test-result document: growth, replacement, removal, renaming, merging, import and
// number precision.
#include "wrapper/test_result.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "frame/exception.h"
#include "wrapper/json_access.h"

namespace Network_tools {
namespace {

constexpr const char* skeleton =
    R"({"MonitorResults":[{"StepResults":[{"Metrics":[],"OtherData":{},"PageResults":{}}],)"
    R"("OtherData":{}}],"OtherData":{}})";

class TestResultTest : public ::testing::Test {
 protected:
  // The message of the Network_tools::exception that `action` throws.
  template <typename Action>
  static std::string failure(Action action) {
    try {
      action();
    } catch (const exception& error) {
      EXPECT_EQ(error.error_code(), 0);
      EXPECT_FALSE(error.need_JSON_output());
      return error.what();
    }
    return "no failure";
  }

  Logger logger_{LEVEL_ERROR};
  TestResult result_{logger_};
};

TEST_F(TestResultTest, StartsWithOneResultHoldingOneStep) {
  EXPECT_EQ(result_.to_string(), skeleton);
  result_.add_other_data("k", 1, 0, 0);
  result_.initialize_JSON_object();
  EXPECT_EQ(result_.to_string(), skeleton);
}

TEST_F(TestResultTest, WritingGrowsResultsStepsAndMetricsOnDemand) {
  result_.add_metric_data("qv-dns.results.level", 3, 0, 0, 3);
  EXPECT_EQ(result_.get_metrics_count(0, 0), 4);
  EXPECT_EQ(result_.to_string(),
            R"({"MonitorResults":[{"StepResults":[{"Metrics":[{"MetricData":{}},{"MetricData":{}},)"
            R"({"MetricData":{}},{"MetricData":{"qv-dns.results.level":3}}],"OtherData":{},)"
            R"("PageResults":{}}],"OtherData":{}}],"OtherData":{}})");

  result_.add_other_data("x", true, 2, 1);
  const rapidjson::Document& document = result_.document();
  ASSERT_EQ(document["MonitorResults"].Size(), 3u);
  EXPECT_EQ(document["MonitorResults"][1]["StepResults"].Size(), 0u);
  ASSERT_EQ(document["MonitorResults"][2]["StepResults"].Size(), 2u);
  EXPECT_TRUE(document["MonitorResults"][2]["StepResults"][1]["OtherData"]["x"].GetBool());
  EXPECT_EQ(JSON_to_string(document["MonitorResults"][2]["StepResults"][0]),
            R"({"Metrics":[],"OtherData":{},"PageResults":{}})");
}

TEST_F(TestResultTest, NegativeIndicesNameTheEnclosingLevel) {
  result_.add_other_data("test", "t", -1, 5);
  result_.add_other_data("result", "r", 0, -1);
  result_.add_other_data("step", "s", 0, 0);
  result_.add_metric_data("metric-at-step-level", 1, 0, 0, -1);
  const rapidjson::Document& document = result_.document();
  EXPECT_STREQ(document["OtherData"]["test"].GetString(), "t");
  EXPECT_STREQ(document["MonitorResults"][0]["OtherData"]["result"].GetString(), "r");
  EXPECT_STREQ(document["MonitorResults"][0]["StepResults"][0]["OtherData"]["step"].GetString(),
               "s");
  EXPECT_EQ(document["MonitorResults"][0]["StepResults"][0]["metric-at-step-level"].GetInt(), 1);
  // Nothing grew.
  EXPECT_EQ(document["MonitorResults"].Size(), 1u);
}

TEST_F(TestResultTest, SameKeyIsReplacedInPlaceWithAnyType) {
  result_.add_metric_data("a", 1, 0, 0, 0);
  result_.add_metric_data("b", 2, 0, 0, 0);
  result_.add_metric_data("a", std::string("second"), 0, 0, 0);
  result_.add_metric_data("b", static_cast<unsigned long>(18446744073709551615UL), 0, 0, 0);
  EXPECT_EQ(JSON_to_string(*result_.retrieve_data_level_pointer(0, 0, 0)),
            R"({"a":"second","b":18446744073709551615})");

  result_.add_other_data("e", "x", 0, -1);
  result_.add_other_data("f", 4u, 0, -1);
  result_.add_other_data("e", false, 0, -1);
  EXPECT_EQ(JSON_to_string(result_.document()["MonitorResults"][0]["OtherData"]),
            R"({"e":false,"f":4})");
}

TEST_F(TestResultTest, KeysAndValuesAreCopies) {
  {
    std::string key = "qv-dns.results.name";
    std::string value = "example.test";
    result_.add_metric_data(key, value, 0, 0, 0);
    result_.add_other_data(key, value.c_str(), 0, 0);
    key.assign(40, 'k');
    value.assign(40, 'v');
  }
  EXPECT_TRUE(result_.check_metric_data_presence("qv-dns.results.name", 0, 0, 0));
  EXPECT_EQ(result_.retrieve_error("qv-dns.results.name", 0, 0), "example.test");
}

TEST_F(TestResultTest, RemovalMovesTheLastMemberIntoThePlace) {
  result_.add_other_data("a", 1, 0, 0);
  result_.add_other_data("b", 2, 0, 0);
  result_.add_other_data("c", 3, 0, 0);
  result_.remove_other_data("absent", 0, 0);
  result_.remove_other_data("a", 0, 0);
  EXPECT_EQ(JSON_to_string(result_.document()["MonitorResults"][0]["StepResults"][0]["OtherData"]),
            R"({"c":3,"b":2})");
}

TEST_F(TestResultTest, RetrieveErrorReadsStringsOnlyAndNeverGrows) {
  result_.add_other_data("code", "qv-dns.results.error.timeout", 0, -1);
  result_.add_other_data("number", 5, 0, -1);
  EXPECT_EQ(result_.retrieve_error("code", 0, -1), "qv-dns.results.error.timeout");
  EXPECT_EQ(result_.retrieve_error("number", 0, -1), "");
  EXPECT_EQ(result_.retrieve_error("absent", 0, -1), "");
  EXPECT_EQ(result_.retrieve_error("code", 7, 3), "");
  EXPECT_FALSE(result_.check_other_data_presence("code", 4, -1));
  EXPECT_FALSE(result_.check_metric_data_presence("code", 0, 2, 9));
  EXPECT_EQ(result_.get_metrics_count(3, 3), 0);
  EXPECT_EQ(result_.document()["MonitorResults"].Size(), 1u);
}

TEST_F(TestResultTest, AppendingTextToAMetric) {
  result_.append_string_to_metric_data("raw", "line 1\n", 0, 0, 0);
  result_.append_string_to_metric_data("raw", "line 2\n", 0, 0, 0);
  EXPECT_STREQ((*result_.retrieve_data_level_pointer(0, 0, 0))["raw"].GetString(),
               "line 1\nline 2\n");

  result_.add_metric_data("count", 1, 0, 0, 0);
  EXPECT_EQ(failure([&] { result_.append_string_to_metric_data("count", "x", 0, 0, 0); }),
            "Attempt to append to non-string key count at result ID 0, step ID 0, metric ID 0 "
            "with no MetricData available");
}

TEST_F(TestResultTest, PushingBackAMetricCopiesTheObject) {
  rapidjson::Document metric;
  metric.Parse(R"({"qv-dns.results.server":"192.0.2.1","ms":12})");
  result_.push_back_metric_data(metric, 0, 0);
  result_.push_back_metric_data(metric, 0, 0);
  metric["ms"] = 99;
  EXPECT_EQ(result_.get_metrics_count(0, 0), 2);
  EXPECT_EQ((*result_.retrieve_data_level_pointer(0, 0, 1))["ms"].GetInt(), 12);
  EXPECT_EQ(failure([&] { result_.push_back_metric_data(metric, 0, -1); }),
            "Missing Metrics at result ID 0, step ID -1");
}

TEST_F(TestResultTest, StructuralFaultsAreReportedWithTheirPlace) {
  EXPECT_EQ(failure([&] { result_.add_step(1); }), "Missing results in pos 1");
  EXPECT_EQ(failure([&] { result_.add_step(-1); }), "Missing results in pos -1");

  result_.import(
      R"("{\"MonitorResults\":[{\"StepResults\":[{\"OtherData\":{}}],\"OtherData\":{}},7],)"
      R"(\"OtherData\":{}}")");
  EXPECT_EQ(failure([&] { result_.add_metric_data("k", 1, 0, 0, 0); }),
            "Missing Metrics at result ID 0, step ID 0");
  EXPECT_EQ(failure([&] { result_.add_metric_data("k", 1, 1, 0, 0); }),
            "Missing StepResults at result ID 1");
  EXPECT_EQ(failure([&] { result_.add_other_data("k", 1, 1, -1); }),
            "Attempt to add OtherData with key k at result ID 1, step ID -1, with no OtherData "
            "available");
  EXPECT_EQ(failure([&] { result_.remove_other_data("k", 1, -1); }),
            "Attempt to remove OtherData with key k at result ID 1, step ID -1 with no OtherData "
            "available");
  EXPECT_EQ(failure([&] { result_.change_option_key_pattern("a", "b"); }),
            "Missing Metrics at result ID 0, step ID 0");
}

TEST_F(TestResultTest, RenamingReplacesTheFirstOccurrenceEverywhere) {
  result_.add_metric_data("delv.results.delv.x", 1, 0, 0, 0);
  result_.add_metric_data("other", 1, 0, 0, 1);
  result_.add_other_data("delv.results.step", 1, 0, 0);
  result_.add_other_data("delv.results.result", 1, 0, -1);
  result_.add_other_data("delv.results.test", 1, -1, -1);
  result_.add_other_data("delv.results.second", 1, 1, 1);
  result_.change_option_key_pattern("delv.", "qv-delv.");

  EXPECT_TRUE(result_.check_metric_data_presence("qv-delv.results.delv.x", 0, 0, 0));
  EXPECT_TRUE(result_.check_metric_data_presence("other", 0, 0, 1));
  EXPECT_TRUE(result_.check_other_data_presence("qv-delv.results.step", 0, 0));
  EXPECT_TRUE(result_.check_other_data_presence("qv-delv.results.result", 0, -1));
  EXPECT_TRUE(result_.check_other_data_presence("qv-delv.results.test", -1, -1));
  EXPECT_TRUE(result_.check_other_data_presence("qv-delv.results.second", 1, 1));
  EXPECT_FALSE(result_.check_other_data_presence("delv.results.step", 0, 0));

  // An empty pattern would prefix every key; it changes nothing.
  const std::string before = result_.to_string();
  result_.change_option_key_pattern("", "x.");
  EXPECT_EQ(result_.to_string(), before);
}

TEST_F(TestResultTest, MergeCopiesScalarMetricsAndReplacesSameKeys) {
  TestResult source(logger_);
  source.add_metric_data("s", std::string("text"), 0, 0, 0);
  source.add_metric_data("b", true, 0, 0, 0);
  source.add_metric_data("i", -3, 0, 0, 0);
  source.add_metric_data("u", static_cast<unsigned long>(5000000000UL), 0, 0, 0);
  source.add_metric_data("f", 1.5f, 0, 0, 0);
  result_.add_metric_data("s", std::string("old"), 0, 1, 2);
  result_.add_metric_data("kept", 1, 0, 1, 2);

  result_.merge_metric_data(source, 0, 0, 0, 0, 1, 2);
  EXPECT_EQ(JSON_to_string(*result_.retrieve_data_level_pointer(0, 1, 2)),
            R"({"s":"text","kept":1,"b":true,"i":-3,"u":5000000000,"f":1.5})");

  // A document can merge a metric of its own into another place.
  result_.merge_metric_data(result_, 0, 1, 2, 3, 0, 0);
  EXPECT_EQ(JSON_to_string(*result_.retrieve_data_level_pointer(3, 0, 0)),
            R"({"s":"text","kept":1,"b":true,"i":-3,"u":5000000000,"f":1.5})");
}

TEST_F(TestResultTest, MergeRefusesOtherTypesWithoutChangingAnything) {
  TestResult source(logger_);
  rapidjson::Document metric;
  metric.Parse(R"({"fine":1,"list":[1,2]})");
  source.push_back_metric_data(metric, 0, 0);
  const std::string before = result_.to_string();
  EXPECT_EQ(failure([&] { result_.merge_metric_data(source, 0, 0, 0, 0, 0, 0); }),
            "Attempt to merge unhandled MetricData type member list which is of type Array at "
            "result ID 0, step ID 0, metric ID 0");
  EXPECT_EQ(result_.to_string(), before);

  source.import(R"("{\"MonitorResults\":[{\"StepResults\":[{\"OtherData\":{}}],)"
                R"(\"OtherData\":{}}],\"OtherData\":{}}")");
  EXPECT_EQ(failure([&] { result_.merge_metric_data(source, 0, 0, 0, 0, 0, 0); }),
            "Error in source while merging JSON: Missing Metrics at result ID 0, step ID 0");
}

TEST_F(TestResultTest, ImportReadsAQuotedDocument) {
  TestResult exported(logger_);
  exported.add_other_data("qv-ping.results.missing-probes", 3, 0, -1);
  std::ostringstream quoted;
  quoted << std::quoted(exported.to_string());

  result_.import(quoted.str());
  EXPECT_EQ(result_.to_string(), exported.to_string());

  // A bare word is read up to the first blank.
  result_.import(std::string(skeleton) + " trailing words");
  EXPECT_EQ(result_.to_string(), skeleton);
}

TEST_F(TestResultTest, ImportChecksTheDocumentAndKeepsTheOldOneOnFailure) {
  result_.add_other_data("kept", 1, -1, -1);
  const std::string before = result_.to_string();
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {R"("{\"MonitorResults\":")", "Invalid JSON"},
      {"", "Invalid JSON"},
      {R"([])", "Missing MonitorResults"},
      {R"({"OtherData":{}})", "Missing MonitorResults"},
      {R"({"MonitorResults":{}})", "MonitorResults is not an array"},
      {R"({"MonitorResults":[]})", "MonitorResults is empty"},
      {R"({"MonitorResults":[{"OtherData":{}}]})", "Missing StepResults"},
      {R"({"MonitorResults":[{"StepResults":1}]})", "StepResults is not an array"},
      {R"({"MonitorResults":[{"StepResults":[]}]})", "StepResults is empty"},
      {R"({"MonitorResults":[{"StepResults":[{}],"OtherData":{}}]})",
       "Missing OtherData in step results"},
      {R"({"MonitorResults":[{"StepResults":[{"OtherData":{}}]}]})",
       "Missing OtherData in monitor results"},
  };
  for (const auto& entry : cases) {
    EXPECT_EQ(failure([&] { result_.import(entry.text); }), entry.message) << entry.text;
    EXPECT_EQ(result_.to_string(), before) << entry.text;
  }
}

TEST_F(TestResultTest, NumbersWithAFractionHaveAtMostThreeDecimals) {
  result_.add_metric_data("a", 0.123456f, 0, 0, 0);
  result_.add_metric_data("b", 2.5f, 0, 0, 0);
  result_.add_metric_data("c", 10.0f, 0, 0, 0);
  result_.add_other_data("d", 1234.98765f, 0, 0);
  const std::string text = result_.to_string();
  EXPECT_NE(text.find(R"({"a":0.123,"b":2.5,"c":10.0})"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("d":1234.987)"), std::string::npos) << text;
}

}  // namespace
}  // namespace Network_tools
