// Tests of the DNS experience error keys and the dig-to-experience translation.
#include "dns_experience/errors.h"

#include <gtest/gtest.h>

#include <string>

#include "dig/errors.h"

namespace Network_tools::DNS_experience {
namespace {

// Every key the dig wrapper writes lands on the experience code whose own key is the same text,
// except the DNSSEC failures that the experience does not have: a typo in either table, or a
// dig key left out of the translation, breaks this.
TEST(DnsExperienceErrors, EveryDigKeyKeepsItsMeaningAndStrangersAreUnknown) {
  for (int value = 0; value <= 1018; ++value) {
    const std::string key = Dig::err_to_string(static_cast<Dig::err_t>(value));
    if (key == "qv-dns.results.error.unknown" && value != 11) continue;
    const err_t code = direct_error_to_experience_error(key);
    if (key.find(".dnssec-") != std::string::npos) {
      EXPECT_EQ(code, err_t::internal_error) << key;
    } else {
      EXPECT_EQ(err_to_string(code), key) << key;
    }
  }
  for (const char* stranger :
       {"qv-dns.results.error.too-many-levels", "", "qv-ping.results.error.timeout"}) {
    EXPECT_EQ(direct_error_to_experience_error(stranger), err_t::unknown) << stranger;
  }
  // Values without a key of their own, such as another tool's codes, read as unknown.
  for (const int value : {1006, 1008, -3}) {
    EXPECT_EQ(err_to_string(static_cast<err_t>(value)), "qv-dns.results.error.unknown") << value;
  }
}

}  // namespace
}  // namespace Network_tools::DNS_experience
