// Names of the DNSSEC signing algorithms, as the trust chain prints them.
#ifndef NETWORK_TOOLS_DELV_ALGORITHM_H_
#define NETWORK_TOOLS_DELV_ALGORITHM_H_

#include <string>

namespace Network_tools::Delv::Algorithm {

// The mnemonic of the algorithm whose decimal number is `number`: "8" gives "RSASHA256",
// "13" gives "ECDSAP256SHA256", numbers without a mnemonic give "Unknown". Text that is not a
// number reads as 0 ("DELETE").
std::string to_string(const std::string& number);

}  // namespace Network_tools::Delv::Algorithm

#endif  // NETWORK_TOOLS_DELV_ALGORITHM_H_
