// Reading the traceroute build's ping-mode text into round-trip times, errors and counters.
//
// The text looks like
//   ping to 127.53.1.1 (127.53.1.1), 128 hops max, 60 byte packets
//   128  127.53.1.1  0.045 ms  *  0.006 ms !H
//   Packet loss: Threshold violation detected
//   Duration: 6.824
//   Timedout: true
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "frame/system.h"
#include "ping/wrapper.h"

namespace Network_tools::Ping {
namespace {

// A text the parser cannot read; `output_to_JSON` turns it into the wrapper's internal error.
class Parse_failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void parsing_error(const std::string& message) {
  throw Parse_failure("Parsing error. " + message);
}

// Digits with exactly one ".": a round-trip time such as "0.045".
bool is_round_trip_time(const std::string& token) {
  return std::count(token.begin(), token.end(), '.') == 1 && token.size() > 1 &&
         std::all_of(token.begin(), token.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0 || c == '.'; });
}

bool is_number(const std::string& token) {
  return !token.empty() &&
         std::all_of(token.begin(), token.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The time as the default stream format writes it: six significant digits.
std::string round_trip_time_text(const std::string& token, const std::string& line) {
  double time = 0.0;
  try {
    time = std::stod(token);
  } catch (const std::out_of_range&) {
    parsing_error("Round-trip time out of range [" + token + "] in line " + line);
  }
  std::ostringstream text;
  text << time;
  return text.str();
}

// An address token names the destination when it is the destination itself, possibly in
// parentheses; 127.53.1.10 is not 127.53.1.1.
bool names_destination(const std::string& token, const std::string& destination) {
  std::string bare = token;
  if (bare.size() > 1 && bare.front() == '(') bare.erase(0, 1);
  if (const std::size_t close = bare.find(')'); close != std::string::npos) bare.resize(close);
  return !destination.empty() && bare == destination;
}

// The blank-separated tokens of `line`; runs of blanks give no empty tokens, except that a line
// starting with a blank gives an empty first token.
std::vector<std::string> tokens_of(const std::string& line) {
  std::vector<std::string> tokens;
  for (std::string& token : split(line, ' ')) {
    if (!token.empty() || tokens.empty()) tokens.push_back(std::move(token));
  }
  return tokens;
}

// What a text has shown so far.
struct Parse_state {
  int index = 0;  // the next probe's metric index
  std::uint32_t timeouts = 0;
  std::uint32_t unreachables = 0;
  std::string destination;
  std::string last_address;
  bool other_address_seen = false;
  bool destination_reached = false;
  bool duration_seen = false;
  bool loss_violation = false;
  std::string unreachable_details;
};

}  // namespace

std::string Wrapper::destination_unreachable_details(const std::string& code) {
  static const std::pair<const char*, const char*> known[] = {
      {"H", "Host unreachable"},          {"N", "Network unreachable"},
      {"P", "Protocol unreachable"},      {"S", "Source route failed"},
      {"F", "Fragmentation needed"},      {"X", "Communication administratively prohibited"},
      {"V", "Host precedence violation"}, {"C", "Precedence cutoff in effect"},
  };
  for (const auto& [letter, description] : known) {
    if (code == letter) return description;
  }
  if (is_number(code)) return "ICMP unreachable code " + code;
  throw std::invalid_argument("ICMP error code malformed: Expected number, got [" + code + "]");
}

std::string Wrapper::pingify(const std::string& text) {
  const std::size_t first_end = text.find('\n');
  std::string first_line = text.substr(0, first_end);
  if (const std::size_t at = first_line.find("traceroute"); at != std::string::npos) {
    first_line.replace(at, 10, "ping");
  }
  if (const std::size_t at = first_line.find("hops max"); at != std::string::npos) {
    first_line.replace(at, 8, "ttl");
  }
  if (first_end == std::string::npos) return first_line + "\n";

  std::string second_line = text.substr(first_end + 1);
  second_line.resize(std::min(second_line.size(), second_line.find('\n')));
  std::size_t digits = 0;
  while (digits < second_line.size() &&
         std::isdigit(static_cast<unsigned char>(second_line[digits]))) {
    ++digits;
  }
  if (digits > 0) second_line.replace(0, std::min(digits + 1, second_line.size()), " ");
  return first_line + "\n" + second_line + "\n";
}

void Wrapper::output_to_JSON(const std::string& native_output) {
  try {
    read_output(native_output);
  } catch (const Parse_failure& failure) {
    fail_internally(failure.what());
  }
}

void Wrapper::read_output(const std::string& native_output) {
  const bool sack_refused = parameters_.get_protocol() == protocol_in_session_TCP &&
                            !parameters_.in_session_fall_back && fall_back_reason_ != no_fall_back;
  const std::string text = sack_refused ? "" : native_output;

  error_code_ = err_t::none;
  std::string details;
  Parse_state state;
  state.index = static_cast<int>(parameters_.get_starting_RTT());
  state.timeouts = parameters_.get_timeout_count();
  state.unreachables = parameters_.get_unreachable_count();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const int wall_time_ms = compute_duration(start_time_, now);

  bool first_line = true;
  for (const std::string& line : split(text, '\n')) {
    const std::vector<std::string> tokens = tokens_of(line);
    if (tokens.empty() || tokens[0].empty() || tokens[0] == "DestinationReached:" ||
        tokens[0] == "Path") {
      continue;
    }
    auto token = [&tokens](std::size_t at) { return at < tokens.size() ? tokens[at] : ""; };

    if (first_line) {
      first_line = false;
      if (tokens[0] != "ping") {
        parsing_error("Weird first line, expected \"ping\" but got [" + tokens[0] + "] in line " +
                      line);
      }
      if (token(1) != "to") {
        parsing_error("Weird first line, expected \"to\" after \"ping\" but got [" + token(1) +
                      "] in line " + line);
      }
      const std::string address = token(3);
      const std::size_t close = address.find(')');
      if (close == std::string::npos) {
        parsing_error("Missing right bracket in [" + address + "] in line " + line);
      }
      state.destination = close > 0 ? address.substr(1, close - 1) : "";
      test_result_.add_other_data("common.results.host.address", state.destination, 0, 0);
      continue;
    }

    if (tokens[0] == "Timedout:") {
      if (token(1) == "true") error_code_ = err_t::timeout;
      continue;
    }
    if (tokens[0] == "Duration:") {
      float duration = 0.0F;
      try {
        duration = std::stof(token(1));
      } catch (const std::exception&) {
        parsing_error("Duration expected, got [" + token(1) + "] in line " + line);
      }
      // "nan" and "inf" read as floats, but no JSON number can hold them.
      if (!std::isfinite(duration)) {
        parsing_error("Duration expected, got [" + token(1) + "] in line " + line);
      }
      test_result_.add_other_data("qv-ping.results.duration.ms",
                                  duration + parameters_.get_starting_duration(), 0, 0);
      state.duration_seen = true;
      continue;
    }
    if (tokens[0] == "MSS:") {
      const std::string& text = token(1);
      int MSS = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), MSS);
      if (!is_number(text) || error != std::errc() || end != text.data() + text.size()) {
        parsing_error("MSS expected, got [" + text + "] in line " + line);
      }
      test_result_.add_other_data("qv-ping.results.path-mss", MSS, 0, 0);
      continue;
    }
    if (tokens[0] == "ECN:") continue;
    if (line.find("Packet loss: Threshold violation detected") != std::string::npos) {
      state.loss_violation = true;
      continue;
    }

    if (!is_number(tokens[0])) {
      parsing_error("Hop number expected, got [" + tokens[0] + "] in line " + line);
    }
    for (std::size_t at = 1; at < tokens.size(); ++at) {
      const std::string& current = tokens[at];
      switch (current[0]) {
        case '*':
          test_result_.add_metric_data("qv-ping.results.rtt", "null", 0, 0, state.index);
          ++state.index;
          ++state.timeouts;
          continue;
        case '!': {
          // Index -1 would name the step itself, not a probe.
          if (state.index == 0) {
            parsing_error("ICMP unreachable [" + current + "] before any probe in line " + line);
          }
          try {
            state.unreachable_details = destination_unreachable_details(current.substr(1));
          } catch (const std::invalid_argument& malformed) {
            parsing_error(malformed.what());
          }
          test_result_.add_metric_data("common.results.error-code",
                                       err_to_string(err_t::destination_unreachable), 0, 0,
                                       state.index - 1);
          test_result_.add_metric_data("common.results.error-details", state.unreachable_details, 0,
                                       0, state.index - 1);
          ++state.unreachables;
          continue;
        }
        case '<':
        case 'D':
          continue;
        case '(':
          parsing_error("Unexpected '(' found (no-resolve while pinging) in line " + line);
        default:
          break;
      }
      if (current[0] == 'F' && current.size() > 1 && current[1] == '=') continue;

      if (is_round_trip_time(current)) {
        std::string time = round_trip_time_text(current, line);
        if (state.other_address_seen && state.last_address != state.destination) {
          // A reply from another host is no reply from the destination.
          time = "null";
          test_result_.add_metric_data("common.results.host.address", state.last_address, 0, 0,
                                       state.index);
          ++state.timeouts;
        }
        if (token(at + 1) != "ms") {
          parsing_error("Expected 'ms' but found [" + token(at + 1) + "] in line " + line);
        }
        ++at;
        // An annotation such as !H after the time: the probe was answered by an unreachable.
        if (!token(at + 1).empty() && token(at + 1)[0] == '!') time = "null";
        test_result_.add_metric_data("qv-ping.results.rtt", time, 0, 0, state.index);
        ++state.index;
        continue;
      }

      if (names_destination(current, state.destination)) {
        state.last_address = state.destination;
        state.destination_reached = true;
      } else {
        test_result_.add_metric_data("common.results.host.address", current, 0, 0, state.index);
        state.last_address = current;
        state.other_address_seen = true;
      }
    }
  }

