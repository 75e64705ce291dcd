// The test-result document: growth, replacement, removal, renaming, merging, import and
// number precision.
#include "wrapper/test_result.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "frame/exception.h"
#include "support/fake_tools.h"
#include "wrapper/json_access.h"

namespace Network_tools {
namespace {

using testing_support::thrown_by;

constexpr const char* skeleton =
    R"({"MonitorResults":[{"StepResults":[{"Metrics":[],"OtherData":{},"PageResults":{}}],)"
    R"("OtherData":{}}],"OtherData":{}})";

class TestResultTest : public ::testing::Test {
 protected:
  // The JSON text of a level or of its "OtherData".
  std::string level(int r, int s, int m) {
    return JSON_to_string(*result_.retrieve_data_level_pointer(r, s, m));
  }
  std::string other(int r, int s) {
    return JSON_to_string((*result_.retrieve_data_level_pointer(r, s, -1))["OtherData"]);
  }

  Logger logger_{LEVEL_ERROR};
  TestResult result_{logger_};
};

TEST_F(TestResultTest, WritingGrowsTheDocumentOnDemand) {
  result_.add_metric_data("level", 3, 0, 0, 3);
  EXPECT_EQ(JSON_to_string(result_.document()["MonitorResults"][0]["StepResults"][0]["Metrics"]),
            R"([{"MetricData":{}},{"MetricData":{}},{"MetricData":{}},)"
            R"({"MetricData":{"level":3}}])");
  result_.add_other_data("x", true, 2, 1);
  // Negative indices name the enclosing level.
  result_.add_other_data("test", "t", -1, 5);
  result_.add_metric_data("at-step", 1, 2, 0, -1);
  EXPECT_EQ(other(-1, -1), R"({"test":"t"})");
  EXPECT_EQ(JSON_to_string(result_.document()["MonitorResults"][1]), R"({"StepResults":[],)"
                                                                     R"("OtherData":{}})");
  EXPECT_EQ(level(2, 0, -1), R"({"Metrics":[],"OtherData":{},"PageResults":{},"at-step":1})");
  EXPECT_EQ(other(2, 1), R"({"x":true})");
  result_.initialize_JSON_object();
  EXPECT_EQ(result_.to_string(), skeleton);
}

TEST_F(TestResultTest, SameKeyIsReplacedInPlaceAndRemovalMovesTheLastMember) {
  std::string key = "a";
  result_.add_metric_data(key, 1, 0, 0, 0);
  result_.add_metric_data("b", 2u, 0, 0, 0);
  result_.add_metric_data(key, "second", 0, 0, 0);
  result_.add_metric_data("b", 18446744073709551615UL, 0, 0, 0);
  key.assign("changed later");
  EXPECT_EQ(level(0, 0, 0), R"({"a":"second","b":18446744073709551615})");

  // Removal moves the last member into the place.
  for (const char* other_key : {"a", "b", "c"}) result_.add_other_data(other_key, 1, 0, 0);
  result_.remove_other_data("absent", 0, 0);
  result_.remove_other_data("a", 0, 0);
  EXPECT_EQ(other(0, 0), R"({"c":1,"b":1})");
}

TEST_F(TestResultTest, TextThatIsNotUTF8StaysValidJSON) {
  // A native tool may print any byte; each one that is not UTF-8 becomes U+FFFD.
  result_.add_other_data("text", "\xc3\xa9t\xff\xc3", 0, 0);
  EXPECT_EQ(other(0, 0), "{\"text\":\"\xc3\xa9t\xef\xbf\xbd\xef\xbf\xbd\"}");
}

TEST_F(TestResultTest, ReadersNeverGrowTheDocument) {
  result_.add_other_data("code", "qv-dns.results.error.timeout", 0, -1);
  result_.add_other_data("number", 5, 0, -1);
  EXPECT_EQ(result_.retrieve_error("code", 0, -1), "qv-dns.results.error.timeout");
  EXPECT_EQ(result_.retrieve_error("number", 0, -1) + result_.retrieve_error("code", 7, 3), "");
  EXPECT_FALSE(result_.check_other_data_presence("code", 4, -1));
  EXPECT_FALSE(result_.check_metric_data_presence("code", 0, 2, 9));
  EXPECT_EQ(result_.get_metrics_count(3, 3), 0);
  EXPECT_EQ(result_.document()["MonitorResults"].Size(), 1u);
}

TEST_F(TestResultTest, AppendingAndPushingBackMetrics) {
  result_.append_string_to_metric_data("raw", "line 1\n", 0, 0, 0);
  result_.append_string_to_metric_data("raw", "line 2\n", 0, 0, 0);
  EXPECT_EQ(level(0, 0, 0), R"({"raw":"line 1\nline 2\n"})");
  result_.add_metric_data("count", 1, 0, 0, 0);
  EXPECT_THROW(result_.append_string_to_metric_data("count", "x", 0, 0, 0), exception);

  rapidjson::Document metric;
  metric.Parse(R"({"ms":12})");
  result_.push_back_metric_data(metric, 0, 0);
  metric["ms"] = 99;  // a copy went in
  EXPECT_EQ(result_.get_metrics_count(0, 0), 2);
  EXPECT_EQ(level(0, 0, 1), R"({"ms":12})");
}

TEST_F(TestResultTest, ImportedDocumentsWithoutSomeSectionsAreRefusedWithTheirPlace) {
  // Imported documents need not have every section, nor objects everywhere.
  result_.import(R"({"MonitorResults":[{"StepResults":[{"OtherData":{}}],"OtherData":{}},7]})");
  EXPECT_STREQ(thrown_by([&] { result_.add_metric_data("k", 1, 0, 0, 0); }).what(),
               "Missing Metrics at result ID 0, step ID 0");
  EXPECT_STREQ(thrown_by([&] { result_.add_metric_data("k", 1, 1, 0, 0); }).what(),
               "Missing StepResults at result ID 1");
  EXPECT_STREQ(thrown_by([&] { result_.add_other_data("k", 1, 1, -1); }).what(),
               "Attempt to add OtherData with key k at result ID 1, step ID -1, with no OtherData "
               "available");
  EXPECT_STREQ(thrown_by([&] { result_.remove_other_data("k", -1, -1); }).what(),
               "Attempt to remove OtherData with key k at result ID -1, step ID -1 with no "
               "OtherData available");
}

TEST_F(TestResultTest, RenamingReplacesTheFirstOccurrenceInEveryPlace) {
  result_.add_metric_data("delv.results.delv.x", 1, 0, 0, 0);
  result_.add_other_data("delv.step", 1, 1, 1);
  result_.add_other_data("delv.result", 1, 0, -1);
  result_.add_other_data("delv.test", 1, -1, -1);
  result_.change_option_key_pattern("delv.", "qv-delv.");
  EXPECT_EQ(level(0, 0, 0), R"({"qv-delv.results.delv.x":1})");
  EXPECT_EQ(other(1, 1) + other(0, -1) + other(-1, -1),
            R"({"qv-delv.step":1}{"qv-delv.result":1}{"qv-delv.test":1})");
  // An empty pattern would prefix every key; it changes nothing.
  const std::string before = result_.to_string();
  result_.change_option_key_pattern("", "x.");
  EXPECT_EQ(result_.to_string(), before);
}

TEST_F(TestResultTest, MergeCopiesScalarsOnlyAndReplacesSameKeys) {
  TestResult source(logger_);
  source.add_metric_data("s", "text", 0, 0, 0);
  source.add_metric_data("b", true, 0, 0, 0);
  source.add_metric_data("u", 5000000000UL, 0, 0, 0);
  source.add_metric_data("f", 1.5f, 0, 0, 0);
  result_.add_metric_data("s", "old", 0, 1, 2);
  result_.add_metric_data("kept", -1, 0, 1, 2);
  result_.merge_metric_data(source, 0, 0, 0, 0, 1, 2);
  const std::string merged = R"({"s":"text","kept":-1,"b":true,"u":5000000000,"f":1.5})";
  EXPECT_EQ(level(0, 1, 2), merged);
  // Within one document, even where the target must grow first.
  result_.merge_metric_data(result_, 0, 1, 2, 3, 0, 0);
  EXPECT_EQ(level(3, 0, 0), merged);

  rapidjson::Document metric;
  metric.Parse(R"({"fine":1,"list":[1,2]})");
  source.push_back_metric_data(metric, 0, 0);
  const std::string before = result_.to_string();
  EXPECT_STREQ(thrown_by([&] { result_.merge_metric_data(source, 0, 0, 1, 0, 0, 0); }).what(),
               "Attempt to merge unhandled MetricData type member list which is of type Array at "
               "result ID 0, step ID 0, metric ID 1");
  EXPECT_EQ(result_.to_string(), before);  // not even "fine" went in
}

TEST_F(TestResultTest, ImportReadsAQuotedDocumentAndKeepsTheOldOneOnFailure) {
  TestResult exported(logger_);
  exported.add_other_data("qv-ping.results.missing-probes", 3, 0, -1);
  std::ostringstream quoted;
  quoted << std::quoted(exported.to_string());
  result_.import(quoted.str());
  EXPECT_EQ(result_.to_string(), exported.to_string());
  result_.import(std::string(skeleton) + " trailing words");  // a bare word ends at a blank
  EXPECT_EQ(result_.to_string(), skeleton);

  const std::pair<const char*, const char*> refused[] = {
      {R"("{\"MonitorResults\":")", "Invalid JSON"},
      {R"([])", "Missing MonitorResults"},
      {R"({"MonitorResults":{}})", "MonitorResults is not an array"},
      {R"({"MonitorResults":[]})", "MonitorResults is empty"},
      {R"({"MonitorResults":[{"OtherData":{}}]})", "Missing StepResults"},
      {R"({"MonitorResults":[{"StepResults":[{}]}]})", "Missing OtherData in step results"},
      {R"({"MonitorResults":[{"StepResults":[{"OtherData":{}}]}]})",
       "Missing OtherData in monitor results"},
  };
  for (const auto& [text, message] : refused) {
    EXPECT_STREQ(thrown_by([&, text = text] { result_.import(text); }).what(), message) << text;
    EXPECT_EQ(result_.to_string(), skeleton) << text;
  }
}

TEST_F(TestResultTest, NumbersWithAFractionHaveAtMostThreeDecimals) {
  result_.add_metric_data("a", 0.123456f, 0, 0, 0);
  result_.add_other_data("b", 2.5f, 0, 0);
  EXPECT_EQ(result_.to_string(),
            R"({"MonitorResults":[{"StepResults":[{"Metrics":[{"MetricData":{"a":0.123}}],)"
            R"("OtherData":{"b":2.5},"PageResults":{}}],"OtherData":{}}],"OtherData":{}})");
}

}  // namespace
}  // namespace Network_tools
