// Fuzz target: address and subnet texts (IP::Address, IP::Subnet, IP::is_address).
//
// Input: the text.
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "frame/exception.h"
#include "frame/ip.h"
#include "support/harness.h"

using namespace Network_tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = fuzz::as_text(data, size);
  fuzz::run_input([&] {
    bool parsed = false;
    try {
      const IP::Address address(text);
      parsed = true;
      fuzz::check(!address.empty(), "a parsed address is empty");
      fuzz::check(IP::Address(address.to_string()) == address, "an address does not read back");
    } catch (const exception& refused) {
      fuzz::check(refused.error_code() == 0, "an address refusal has a code");
    }
    // Whatever the family detection of the constructor decides, it accepts exactly the literals.
    fuzz::check(parsed == IP::is_address(text), "the constructor and is_address disagree");

    try {
      const IP::Subnet subnet(text);
      const unsigned maximum = subnet.get_family() == AF_INET ? 32 : 128;
      fuzz::check(!subnet.empty() && subnet.get_prefix_length() <= maximum, "a bad prefix length");
      fuzz::check(IP::Subnet(subnet.to_string()) == subnet, "a subnet does not read back");
      // The host bits are cleared: the address alone, with the same prefix, is the same subnet.
      const std::string again =
          subnet.to_address_string() + "/" + std::to_string(subnet.get_prefix_length());
      fuzz::check(IP::Subnet(again) == subnet, "a subnet keeps host bits");
    } catch (const exception& refused) {
      fuzz::check(refused.error_code() == 0, "a subnet refusal has a code");
    }
  });
  return 0;
}