  // The probes of the whole measurement, this run's and those of a run it continues.
  const long long expected_end =
      static_cast<long long>(parameters_.get_starting_RTT()) + parameters_.get_probes();
  long long missing_probes = 0;
  if (parameters_.packet_loss_mode == 0) {
    if (state.loss_violation) missing_probes = std::max(0LL, expected_end - state.index);
  } else {
    for (long long at = state.index; at < expected_end; ++at) {
      test_result_.add_metric_data("qv-ping.results.rtt", "null", 0, 0, static_cast<int>(at));
    }
  }

  if (sack_refused) {
    error_code_ = err_t::sack_issue;
    missing_probes = 0;
  } else if (state.other_address_seen && !state.destination_reached) {
    error_code_ = err_t::destination_unrecognized;
    details = "Destination replied with a different IP address than expected";
    missing_probes = 0;
  } else if (error_code_ == err_t::none) {
    // The counters of a continued run include the earlier run's probes.
    if (state.timeouts == expected_end) {
      error_code_ = err_t::timeout;
    } else if (!state.destination_reached) {
      error_code_ = err_t::destination_unreachable;
    } else if (state.timeouts + state.unreachables == expected_end) {
      error_code_ = err_t::destination_unreachable;
      details = state.unreachable_details;
    }
  }

