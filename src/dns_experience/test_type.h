// The two kinds of DNS experience test.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_TEST_TYPE_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_TEST_TYPE_H_

#include <cstdint>

namespace Network_tools::DNS_experience {

// `DNS_experience` (URL scheme "qv-dns-exp") asks one server per level; `DNS_traversal`
// ("qv-dns-trace") asks every server of every level and may ping them afterwards.
enum class test_type_t : std::uint8_t { DNS_experience = 0, DNS_traversal = 1 };

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_TEST_TYPE_H_
