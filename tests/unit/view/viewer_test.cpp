// dns_experience_view: reading result documents into levels, the page's escaping of every text
// of the document, and the command's answers to good and bad input. The drawing itself is
// measured in Chromium by the lab test of the result pages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "view/front_end.h"
#include "view/page.h"
#include "view/result_file.h"
#include "view/waterfall.h"
#include "wrapper/json_access.h"

namespace Network_tools::View {
namespace {

std::string data_file(const std::string& name) {
  return std::string(NT_TEST_DATA_DIR) + "/" + name;
}

Waterfall read_text(const std::string& text) {
  rapidjson::Document document;
  EXPECT_EQ(parse_JSON(document, text), "");
  return read_waterfall(document);
}

// One line per level: id, alias depth, time, cache mark, outcome and servers (name:status).
std::string outline(const Waterfall& waterfall) {
  std::string text;
  for (const Level& level : waterfall.levels) {
    text += std::to_string(level.id) + " alias" + std::to_string(level.alias_depth) + " " +
            std::to_string(level.duration_ms()) + "ms" + (level.cached() ? " cached" : "") + " ";
    text += level.answers.empty() ? level.referral_zone + level.negative_zone : level.answers[0];
    for (const Server_query& server : level.servers) {
      text += " " + server.name + (server.failed() ? ":" + server.status.substr(21) : "");
    }
    text += "\n";
  }
  return text;
}

TEST(ViewerReading, LevelsOfRecordedResults) {
  const auto read = [](const std::string& name) {
    return read_waterfall(load_result(data_file(name)));
  };
  const Waterfall alias = read("result_cached_alias.json");
  EXPECT_EQ(outline(alias),
            "1 alias0 0ms cached alias.test. ns1.nic.test.\n"
            "2 alias0 2ms CNAME www.lab.example. ns1.alias.test.\n"
            "3 alias1 0ms cached lab.example. ns2.nic.example.\n"
            "4 alias1 0ms A 127.53.100.11 ns2.lab.example.\n");
  EXPECT_FALSE(alias.traversal);

  const Waterfall stalled = read("result_stalled.json");
  EXPECT_EQ(outline(stalled),
            "1 alias0 0ms stalled.test. ns1.nic.test.\n"
            "2 alias0 2000ms  ns1.stalled.test.:timeout ns2.stalled.test.:timeout\n");
  EXPECT_EQ(stalled.error_code, "qv-dns.results.error.timeout");
  EXPECT_EQ(stalled.span_ms(), 2000);

  const Waterfall traversal = read("traversal_result.json");
  EXPECT_TRUE(traversal.traversal);
  ASSERT_EQ(traversal.levels.size(), 2u);
  EXPECT_EQ(traversal.levels[1].servers[2].ping_round_trips,
            (std::vector<std::string>{"0.04", "null", "0.005", "0.006", "0.005"}));
}

TEST(ViewerReading, TimesKeepTheMicrosecondsTheMillisecondsCutOff) {
  const Waterfall waterfall = read_text(R"({"MonitorResults":[{"StepResults":[{"Metrics":[
      {"MetricData":{"qv-dns.results.server.name":"a","qv-dns.results.duration.ms":0,
        "qv-dns.results.duration.us":312,"qv-dns.results.status":"qv-dns.results.error.none"}}],
    "OtherData":{"qv-dns.results.level-id.number":1},"PageResults":{}}],
    "OtherData":{"qv-dns.results.duration.ms":0,"qv-dns.results.duration.us":312}}]})");
  EXPECT_EQ(waterfall.levels.at(0).duration_us(), 312);
  EXPECT_NE(render_page(waterfall).find(R"(<td class="time">0.312 ms</td>)"), std::string::npos);
}

