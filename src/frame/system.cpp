// Name resolution, resolver configuration, durations and splitting.
#include "frame/system.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "frame/exception.h"

namespace Network_tools {
namespace {

struct addrinfo_deleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using addrinfo_list = std::unique_ptr<addrinfo, addrinfo_deleter>;

// Asks the resolver for `host` in `family`; returns the getaddrinfo status.
int look_up(const std::string& host, int family, addrinfo_list& result) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  const int status = getaddrinfo(host.c_str(), nullptr, &hints, &list);
  result.reset(status == 0 ? list : nullptr);
  return status;
}

}  // namespace

IP::Address host_to_IP(const std::string& host, resolution_strategy_t strategy) {
  if (std::all_of(host.begin(), host.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return IP::Address();
  }

  addrinfo_list result;
  int status = 0;
  if (strategy == IPv6_first) {
    status = look_up(host, AF_INET6, result);
    const bool no_IPv6 = status == EAI_NONAME || status == EAI_NODATA || status == EAI_ADDRFAMILY ||
                         status == EAI_AGAIN || (status == 0 && result == nullptr);
    if (no_IPv6) status = look_up(host, AF_INET, result);
  } else {
    status = look_up(host, strategy == any_family ? AF_UNSPEC : AF_INET, result);
  }
  if (status != 0 || result == nullptr || result->ai_addr == nullptr) return IP::Address();

  const sockaddr* address = result->ai_addr;
  if (address->sa_family == AF_INET) {
    return IP::Address(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
  }
  if (address->sa_family == AF_INET6) {
    return IP::Address(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
  }
  throw exception("Networking::IP::Address() - Parameter error - Type not supported " +
                      std::to_string(address->sa_family),
                  0, "");
}

std::vector<std::string> get_machine_nameservers(const std::string& resolver_file) {
  std::vector<std::string> servers;
  std::ifstream file(resolver_file);
  std::string line;
  while (std::getline(file, line)) {
    line = line.substr(0, line.find('#'));
    // The keyword may be followed by a blank or a tab, as the system resolver accepts.
    if (line.find("nameserver ") == std::string::npos &&
        line.find("nameserver\t") == std::string::npos) {
      continue;
    }
    std::istringstream words(line);
    std::string keyword;
    std::string server;
    if (words >> keyword >> server) servers.push_back(server);
  }
  return servers;
}

int compute_duration(const timespec& start, const timespec& end) {
  const auto milliseconds = [](const timespec& time) {
    return static_cast<long long>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
  };
  const long long difference = milliseconds(end) - milliseconds(start);
  if (difference > INT_MAX || difference < INT_MIN)
    throw exception("Time duration overflow.", 0, "");
  return static_cast<int>(difference);
}

int milliseconds_since(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return compute_duration(start, now);
}

std::int64_t microseconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

std::vector<std::string> split(const std::string& text, char delimiter) {
  std::vector<std::string> pieces;
  std::istringstream stream(text);
  std::string piece;
  while (std::getline(stream, piece, delimiter)) pieces.push_back(piece);
  return pieces;
}

std::string to_lower_case(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string to_upper_case(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string error_text(int error) {
  std::array<char, 256> buffer{};
  // GNU strerror_r: its result is the buffer or a constant text of the C library.
  return strerror_r(error, buffer.data(), buffer.size());
}

// A C variadic function, so that the compiler checks the arguments against the format.
std::string format_text(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list measuring;
  va_copy(measuring, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length));
    // The terminating NUL goes where std::string keeps its own.
    static_cast<void>(std::vsnprintf(text.data(), text.size() + 1, format, arguments));
  }
  va_end(arguments);
  return text;
}

}  // namespace Network_tools
