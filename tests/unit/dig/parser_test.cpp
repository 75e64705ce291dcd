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

  std::ostringstream log;
  Logger logger{LEVEL_DEBUG, "", log};
  Parameters parameters{""};
  std::unique_ptr<Wrapper> wrapper;
};

TEST_F(DigParserTest, AnswerGivesHeaderQuestionRecordAndServer) {
  const TestResult& result = parse(recorded("dig_a_answer.txt"));
  EXPECT_EQ(other_int(result, "qv-dns.results.id", 0), 58164);
  EXPECT_EQ(other_string(result, "qv-dns.results.status", 0), "qv-dns.results.error.none");
  EXPECT_EQ(other_string(result, "qv-dns.results.flags", 0), "qr rd ra ad cd");
  EXPECT_EQ(other_string(result, "qv-dns.results.question.name", 0), "www.lab.test.");
  EXPECT_EQ(other_string(result, "qv-dns.results.question.type", 0), "A");
  EXPECT_EQ(other_string(result, "qv-dns.results.server.address", 0), "127.53.0.53");
  EXPECT_EQ(other_int(result, "qv-dns.results.server.port", 0), 53);
  EXPECT_EQ(other_string(result, "qv-dns.results.protocol", 0), "UDP");
  EXPECT_EQ(other_int(result, "qv-dns.results.received-bytes", 0), 85);
  // 789 microseconds are 0 whole milliseconds, at both levels.
  EXPECT_EQ(other_int(result, "qv-dns.results.duration.ms", 0), 0);
  EXPECT_EQ(other_int(result, "qv-dns.results.duration.ms", -1), 0);
  EXPECT_EQ(other_string(result, "common.results.error-code", -1), "<absent>");
  const auto records = metrics(result);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(field(records[0], "qv-dns.results.answer.name"), "www.lab.test.");
  EXPECT_EQ(field(records[0], "qv-dns.results.answer.class"), "IN");
  EXPECT_EQ(field(records[0], "qv-dns.results.answer.type"), "A");
  EXPECT_EQ(field(records[0], "qv-dns.results.answer.info"), "127.53.100.1");
  EXPECT_EQ(field(records[0], "qv-dns.results.answer.ttl"), "137");
  EXPECT_EQ(wrapper->get_record_counter(), 1u);
}

TEST_F(DigParserTest, QueryTimeInMicrosecondsAddsTheElapsedTimeOfTimedOutTries) {
  parameters.query_mode = query_mode_t::standard;
  wrapper = std::make_unique<Wrapper>(logger, parameters);
  wrapper->set_elapsed_time(3000);
  wrapper->output_to_JSON(recorded("dig_authoritative_answer.txt"));  // 4956 usec
  EXPECT_EQ(other_int(wrapper->test_result(), "qv-dns.results.duration.ms", 0), 3004);
  EXPECT_EQ(other_int(wrapper->test_result(), "qv-dns.results.duration.ms", -1), 3004);

  // A query time of 0 is not believed: the wrapper's own measurement stays.
  std::string text = recorded("dig_a_answer.txt");
  text.replace(text.find("789 usec"), 8, "0 usec");
  parse(text);
  EXPECT_NE(log.str().find("Query time found invalid: using wrapper time instead"),
            std::string::npos);
}

TEST_F(DigParserTest, ReferralKeepsAuthorityAndAdditionalRecordsInOrder) {
  const auto records = metrics(parse(recorded("dig_referral_tld.txt")));
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(field(records[0], "qv-dns.results.authority.info"), "ns2.lab.test.");
  EXPECT_EQ(field(records[1], "qv-dns.results.authority.type"), "NS");
  EXPECT_EQ(field(records[2], "qv-dns.results.additional.name"), "ns2.lab.test.");
  EXPECT_EQ(field(records[3], "qv-dns.results.additional.info"), "127.53.4.1");
  EXPECT_EQ(field(records[3], "qv-dns.results.additional.ttl"), "3600");
}

TEST_F(DigParserTest, NegativeAnswersAndFailingServersSetTheErrorCode) {
  const TestResult& nxdomain = parse(recorded("dig_nxdomain.txt"));
  EXPECT_EQ(other_string(nxdomain, "qv-dns.results.status", 0), "qv-dns.results.error.nx-domain");
  EXPECT_EQ(other_string(nxdomain, "common.results.error-code", -1),
            "qv-dns.results.error.nx-domain");
  EXPECT_EQ(field(metrics(nxdomain)[0], "qv-dns.results.authority.type"), "SOA");

  const TestResult& nodata = parse(recorded("dig_noerror_no_records.txt"));
  EXPECT_EQ(other_string(nodata, "common.results.error-code", -1), "<absent>");

  for (const auto& [file, key] : {std::pair{"dig_refused.txt", "qv-dns.results.error.refused"},
                                  {"dig_servfail.txt", "qv-dns.results.error.serv-fail"}}) {
    const TestResult& result = parse(recorded(file));
    EXPECT_EQ(other_string(result, "qv-dns.results.status", 0), key) << file;
    EXPECT_EQ(other_string(result, "common.results.error-code", -1), key) << file;
    EXPECT_TRUE(metrics(result).empty()) << file;
  }

  // NOERROR with no section at all: the status says none, the error code says why it is empty.
  std::string text = recorded("dig_refused.txt");
  text.replace(text.find("REFUSED,"), 8, "NOERROR,");
  const TestResult& empty = parse(text);
  EXPECT_EQ(other_string(empty, "qv-dns.results.status", 0), "qv-dns.results.error.none");
  EXPECT_EQ(other_string(empty, "common.results.error-code", -1),
            "qv-dns.results.error.no-answers-or-authorities");
}

