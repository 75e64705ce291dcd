// The dig output parser on texts recorded from the lab with the real dig, and on malformed lines.
#include <gtest/gtest.h>

#include <sstream>

#include "dig/wrapper.h"
#include "support/fake_tools.h"

namespace Network_tools::Dig {
namespace {

using namespace testing_support;

class DigParserTest : public ::testing::Test {
 protected:
  // The result of parsing `text` for a query made in `mode`.
  const TestResult& parse(const std::string& text, query_mode_t mode = query_mode_t::standard) {
    parameters.query_mode = mode;
    wrapper = std::make_unique<Wrapper>(logger, parameters);
    wrapper->output_to_JSON(text);
    return wrapper->test_result();
  }
  // The recording `file` with its first `from` replaced by `to`.
  static std::string edited(const std::string& file, const std::string& from,
                            const std::string& to) {
    std::string text = recorded(file);
    text.replace(text.find(from), from.size(), to);
    return text;
  }
  // Expects the recording `file`, parsed for `mode`, to give `records` records and `values`.
  void expect_entries(const std::string& file, query_mode_t mode, std::size_t records,
                      const std::vector<std::pair<std::string, std::string>>& values) {
    const TestResult& result = parse(recorded(file), mode);
    EXPECT_EQ(metric_count(result), records) << file;
    for (const auto& [path, value] : values) {
      EXPECT_EQ(value_at(result, path), value) << file << " " << path;
    }
  }
  bool logged(const std::string& text) const { return log.str().find(text) != std::string::npos; }

