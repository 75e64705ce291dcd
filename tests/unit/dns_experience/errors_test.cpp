// Tests of the DNS experience error keys and the dig-to-experience translation.
#include "dns_experience/errors.h"

#include <gtest/gtest.h>

#include "dns_experience/records.h"

namespace Network_tools::DNS_experience {
namespace {

TEST(ErrorKeys, KeysWithoutAnEnumeratorAreUnknown) {
  EXPECT_EQ(err_to_string(static_cast<err_t>(1006)), "qv-dns.results.error.unknown");
  EXPECT_EQ(err_to_string(static_cast<err_t>(1008)), "qv-dns.results.error.unknown");
  EXPECT_EQ(err_to_string(static_cast<err_t>(-3)), "qv-dns.results.error.unknown");
  EXPECT_EQ(err_to_string(err_t::no_local_resolver_available),
            "qv-dns.results.error.no-local-resolver-available");
  EXPECT_EQ(err_to_string(err_t::no_valid_answers), "qv-dns.results.error.no-valid-answers");
}

// Every dig key that names a meaning the experience also has must land on the experience code
// whose own key is the same text: a typo in either table breaks this.
TEST(DigErrorTranslation, SharedMeaningsKeepTheirKey) {
  const char* shared[] = {"none",
                          "form-err",
                          "serv-fail",
                          "nx-domain",
                          "not-imp",
                          "refused",
                          "yx-domain",
                          "yxrr-set",
                          "nxrr-set",
                          "not-auth",
                          "not-zone",
                          "unknown",
                          "timeout",
                          "missing-query-type",
                          "duplicate-host",
                          "invalid-host",
                          "internal-error",
                          "missing-argument-value",
                          "unrecognized-argument",
                          "wrong-argument-value",
                          "out-of-bounds-argument",
                          "missing-native-tools",
                          "missing-privileges",
                          "nameserver-resolution-failure",
                          "malformed-json",
                          "nameserver-unreachable",
                          "no-answers-or-authorities"};
  for (const std::string name : shared) {
    const std::string key = "qv-dns.results.error." + name;
    EXPECT_EQ(err_to_string(direct_error_to_experience_error(key)), key) << key;
  }
}

TEST(DigErrorTranslation, DnssecErrorsBecomeInternalAndStrangersUnknown) {
  for (const char* key :
       {"qv-dns.results.error.dnssec-answer-unsigned",
        "qv-dns.results.error.dnssec-resolution-failure", "qv-dns.results.error.dnssec-unknown"}) {
    EXPECT_EQ(direct_error_to_experience_error(key), err_t::internal_error) << key;
  }
  EXPECT_EQ(direct_error_to_experience_error("qv-dns.results.error.too-many-levels"),
            err_t::unknown);
  EXPECT_EQ(direct_error_to_experience_error(""), err_t::unknown);
  EXPECT_EQ(direct_error_to_experience_error("qv-ping.results.error.timeout"), err_t::unknown);
}

TEST(Records, ResetRestoresAFreshResponse) {
  ParsedResponse response;
  response.relative_authoritative_domain = "example.";
  response.name_servers.push_back({"ns1.example.", IP::Address("127.53.0.1"), -1});
  response.has_answer = response.has_authority = response.has_alias = true;
  response.has_target_record = true;
  response.ttl = 60;
  response.reset();
  EXPECT_TRUE(response.relative_authoritative_domain.empty());
  EXPECT_TRUE(response.name_servers.empty());
  EXPECT_FALSE(response.has_answer || response.has_authority || response.has_alias ||
               response.has_target_record);
  EXPECT_EQ(response.ttl, 604800);
}

}  // namespace
}  // namespace Network_tools::DNS_experience
