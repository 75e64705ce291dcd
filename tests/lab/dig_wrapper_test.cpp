// dig_wrapper run as a user would, inside the DNS lab, against its real BIND servers.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "../unit/support/fake_tools.h"
#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::Lab_run;

// A value of the printed document `text` by a short path (see `testing_support::value_at`).
std::string value_at(const std::string& text, const std::string& path) {
  rapidjson::Document document;
  document.Parse(text.c_str());
  return document.HasParseError() ? "<no document>" : testing_support::value_at(document, path);
}

struct Lab_case {
  std::string arguments;
  int status;
  std::vector<std::pair<std::string, std::string>> values;
};

class DigWrapperLabTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::ensure_lab_up(); }

  static Lab_run dig(const std::string& arguments, const std::string& input = "") {
    return testing_support::run_tool_in_lab("dig_wrapper", arguments, input);
  }
  static void check(const std::vector<Lab_case>& cases) {
    for (const Lab_case& c : cases) {
      const Lab_run run = dig(c.arguments);
      EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.err;
      for (const auto& [path, value] : c.values) {
        EXPECT_EQ(value_at(run.out, path), value) << c.arguments;
      }
    }
  }
};

TEST_F(DigWrapperLabTest, AnswersAndFailuresOfLabServers) {
  check({
      {"-j -t a www.lab.example",  // the machine's resolver
       0,
       {{"S:qv-dns.results.server.name", "127.53.0.53"},
        {"M0:qv-dns.results.answer.info", "127.53.100.11"}}},
      {"-j -r 2 -w 500 -n 127.53.5.1 -t a www.timeout.test",
       1,
       {{"R:common.results.error-code", "qv-dns.results.error.timeout"},
        {"R:qv-dns.results.duration.ms", "1000"}}},
      {"-j -n 127.53.5.2 -t a www.closed.test",
       1,
       {{"R:common.results.error-code", "qv-dns.results.error.nameserver-unreachable"},
        {"R:common.results.error-details", "Connection refused"}}},
      // A type by number and a name with its final dot are as good as any.
      {"-j -n 127.53.4.1 -t TYPE1 www.lab.test.",
       0,
       {{"S:qv-dns.results.question.type", "A"},
        {"M0:qv-dns.results.answer.info", "127.53.100.1"}}},
      {"-j -n ns9.nowhere.test -t a www.lab.test",
       1,
       {{"R:common.results.error-code", "qv-dns.results.error.nameserver-resolution-failure"}}},
  });
}

TEST_F(DigWrapperLabTest, HostileInputIsRefusedBeforeAnyQuery) {
  const auto document = [](const std::string& capabilities) {
    return R"({"Capabilities":{"qv-dns.test.server":"127.53.4.1",)" + capabilities +
           R"(},"Settings":{"DebugModeOn":true}})" + "\n";
  };
  const std::string url = R"("qv-dns.test.query-type":"a","test.common.url":"qv-dns-direct://)";
  const std::string not_a_host = "]: not a DNS name or an IP address (qv-dns.results.error.";
  const std::string not_a_type = "]: not a DNS record type (qv-dns.results.error.";
  testing_support::expect_refused(
      "dig_wrapper",
      {
          // dig would take these for its own options or a server.
          {"-d -j -n 127.53.4.1 -t a -- +tcp", "", "Invalid host [+tcp" + not_a_host},
          {"", document(url + R"(+trace")"), "Invalid host [+trace" + not_a_host},
          {"-d -j -n +tcp -t a www.lab.test", "", "Invalid server [+tcp" + not_a_host},
          {"-d -j -n 127.53.4.1 -t type99999 www.lab.test", "",
           "Invalid query type [type99999" + not_a_type},
          {"", document(url + R"(www.lab.test\u0000x")"),
           "URL [qv-dns-direct://www.lab.test\\x00x] holds a control character"},
          {"",
           document(R"("test.common.url":"qv-dns-direct://www.lab.test",)"
                    R"("qv-dns.test.query-type":"a\u0000")"),
           "Invalid query type [a\\x00" + not_a_type},
          {"", document(url + "www.lab\xfe.test\""), "Invalid encoding in string."},
          {"-d -j -X 'a\nb' -n 127.53.4.1 -t a www.lab.test", "",
           "Test ID [a\\x0ab] holds a control character"},
      });
}

TEST_F(DigWrapperLabTest, DNSSECValidationWithTheRealDelv) {
  check({
      {"-j -D -n 127.53.0.53 -t a www.unsigned.test",
       0,
       {{"R:common.results.error-code", "qv-dns.results.error.dnssec-answer-unsigned"},
        {"S:common.results.error-code", "qv-dns.results.error.dnssec-answer-unsigned"}}},
  });
  // A signed name validates with the real delv: no error, and the chain runs from the answer's
  // signature up through the lab's zones.
  const Lab_run run = dig("-j -D -n 127.53.0.53 -t a www.lab.test");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(value_at(run.out, "R:common.results.error-code"), "<absent>");
  const std::string chain = value_at(run.out, "M2:qv-dns.results.dnssec-trust-chain");
  EXPECT_EQ(chain.rfind("    RRSIG on www.lab.test. (A) signed by lab.test. with algorithm "
                        "ECDSAP256SHA256 (13)",
                        0),
            0u);
  EXPECT_NE(chain.find("    DS on lab.test. with digest of key tag "), std::string::npos);
}

TEST_F(DigWrapperLabTest, DocumentOnStandardInputWithSettingsStandingIn) {
  const Lab_run run =
      dig("", R"({"Capabilities":{"test.common.url":"qv-dns-direct://mail.lab.test",)"
              R"("qv-dns.test.query-type":"a","qv-dns.test.server":"127.53.9.9",)"
              R"("qv-dns.test.query-retry-timeout":"slow"},)"
              R"("Settings":{"Server":"127.53.4.1","RetryTimeout":1000}})"
              "\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Capability qv-dns.test.query-retry-timeout is supposed to be Int"),
            std::string::npos);
  EXPECT_EQ(value_at(run.out, "R:qv-dns.results.url"), "qv-dns-direct://mail.lab.test");
  EXPECT_EQ(value_at(run.out, "S:qv-dns.results.server.address"), "127.53.4.1");
  EXPECT_EQ(value_at(run.out, "M0:qv-dns.results.answer.info"), "127.53.100.2");
}

}  // namespace
}  // namespace Network_tools
