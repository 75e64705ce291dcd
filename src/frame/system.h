// Small operating-system helpers: name resolution, the machine's name servers, durations, text
// splitting and case folding, and error texts.
#ifndef NETWORK_TOOLS_FRAME_SYSTEM_H_
#define NETWORK_TOOLS_FRAME_SYSTEM_H_

#include <time.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/ip.h"

namespace Network_tools {

// Address families that `host_to_IP` asks for. Unknown values behave like `IPv4_only`.
enum resolution_strategy_t : std::uint8_t {
  IPv4_only = 0,   // IPv4 addresses only
  IPv6_first = 1,  // IPv6, falling back to IPv4 when the name has none
  any_family = 2,  // whatever the system resolver prefers
};

// Resolves `host` with the system resolver and returns its first address. Returns the empty
// address when the lookup fails, and without any lookup for a text of digits only (such as "").
// Throws `Network_tools::exception` only for an address family other than IPv4 and IPv6.
IP::Address host_to_IP(const std::string& host, resolution_strategy_t strategy);

// Name servers listed by the resolver configuration, in file order; an empty list when the file
// cannot be read. Entries are not checked to be addresses. Example line:
//   nameserver 192.0.2.53   # office resolver
std::vector<std::string> get_machine_nameservers(
    const std::string& resolver_file = "/etc/resolv.conf");

// Whole milliseconds from `start` to `end`, each time first truncated to milliseconds:
// (10 s, 999999999 ns) to (11 s, 0 ns) is 1. Negative when `end` comes first. Throws
// `Network_tools::exception` "Time duration overflow." when the result does not fit an int.
int compute_duration(const timespec& start, const timespec& end);

// `compute_duration` from `start` to now, both on the wall clock (CLOCK_REALTIME).
int milliseconds_since(const timespec& start);

// Whole microseconds from `start` to now on the steady clock.
std::int64_t microseconds_since(std::chrono::steady_clock::time_point start);

// Splits at every `delimiter` as std::getline would: "a,,b" gives "a", "", "b"; "a," gives
// "a"; "" gives nothing.
std::vector<std::string> split(const std::string& text, char delimiter);

// `text` with every ASCII letter in lower case: "AAAA" gives "aaaa".
std::string to_lower_case(std::string text);
// `text` with every ASCII letter in upper case: "aaaa" gives "AAAA".
std::string to_upper_case(std::string text);

// The system's text for error number `error` ("No such file or directory" for ENOENT), safe on any
// thread, unlike std::strerror.
std::string error_text(int error);

// printf-style formatting into a string of whatever length it needs: ("%.2f", 1.5) gives "1.50".
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_SYSTEM_H_
