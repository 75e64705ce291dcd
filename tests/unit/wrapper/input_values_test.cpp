// The checks of input values: what may reach a native tool's command line as a host or a query
// type, and free texts that reach logs and the result document.
#include "wrapper/input_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Network_tools {
namespace {

TEST(InputValuesTest, HostsAreNamesOrAddressesThatNoToolCanTakeForAnOption) {
  const std::string name_253 = std::string(63, 'a') + "." + std::string(63, 'b') + "." +
                               std::string(63, 'c') + "." + std::string(61, 'd');
  for (const std::string& host :
       std::vector<std::string>{"www.lab.test", "www.lab.test.", ".", "_dmarc.lab.test",
                                "*.lab.test", "xn--bcher-kva.de", "127.53.4.1", "2001:db8::1",
                                "::ffff:192.0.2.1", "localhost", name_253, name_253 + "."}) {
    EXPECT_EQ(host_problem(host), "") << host;
  }
  const std::string invalid = "]: not a DNS name or an IP address";
  const std::pair<std::string, std::string> refused[] = {
      {"@127.0.0.1", "Invalid host [@127.0.0.1" + invalid},
      {"$(touch /tmp/x).test", "Invalid host [$(touch /tmp/x).test" + invalid},
      {"www..test", "Invalid host [www..test" + invalid},
      {"-a.test", "Invalid host [-a.test" + invalid},
      {std::string(64, 'a') + ".test", "Invalid host [" + std::string(64, 'a') + "..." + invalid},
      {std::string("127.0.0.1\0x", 11), "Invalid host [127.0.0.1\\x00x" + invalid},
      {"b\u00fccher.de", "Invalid host [b\\xc3\\xbccher.de" + invalid},
      {"", "Invalid host [" + invalid},
      {name_253 + "d", "Host name too long: " + name_253.substr(0, 64) + "..."},
  };
  for (const auto& [host, message] : refused) EXPECT_EQ(host_problem(host), message) << host;
}

TEST(InputValuesTest, QueryTypesAreRecordTypesOrTypeNumbers) {
  for (const char* type : {"a", "AAAA", "Https", "svcb", "nsap-ptr", "any", "axfr", "type0",
                           "TYPE65535", "type01", ""}) {
    EXPECT_EQ(query_type_problem(type), "") << type;
  }
  for (const std::string& type :
       std::vector<std::string>{"type65536", "TYPE", "type-1", "type1a", "ixfr", "a "}) {
    EXPECT_EQ(query_type_problem(type),
              "Invalid query type [" + shown_value(type) + "]: not a DNS record type")
        << type;
  }
}

TEST(InputValuesTest, TextsAreBoundedUTF8WithoutControlCharacters) {
  EXPECT_EQ(text_problem("Test ID", "run 7 \xc3\xa9t\xc3\xa9", 64), "");
  EXPECT_EQ(text_problem("Test ID", std::string(64, 'x'), 64), "");
  EXPECT_EQ(text_problem("Test ID", std::string(65, 'x'), 64),
            "Test ID [" + std::string(64, 'x') + "...] over the limit of 64 bytes");
  EXPECT_EQ(text_problem("URL", "a\x7f", 64), "URL [a\\x7f] holds a control character");
  for (const char* invalid : {"\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"}) {
    EXPECT_NE(text_problem("URL", invalid, 64).find("is not valid UTF-8"), std::string::npos)
        << shown_value(invalid);
  }
}

}  // namespace
}  // namespace Network_tools