  test_result_.add_other_data("common.results.host.name", parameters_.host, 0, 0);
  if (error_code_ != err_t::none) {
    test_result_.add_other_data("common.results.error-code", err_to_string(error_code_), 0, 0);
    if (!details.empty()) {
      test_result_.add_other_data("common.results.error-details", details, 0, 0);
    }
  }
  if (!state.duration_seen) {
    test_result_.add_other_data(
        "qv-ping.results.duration.ms",
        static_cast<int>(static_cast<float>(wall_time_ms) + parameters_.get_starting_duration()), 0,
        0);
  }
  if (fall_back_reason_ != no_fall_back) {
    test_result_.add_other_data("qv-ping.results.fall-back-reason",
                                "qv-ping.results." + fall_back_reason_key(fall_back_reason_), 0, 0);
  }
  if (missing_probes != 0) {
    test_result_.add_other_data("qv-ping.results.missing-probes", static_cast<int>(missing_probes),
                                0, 0);
    test_result_.add_other_data("qv-ping.results.starting-rtt", state.index, 0, 0);
    test_result_.add_other_data("qv-ping.results.unreachable-count", state.unreachables, 0, 0);
    test_result_.add_other_data("qv-ping.results.timeout-count", state.timeouts, 0, 0);
    test_result_.add_other_data("common.results.monitor.state", test_result_.to_string(), 0, -1);
    test_result_.add_other_data("common.results.error-code",
                                err_to_string(err_t::packet_loss_threshold_violation), 0, 0);
  }
}

}  // namespace Network_tools::Ping