  std::ostringstream log;
  Logger logger{LEVEL_DEBUG, "", log};
  Parameters parameters{""};
  std::unique_ptr<Wrapper> wrapper;
};

TEST_F(DigParserTest, RecordedAnswersGiveTheirEntries) {
  const std::string status = "S:qv-dns.results.status", error = "R:common.results.error-code";
  const query_mode_t standard = query_mode_t::standard;
  expect_entries("dig_a_answer.txt", standard, 1,
                 {{status, "qv-dns.results.error.none"},
                  {error, "<absent>"},
                  {"S:qv-dns.results.server.port", "53"},
                  {"S:qv-dns.results.protocol", "UDP"},
                  {"S:qv-dns.results.duration.ms", "0"},  // 789 microseconds
                  {"M0:qv-dns.results.answer.info", "127.53.100.1"},
                  {"M0:qv-dns.results.answer.ttl", "137"}});
  expect_entries("dig_referral_tld.txt", standard, 4,
                 {{"M1:qv-dns.results.authority.info", "ns1.lab.test."},
                  {"M3:qv-dns.results.additional.info", "127.53.4.1"}});
  expect_entries("dig_nxdomain.txt", standard, 1,
                 {{error, "qv-dns.results.error.nx-domain"},
                  {"M0:qv-dns.results.authority.info",
                   "ns1.lab.test. hostmaster.lab.test. 1 1800 900 604800 60"}});
  expect_entries("dig_noerror_no_records.txt", standard, 1, {{error, "<absent>"}});
  expect_entries(
      "dig_refused.txt", standard, 0,
      {{status, "qv-dns.results.error.refused"}, {error, "qv-dns.results.error.refused"}});
  expect_entries("dig_servfail.txt", standard, 0, {{error, "qv-dns.results.error.serv-fail"}});
  expect_entries("dig_nsid.txt", query_mode_t::nsid, 1, {{"S:qv-dns.results.nsid", "dom-test-1"}});
  // The identifier is read only when it was asked for.
  expect_entries("dig_nsid.txt", standard, 1, {{"S:qv-dns.results.nsid", "<absent>"}});
  // The client subnet option comes before the answer in dig's text: it takes the first index.
  expect_entries("dig_client_subnet.txt", standard, 2,
                 {{"M0:qv-dns.results.additional.info", "127.53.200.0/24 (scope prefix-length: 0)"},
                  {"M1:qv-dns.results.answer.info", "127.53.100.1"}});
  expect_entries("dig_hostname_bind.txt", query_mode_t::hostname_bind, 1,
                 {{"M0:qv-dns.results.answer.class", "CH"},
                  {"M0:qv-dns.results.answer.info", "\"dom-test-1.dnslab\""},
                  {"M0:qv-dns.results.answer.ttl", "<absent>"}});
  expect_entries("dig_tcp.txt", standard, 1, {{"S:qv-dns.results.protocol", "TCP"}});
  // A port number too long for 16 bits is no port, whatever it would wrap to (80 here): the
  // default written before the parsing stays.
  EXPECT_EQ(value_at(parse(edited("dig_a_answer.txt", "#53(", "#4294967376(")),
                     "S:qv-dns.results.server.port"),
            "53");
}

TEST_F(DigParserTest, QueryTimeAddsTheElapsedTimeOfTimedOutTries) {
  wrapper = std::make_unique<Wrapper>(logger, parameters);
  wrapper->set_elapsed_time(3000);
  wrapper->output_to_JSON(recorded("dig_authoritative_answer.txt"));  // 4956 usec
  EXPECT_EQ(value_at(wrapper->test_result(), "S:qv-dns.results.duration.ms"), "3004");
  EXPECT_EQ(value_at(wrapper->test_result(), "R:qv-dns.results.duration.ms"), "3004");
  // The microseconds keep what the milliseconds cut off.
  EXPECT_EQ(value_at(wrapper->test_result(), "S:qv-dns.results.duration.us"), "3004956");
  EXPECT_EQ(value_at(wrapper->test_result(), "R:qv-dns.results.duration.us"), "3004956");
  // A query time of 0 is not believed: the wrapper's own measurement stays.
  parse(edited("dig_a_answer.txt", "789 usec", "0 usec"));
  EXPECT_TRUE(logged("Query time found invalid: using wrapper time instead"));
}

TEST_F(DigParserTest, StatusWithoutRecordsOrUnknownToUs) {
  // NOERROR with no section at all: the status says none, the error code says why it is empty.
  const TestResult& empty = parse(edited("dig_refused.txt", "REFUSED,", "NOERROR,"));
  EXPECT_EQ(value_at(empty, "S:qv-dns.results.status"), "qv-dns.results.error.none");
  EXPECT_EQ(value_at(empty, "R:common.results.error-code"),
            "qv-dns.results.error.no-answers-or-authorities");

  const TestResult& unknown = parse(edited("dig_a_answer.txt", "NOERROR,", "BADCOOKIE,"));
  EXPECT_EQ(value_at(unknown, "S:qv-dns.results.status"), "<absent>");
  EXPECT_EQ(value_at(unknown, "R:common.results.error-code"), "qv-dns.results.error.unknown");
  EXPECT_TRUE(logged("Unrecognized error from server: [BADCOOKIE,]"));
}

TEST_F(DigParserTest, ConnectionRefusedLineFailsWithUnreachableServer) {
  parameters.server = "127.53.5.2";
  parameters.JSON_output = true;
  const exception error = thrown_by([this] { parse(recorded("dig_connection_refused.txt")); });
  EXPECT_STREQ(
      error.what(),
      "Cannot reach name server: 127.53.5.2 (qv-dns.results.error.nameserver-unreachable)");
}

TEST_F(DigParserTest, MalformedLinesAreInternalErrors) {
  const std::string record = "www.lab.test.\t\t137\tIN\tA\t127.53.100.1";
  const std::string question = ";www.lab.test.\t\t\tIN\tA";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {edited("dig_a_answer.txt", record, "www.lab.test.\t137\tIN\tA\t "),
       "Parsing error. Missing entries in ANSWER RR info \\["},
      {edited("dig_a_answer.txt", record, "www.lab.test.\tIN\tA"),
       "Parsing error. Missing entries in ANSWER \\[www"},
      {edited("dig_a_answer.txt", " (UDP)", " UDP"),
       "Parsing error. Weird protocol found: \\[UDP\\] in line"},
      {edited("dig_a_answer.txt", question, question.substr(1)),
       "Parsing error. Weird host found: \\[www.lab.test.\\]"},
      {"dig: couldn't get address for 'nowhere': not found\n",
       "dig: couldn't get address for 'nowhere': not found"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EXIT(parse(text), ::testing::ExitedWithCode(1), "Internal error: " + message);
  }
  // A short question line only warns.
  parse(edited("dig_a_answer.txt", question, ";www.lab.test."));
  EXPECT_TRUE(logged("Missing entries in QUESTION [;www.lab.test.]"));
}

}  // namespace
}  // namespace Network_tools::Dig
