// DNSSEC algorithm mnemonics.
#include "delv/algorithm.h"

#include <cstdlib>

namespace Network_tools::Delv::Algorithm {

std::string to_string(const std::string& number) {
  switch (std::strtol(number.c_str(), nullptr, 10)) {
    case 0:
      return "DELETE";
    case 1:
      return "RSAMD5";
    case 2:
      return "DH";
    case 3:
      return "DSA";
    case 5:
      return "RSASHA1";
    case 6:
      return "DSA-NSEC3-SHA1";
    case 7:
      return "RSASHA1-NSEC3-SHA1";
    case 8:
      return "RSASHA256";
    case 10:
      return "RSASHA512";
    case 12:
      return "ECCGOST";
    case 13:
      return "ECDSAP256SHA256";
    case 14:
      return "ECDSAP384SHA384";
    case 15:
      return "ED25519";
    case 16:
      return "ED448";
    case 252:
      return "INDIRECT";
    case 253:
      return "PRIVATEDNS";
    case 254:
      return "PRIVATEOID";
    default:
      return "Unknown";
  }
}

}  // namespace Network_tools::Delv::Algorithm