TEST_F(DigParserTest, UnknownStatusWordGivesTheUnknownErrorWithoutStatus) {
  std::string text = recorded("dig_a_answer.txt");
  text.replace(text.find("NOERROR,"), 8, "BADCOOKIE,");
  const TestResult& result = parse(text);
  EXPECT_EQ(other_string(result, "qv-dns.results.status", 0), "<absent>");
  EXPECT_EQ(other_string(result, "common.results.error-code", -1), "qv-dns.results.error.unknown");
  EXPECT_NE(log.str().find("Unrecognized error from server: [BADCOOKIE,]"), std::string::npos);
}

TEST_F(DigParserTest, NSIDIsReadOnlyInNSIDMode) {
  EXPECT_EQ(
      other_string(parse(recorded("dig_nsid.txt"), query_mode_t::nsid), "qv-dns.results.nsid", 0),
      "dom-test-1");
  EXPECT_EQ(other_string(parse(recorded("dig_nsid.txt")), "qv-dns.results.nsid", 0), "<absent>");
}

TEST_F(DigParserTest, ClientSubnetBecomesAnAdditionalRecordWithItsScope) {
  parameters.set_EDNS_client_subnet("127.53.200.0/24");
  const TestResult& result = parse(recorded("dig_client_subnet.txt"));
  const auto records = metrics(result);
  ASSERT_EQ(records.size(), 2u);
  // The option comes before the answer in dig's text, so it takes the first index.
  EXPECT_EQ(field(records[0], "qv-dns.results.additional.name"), "Client subnet");
  EXPECT_EQ(field(records[0], "qv-dns.results.additional.type"), "OPT");
  EXPECT_EQ(field(records[0], "qv-dns.results.additional.info"),
            "127.53.200.0/24 (scope prefix-length: 0)");
  EXPECT_EQ(field(records[1], "qv-dns.results.answer.info"), "127.53.100.1");
  EXPECT_EQ(other_string(result, "qv-dns.results.edns-client-subnet", 0), "127.53.200.0/24");
}

TEST_F(DigParserTest, HostnameBindInChaosHasNoTTLAndKeepsTheQuotes) {
  const auto records =
      metrics(parse(recorded("dig_hostname_bind.txt"), query_mode_t::hostname_bind));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(field(records[0], "qv-dns.results.answer.class"), "CH");
  EXPECT_EQ(field(records[0], "qv-dns.results.answer.info"), "\"dom-test-1.dnslab\"");
  EXPECT_EQ(field(records[0], "qv-dns.results.answer.ttl"), "<absent>");
}

TEST_F(DigParserTest, TransportOfTheServerLine) {
  EXPECT_EQ(other_string(parse(recorded("dig_tcp.txt")), "qv-dns.results.protocol", 0), "TCP");
  EXPECT_EQ(other_string(parse(recorded("dig_reverse.txt")), "qv-dns.results.question.type", 0),
            "PTR");
}

TEST_F(DigParserTest, ConnectionRefusedLineFailsWithUnreachableServer) {
  parameters.server = "127.53.5.2";
  parameters.JSON_output = true;
  try {
    parse(recorded("dig_connection_refused.txt"));
    FAIL() << "no failure";
  } catch (const exception& error) {
    EXPECT_EQ(error.error_code(), 1014);
    EXPECT_STREQ(
        error.what(),
        "Cannot reach name server: 127.53.5.2 (qv-dns.results.error.nameserver-unreachable)");
    EXPECT_NE(error.error_message().find("\"common.results.error-details\":\"Connection refused\""),
              std::string::npos);
  }
}

TEST_F(DigParserTest, MalformedLinesAreInternalErrors) {
  const std::string answer = recorded("dig_a_answer.txt");
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = answer;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  EXPECT_EXIT(
      parse(replaced("www.lab.test.\t\t137\tIN\tA\t127.53.100.1", "www.lab.test.\t137\tIN\tA")),
      ::testing::ExitedWithCode(1),
      "Internal error: Parsing error. Missing entries in ANSWER RR info");
  EXPECT_EXIT(parse(replaced("www.lab.test.\t\t137\tIN\tA\t127.53.100.1", "www.lab.test.\tIN\tA")),
              ::testing::ExitedWithCode(1),
              "Internal error: Parsing error. Missing entries in ANSWER \\[");
  EXPECT_EXIT(parse(replaced(" (UDP)", "")), ::testing::ExitedWithCode(1),
              "Internal error: Parsing error. Weird protocol found: \\[\\]");
  EXPECT_EXIT(parse(replaced(" (UDP)", " UDP")), ::testing::ExitedWithCode(1),
              "Weird protocol found: \\[UDP\\]");
  EXPECT_EXIT(parse("dig: couldn't get address for 'nowhere': not found\n"),
              ::testing::ExitedWithCode(1),
              "Internal error: dig: couldn't get address for 'nowhere': not found");
  EXPECT_EXIT(parse(replaced(";www.lab.test.\t\t\tIN\tA", "www.lab.test.\t\t\tIN\tA")),
              ::testing::ExitedWithCode(1), "Weird host found: \\[www.lab.test.\\]");

  // A short question line only warns.
  const TestResult& result = parse(replaced(";www.lab.test.\t\t\tIN\tA", ";www.lab.test."));
  EXPECT_NE(log.str().find("Missing entries in QUESTION [;www.lab.test.]"), std::string::npos);
  EXPECT_EQ(other_string(result, "qv-dns.results.question.type", 0), "");
}

}  // namespace
}  // namespace Network_tools::Dig
