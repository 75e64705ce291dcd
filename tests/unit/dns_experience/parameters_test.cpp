// DNS experience parameters: setter limits and messages, the cache path check, and the dig
// parameters of each kind of level.
#include "dns_experience/parameters.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

namespace Network_tools::DNS_experience {
namespace {

// What a setter does with `value`: "" when it is accepted, else the refusal's message.
struct Limit_case {
  void (Parameters::*set)(int);
  int value;
  std::string refusal;
};

TEST(DnsExperienceParameters, SettersKeepTheirLimitsAndTheOldValue) {
  using P = Parameters;
  // clang-format off
  const std::vector<Limit_case> cases = {
      {&P::set_tries, 0, "Tries of 0 under the limit of 1"},
      {&P::set_tries, 5, ""},
      {&P::set_retry_timeout, 5001, "Retry timeout of 5001 over the limit of 5000"},
      {&P::set_bias_percentage, 49, "bias percentage 49 under the limit of 50"},
      {&P::set_CNAME_traversal_limit, 11,
       "CNAME traversal limit 11 over the max allowed value of 10"},
      {&P::set_CNAME_traversal_limit, 0,
       "CNAME traversal limit 0 under the min allowed value of 1"},
      {&P::set_root_server_cache_TTL, 3599, "root server cache TTLs 3599 below minimum 3600"},
      {&P::set_root_server_cache_TTL, 604800, ""},
      {&P::set_root_server_cache_TTL, 604801,
       "root server cache TTL 604801 over maximum of 604800"},
      {&P::set_max_cached_entries, 999, "max cached entries 999 below minimum 1000"},
      // Kept in 16 bits: a larger value must not wrap to a short timeout.
      {&P::set_timeout, 65536, "Timeout of 65536 over the limit of 65535"},
      {&P::set_ping_probes_count, 0, "Ping probes count of 0 under the min limit of 1."},
      {&P::set_ping_probe_timeout, 0, "Ping probe timeout of 0 under the min limit of 1 second."},
      // The diagnostics count their threads in 16 bits: 65536 must not become none.
      {&P::set_max_concurrent_pings, 65536,
       "Max concurrent pings of 65536 over the max limit of 65535."},
      {&P::set_max_concurrent_pings, 65535, ""},
      {&P::set_tld_server_minimum_failure_count, 0,
       "TLD server minimum failure count of 0 under the min limit of 1."},
  };
  // clang-format on
  for (const Limit_case& c : cases) {
    Parameters parameters("");
    try {
      (parameters.*c.set)(c.value);
      EXPECT_EQ(c.refusal, "") << c.value;
    } catch (const Network_tools::Parameters::exception& refused) {
      EXPECT_EQ(refused.what(), c.refusal);
    }
  }

  Parameters parameters("");
  EXPECT_THROW(parameters.set_tries(9), Network_tools::Parameters::exception);
  EXPECT_EQ(parameters.get_tries(), 3);
  for (const protocol_t refused : {protocol_ICMP, protocol_QUIC}) {
    EXPECT_THROW(parameters.set_protocol(refused), Network_tools::Parameters::exception);
  }
  EXPECT_THROW(parameters.set_EDNS_client_subnet("10.0.0.0/33"),
               Network_tools::Parameters::exception);
  EXPECT_FALSE(parameters.has_EDNS_client_subnet());
}

TEST(DnsExperienceParameters, CachePathIsCheckedForReadingAndWriting) {
  static int failure = 0;
  Parameters parameters("");
  parameters.access_probe = [](const char*, int mode) {
    errno = mode == (R_OK | W_OK) ? failure : EINVAL;
    return errno == 0 ? 0 : -1;
  };
  const auto outcome = [&](int error) -> std::string {
    failure = error;
    try {
      parameters.set_cache_path("/data/c.dat");
      return parameters.get_cache_path();
    } catch (const Network_tools::Parameters::exception& refused) {
      return refused.what();
    }
  };
  EXPECT_EQ(outcome(0), "/data/c.dat");
  // A file that does not exist yet is created by the cache.
  EXPECT_EQ(outcome(ENOENT), "/data/c.dat");
  EXPECT_EQ(outcome(EACCES),
            "cache path: /data/c.dat is not accessible in read/write mode. check permissions");
}

TEST(DnsExperienceParameters, DigParametersOfReportedAndRootLevels) {
  Parameters parameters("/tools/");
  parameters.JSON_output = true;
  parameters.server = "127.53.4.1";
  parameters.server_port = 5353;
  parameters.set_query_type("AAAA");
  parameters.set_protocol(protocol_TCP);
  parameters.set_EDNS_client_subnet("127.53.200.9/24");
  parameters.set_tries(4);
  parameters.set_retry_timeout(2500);
  parameters.recursion = false;
  parameters.use_IPv6 = true;
  parameters.query_flags = Parameters::nsid_flag;

  Dig::Parameters dig = parameters.to_dig_wrapper();
  dig.host = "www.lab.test";
  EXPECT_EQ(dig.get_cmd_line(),
            "/tools/QV_dig -u +comment +question +tcp +subnet=127.53.200.0/24 +cd +tries=1 "
            "+timeout=2.500 +norecurse @127.53.4.1 -p 5353 +nsid -t aaaa www.lab.test 2>&1");
  EXPECT_EQ(dig.get_tries(), 4);
  EXPECT_TRUE(dig.JSON_output);

  // Moving on to another server replaces retrying the same one.
  parameters.try_next_server_upon_failure = true;
  EXPECT_EQ(parameters.to_dig_wrapper().get_tries(), 1);

  // The levels the user never sees ask the machine's resolver for NS records.
  Dig::Parameters root = parameters.get_root_servers_GTLD_dig_wrapper_parameters();
  root.host = "test.";
  EXPECT_EQ(root.get_cmd_line(),
            "/tools/QV_dig -u +comment +question +notcp +ignore +cd +tries=1 "
            "+timeout=1.500 -p 5353 +noedns -t ns test. 2>&1");
  EXPECT_EQ(root.get_tries(), 1);
  EXPECT_FALSE(root.JSON_output || root.DNSSEC || root.force_OS_behavior);
}

}  // namespace
}  // namespace Network_tools::DNS_experience