TEST(ViewerReading, RefusesWhatIsNoDnsExperienceResult) {
  const auto result = [](const std::string& step) {
    return R"({"MonitorResults":[{"StepResults":[)" + step + R"(],"OtherData":{}}]})";
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[1]", "the document is not a JSON object"},
      {R"({"MonitorResults":{}})", "the document has no MonitorResults array"},
      {R"({"MonitorResults":[{"StepResults":[]}]})", "the result has no OtherData object"},
      {result("7"), "step 0 is not an object"},
      {result(R"({"Metrics":[{}],"OtherData":{"qv-dns.results.server.name":"ns"}})"),
       "step 0 has no qv-dns.results.level-id.number"},
      {result(R"({"Metrics":[{}],"OtherData":{"qv-dns.results.level-id.number":"1"}})"),
       "step 0: qv-dns.results.level-id.number is not a whole number, 0 or more"},
      {result(
           R"({"Metrics":[{"MetricData":{"qv-dns.results.server.name":"ns",)"
           R"("qv-dns.results.duration.ms":-5}}],"OtherData":{"qv-dns.results.level-id.number":1}})"),
       "step 0, metric 0: qv-dns.results.duration.ms is not a whole number, 0 or more"},
  };
  for (const auto& [text, message] : cases) {
    try {
      read_text(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const not_a_result& error) {
      EXPECT_EQ(error.what(), message) << text;
    }
  }
}

// Replaces every string "@N" in `value` by texts[N].
void fill_placeholders(rapidjson::Value& value, const std::vector<std::string>& texts,
                       rapidjson::Document::AllocatorType& allocator) {
  if (value.IsString() && value.GetString()[0] == '@') {
    value.SetString(texts.at(std::stoul(value.GetString() + 1)).c_str(), allocator);
  } else if (value.IsArray()) {
    for (auto& item : value.GetArray()) fill_placeholders(item, texts, allocator);
  } else if (value.IsObject()) {
    for (auto& member : value.GetObject()) fill_placeholders(member.value, texts, allocator);
  }
}

TEST(ViewerPage, EveryTextOfTheDocumentIsEscaped) {
  EXPECT_EQ(escape_html("<a href='x'>&\"\x01\t"), "&lt;a href=&#39;x&#39;&gt;&amp;&quot;\\x01\t");
  // Each text the page shows, hostile in its own way, in place of "@0" to "@8".
  const std::vector<std::string> hostile = {"<script>url</script>",
                                            "name\"><img src=x>",
                                            "server'<b>",
                                            "<i>info</i>&amp;",
                                            "<status>",
                                            "<details>",
                                            "<nsid>",
                                            "<ping-error>",
                                            "<rtt>"};
  rapidjson::Document document;
  ASSERT_EQ(parse_JSON(document, R"({"MonitorResults":[{"StepResults":[{"Metrics":[
      {"MetricData":{"qv-dns.results.answer.type":"A","qv-dns.results.answer.info":"@3"}},
      {"MetricData":{"qv-dns.results.server.name":"@2","qv-dns.results.server.address":"@2",
        "qv-dns.results.status":"@4","qv-dns.results.nsid":"@6",
        "qv-dns.results.server.ping.error-code":"@7",
        "qv-dns.results.server.ping.round-trip-times":"@8"}},
      {"MetricData":{"qv-dns.results.server.name":"b",
        "qv-dns.results.status":"qv-dns.results.error.none"}}],
    "OtherData":{"qv-dns.results.level-id.number":1,"qv-dns.results.question.name":"@1",
      "qv-dns.results.question.type":"A\u0000"},"PageResults":{}}],
    "OtherData":{"qv-dns.results.url":"@0","common.results.error-code":"e",
      "common.results.error-details":"@5"}}],"OtherData":{}})"),
            "");
  fill_placeholders(document, hostile, document.GetAllocator());
  const std::string page = render_page(read_waterfall(document));
  for (const std::string& piece : hostile) {
    EXPECT_EQ(page.find(piece), std::string::npos) << piece;
    EXPECT_NE(page.find(escape_html(piece)), std::string::npos) << piece;
  }
  EXPECT_NE(page.find("A\\x00"), std::string::npos);
  // Self-contained: nothing to run, nothing to fetch.
  for (const char* outside : {"<script", "<img", "<link", "<iframe", "<object", " src=\"",
                              " href=\"", "url(http", "@import"}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
}

struct Viewer_run {
  int status;
  std::string out;
  std::string err;
};

Viewer_run view(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "dns_experience_view");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::ostringstream out, err;
  const int status = run_viewer(static_cast<int>(arguments.size()), argv.data(), out, err);
  return {status, out.str(), err.str()};
}

TEST(ViewerCommand, AnswersGoodAndBadInput) {
  char pattern[] = "/tmp/viewer_test_XXXXXX";
  const std::filesystem::path folder = mkdtemp(pattern);
  std::ofstream(folder / "broken.json") << R"({"MonitorResults":)";
  std::ofstream(folder / "large.json") << "";
  std::filesystem::resize_file(folder / "large.json", max_result_size + 1);
  const std::string no_level =
      R"({"MonitorResults":[{"StepResults":[{"Metrics":[],"OtherData":{},)"
      R"("PageResults":{}}],"OtherData":{"qv-dns.results.url":"nx.test",)"
      R"("common.results.error-code":"qv-dns.results.error.nx-domain"}}],"OtherData":{}})";
  std::ofstream(folder / "error.json") << no_level;
  const std::string tool = "dns_experience_view: ";

  // The arguments; the status; what standard output starts with or standard error says.
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{"-h"}, 0, "Usage: dns_experience_view [ -hV ] RESULT.json\n"},
      {{data_file("result_stalled.json")}, 0, "<!DOCTYPE html>"},
      {{(folder / "error.json").string()}, 0, "<!DOCTYPE html>"},
      {{"-z", "x.json"},
       1,
       tool + "unrecognized option -z (dns_experience_view -h lists the options)\n"},
      {{"--frobnicate"},
       1,
       tool + "unrecognized option --frobnicate (dns_experience_view -h lists the options)\n"},
      {{},
       1,
       tool + "no result file given (usage: dns_experience_view RESULT.json > result.html)\n"},
      {{"a.json", "b.json"}, 1, tool + "one result file at a time, not 2\n"},
      {{(folder / "none.json").string()},
       1,
       tool + "cannot open " + (folder / "none.json").string() + ": No such file or directory\n"},
      {{folder.string()}, 1, tool + "cannot read " + folder.string() + ": Is a directory\n"},
      {{(folder / "broken.json").string()},
       1,
       tool + (folder / "broken.json").string() + " is not JSON: Invalid value.\n"},
      {{(folder / "large.json").string()},
       1,
       tool + (folder / "large.json").string() + " is larger than 16 MiB: not a result document\n"},
      {{data_file("result_ping.json")},
       1,
       tool + data_file("result_ping.json") +
           " is not a dns_experience result: step 0 has no qv-dns.results.level-id.number\n"},
  };
  for (const auto& [arguments, status, expected] : cases) {
    const Viewer_run run = view(arguments);
    const std::string what = arguments.empty() ? "(none)" : arguments[0];
    EXPECT_EQ(run.status, status) << what;
    if (status == 0) {
      EXPECT_EQ(run.out.rfind(expected, 0), 0u) << what;
      EXPECT_EQ(run.err, "") << what;
    } else {
      EXPECT_EQ(run.err, expected) << what;
      EXPECT_EQ(run.out, "") << what;
    }
  }
  EXPECT_NE(view({(folder / "error.json").string()}).out.find("Ended with"), std::string::npos);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace Network_tools::View
