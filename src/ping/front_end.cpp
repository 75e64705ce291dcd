// The stand-alone ping tool: command-line options, the JSON test document and the checks made
// before a run, including the continuation of a run stopped by a packet-loss violation.
#include <getopt.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "frame/exception.h"
#include "frame/ip.h"
#include "frame/system.h"
#include "ping/wrapper.h"
#include "wrapper/arguments.h"
#include "wrapper/input_values.h"
#include "wrapper/json_access.h"

namespace Network_tools::Ping {
namespace {

constexpr const char* usage =
    " [ -6dfhiIjloqTUvV ] [ -e here ] [ -F interval ] [ -L TTL ] [ -n near ] [ -N squeries ] "
    "[ -p port ] [ -P threshold ] [ -Q timeout ] [ -w timeout ] [ -W length ] [ -X test-ID ] "
    "[ -z spacing ] host";

constexpr const char* short_options = ":6Cde:fF:hiIjlL:n:N:op:P:W:q:Q:TUvVw:X:z:";

constexpr option long_options[] = {
    {"6", no_argument, nullptr, '6'},
    {"quic", no_argument, nullptr, 'C'},
    {"debug", no_argument, nullptr, 'd'},
    {"here", required_argument, nullptr, 'e'},
    {"no-in-session-fall-back", no_argument, nullptr, 'f'},
    {"high-frequency-interval", required_argument, nullptr, 'F'},
    {"help", no_argument, nullptr, 'h'},
    {"in-session-tcp", no_argument, nullptr, 'i'},
    {"icmp", no_argument, nullptr, 'I'},
    {"json", no_argument, nullptr, 'j'},
    {"loose-match", no_argument, nullptr, 'l'},
    {"ttl", required_argument, nullptr, 'L'},
    {"near", required_argument, nullptr, 'n'},
    {"sim-queries", required_argument, nullptr, 'N'},
    {"force-os-behavior", no_argument, nullptr, 'o'},
    {"port", required_argument, nullptr, 'p'},
    {"packet-loss-threshold", required_argument, nullptr, 'P'},
    {"packet-loss-window-length", required_argument, nullptr, 'W'},
    {"probes", required_argument, nullptr, 'q'},
    {"timeout", required_argument, nullptr, 'Q'},
    {"tcp", no_argument, nullptr, 'T'},
    {"udp", no_argument, nullptr, 'U'},
    {"packet-loss-threshold-violation-check", no_argument, nullptr, 'v'},
    {"version", no_argument, nullptr, 'V'},
    {"probe-timeout", required_argument, nullptr, 'w'},
    {"test-id", required_argument, nullptr, 'X'},
    {"probe-spacing", required_argument, nullptr, 'z'},
    {nullptr, 0, nullptr, 0},
};

// The word of the command line that getopt_long could not use, without any "=value".
std::string offending_word(char** argv, int index, int option_letter) {
  if (option_letter != 0 && option_letter != '?') return std::string("-") + char(option_letter);
  std::string word = argv[index - 1] != nullptr ? argv[index - 1] : "";
  if (const std::size_t equals = word.find('='); equals != std::string::npos) word.resize(equals);
  return word;
}

// Probe kinds by test URL scheme.
bool protocol_of_scheme(const std::string& scheme, protocol_t& protocol) {
  static const std::pair<const char*, protocol_t> schemes[] = {
      {"qv-ping", protocol_ICMP},    {"qv-ping-quic", protocol_QUIC},
      {"qv-ping-udp", protocol_UDP}, {"qv-ping-sack", protocol_in_session_TCP},
      {"qv-ping-tcp", protocol_TCP},
  };
  for (const auto& [name, kind] : schemes) {
    if (scheme == name) {
      protocol = kind;
      return true;
    }
  }
  return false;
}

// Makes the run a packet-loss violation check or a normal run. A continuation of a stopped
// check already holds partial results and stays one.
void choose_violation_check(Parameters& parameters, bool check) {
  if (parameters.packet_loss_mode != 2) parameters.packet_loss_mode = check ? 0 : 1;
}

}  // namespace

Wrapper::Wrapper(int argc, char** argv, Logger& logger, const std::string& tool_folder)
    : Network_tools::Wrapper(logger), parameters_(tool_folder) {
  logger_.set_minimum_level(LEVEL_ERROR);
  parse_arguments(argc, argv);
  Wrapper::add_min_options();
}

Wrapper::Wrapper(Logger& logger, const std::string& tool_folder, std::basic_streambuf<char>* input)
    : Network_tools::Wrapper(logger), parameters_(tool_folder) {
  // A monitoring agent that sends a document reads a result document.
  parameters_.JSON_output = true;
  handle_stdin(input);
}

void Wrapper::parse_arguments(int argc, char** argv) {
  bool help = false;
  bool version_asked = false;
  optind = 0;  // a fresh scan, also for a second wrapper in the same process
  opterr = 0;
  int option_index = 0;
  int letter = 0;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any other thread starts
  while ((letter = getopt_long(argc, argv, short_options, long_options, &option_index)) != -1) {
    const std::string name = std::string("-") + char(letter);
    try {
      switch (letter) {
        case '6':
          parameters_.use_IPv6 = true;
          break;
        case 'C':
          parameters_.set_protocol(protocol_QUIC);
          break;
        case 'd':
          logger_.set_minimum_level(LEVEL_DEBUG);
          break;
        case 'e':
          parameters_.set_here_factor(retrieve_int_option(name, optarg));
          break;
        case 'f':
          parameters_.in_session_fall_back = false;
          break;
        case 'F':
          parameters_.set_high_frequency_interval(retrieve_int_option(name, optarg));
          break;
        case 'h':
          help = true;
          break;
        case 'i':
          parameters_.set_protocol(protocol_in_session_TCP);
          break;
        case 'I':
          parameters_.set_protocol(protocol_ICMP);
          break;
        case 'j':
          parameters_.JSON_output = true;
          break;
        case 'l':
          parameters_.loose_match = true;
          break;
        case 'L':
          parameters_.set_TTL(retrieve_int_option(name, optarg));
          break;
        case 'n':
          parameters_.set_near_factor(retrieve_int_option(name, optarg));
          break;
        case 'N':
          parameters_.set_sim_probes(retrieve_int_option(name, optarg));
          break;
        case 'o':
          parameters_.force_OS_behavior = true;
          break;
        case 'p':
          parameters_.set_port(retrieve_int_option(name, optarg));
          break;
        case 'P':
          parameters_.set_packet_loss_threshold(retrieve_int_option(name, optarg));
          break;
        case 'W':
          parameters_.set_packet_loss_window_length(retrieve_int_option(name, optarg));
          break;
        case 'q':
          parameters_.set_probes(retrieve_int_option(name, optarg));
          break;
        case 'Q':
          parameters_.set_timeout(retrieve_int_option(name, optarg), 1, 300);
          break;
        case 'T':
          parameters_.set_protocol(protocol_TCP);
          break;
        case 'U':
          parameters_.set_protocol(protocol_UDP);
          break;
        case 'v':
          choose_violation_check(parameters_, true);
          break;
        case 'V':
          version_asked = true;
          break;
        case 'w':
          parameters_.set_probe_timeout(retrieve_int_option(name, optarg));
          break;
        case 'X':
          if (const std::string problem =
                  text_problem("Test ID", retrieve_string_option(name, optarg), max_label_length);
              !problem.empty()) {
            throw_fatal_error(err_t::wrong_argument_value, problem);
          }
          logger_.set_ID(retrieve_string_option(name, optarg));
          break;
        case 'z':
          parameters_.set_probe_spacing(retrieve_int_option(name, optarg));
          break;
        case ':':
          throw_fatal_error(
              err_t::missing_argument_value,
              "Option " + offending_word(argv, optind, optopt) + " requires an argument");
        default:
          throw_fatal_error(err_t::unrecognized_argument,
                            "Unrecognized option " + offending_word(argv, optind, optopt));
      }
    } catch (const std::length_error&) {
      throw_fatal_error(err_t::missing_argument_value, "Option " + name + " requires an argument");
    } catch (const std::invalid_argument&) {
      throw_fatal_error(err_t::wrong_argument_value, "Option " + name + " value is invalid");
    } catch (const Network_tools::Parameters::exception& refused) {
      throw_fatal_error(err_t::out_of_bounds_argument, refused.what());
    }
  }
  if (help) throw requested_text(Wrapper::help_message());
  if (version_asked) throw requested_text(Wrapper::version_message());

  for (int at = optind; at < argc; ++at) {
    if (!parameters_.host.empty()) {
      throw_fatal_error(err_t::duplicate_host, "Duplicate host " + std::string(argv[at]));
    }
    parameters_.host = argv[at];
    if (const std::string problem = host_problem(parameters_.host); !problem.empty()) {
      throw_fatal_error(err_t::wrong_argument_value, problem);
    }
  }
}

std::string Wrapper::help_message() const {
  return std::string("Usage: ping_wrapper") + usage +
         "\n"
         "Pings host (a name or an address) with the traceroute build in ping mode.\n"
         "  -6, --6                        use IPv6\n"
         "  -C, --quic                     QUIC probes\n"
         "  -d, --debug                    debug log lines\n"
         "  -e, --here=FACTOR              wait factor for replies from the same hop (0-100)\n"
         "  -f, --no-in-session-fall-back  no fall-back from in-session TCP to TCP SYN\n"
         "  -F, --high-frequency-interval=MS  total time of a high-frequency run (0-3600000)\n"
         "  -h, --help                     this text\n"
         "  -i, --in-session-tcp           in-session TCP probes\n"
         "  -I, --icmp                     ICMP ECHO probes (default)\n"
         "  -j, --json                     JSON result\n"
         "  -l, --loose-match              accept loosely matching ICMP replies\n"
         "  -L, --ttl=TTL                  TTL of every probe (32-255, default 128)\n"
         "  -n, --near=FACTOR              wait factor for replies from nearer hops (0-100)\n"
         "  -N, --sim-queries=N            probes in flight at once (1-32, default 1)\n"
         "  -o, --force-os-behavior        resolve host as the operating system would\n"
         "  -p, --port=PORT                destination port (1-65535)\n"
         "  -P, --packet-loss-threshold=PERCENT  loss that counts as a violation (0-100)\n"
         "  -q, --probes=N                 number of probes (1-1000, default 5)\n"
         "  -Q, --timeout=SECONDS          overall time limit (1-300, default 70)\n"
         "  -T, --tcp                      TCP SYN probes\n"
         "  -U, --udp                      UDP probes\n"
         "  -v, --packet-loss-threshold-violation-check  stop at the first loss window over "
         "the threshold\n"
         "  -V, --version                  version text\n"
         "  -w, --probe-timeout=SECONDS    longest wait for one probe (1-65, default 2)\n"
         "  -W, --packet-loss-window-length=MS  loss-detection window (1-10000, default 5000)\n"
         "  -X, --test-id=ID               test ID for log lines\n"
         "  -z, --probe-spacing=MS         pause between probes (1-30000)\n";
}

void Wrapper::handle_option(const JSON_member& member) {
  const std::string key(member.name.GetString(), member.name.GetStringLength());
  try {
    if (key == "test.common.url") {
      std::string scheme;
      std::string host;
      int port = 0;
      refuse_if(text_problem("URL", GetString(member.value), max_URL_length));
      try {
        retrieve_details_from_url(GetString(member.value), scheme, host, port);
      } catch (const exception& malformed) {
        throw_exception(err_t::wrong_argument_value,
                        "Capability " + shown_value(key) + " is malformed: " + malformed.what());
      }
      protocol_t protocol = protocol_unset;
      if (!protocol_of_scheme(scheme, protocol)) {
        throw_exception(err_t::wrong_argument_value, "Unsupported URL scheme " + scheme);
      }
      refuse_if(host_problem(host));
      parameters_.set_protocol(protocol);
      if (port != 0) parameters_.set_port(port);
      parameters_.host = host;
    } else if (key == "test.common.use-ipv6") {
      parameters_.use_IPv6 = GetBool(member.value);
    } else if (key == "common.test.test-id") {
      refuse_if(text_problem("Test ID", GetString(member.value), max_label_length));
      logger_.set_ID(GetString(member.value));
    } else if (key == "test.common.multi-test-node-id") {
      // Identifies the agent's node for its own bookkeeping; the ping does not depend on it.
      refuse_if(text_problem("Node ID", GetString(member.value), max_label_length));
    } else if (key == "common.test.max-step-time") {
      parameters_.set_timeout(GetInt(member.value), 1, 300);
    } else if (key == "qv-ping.test.continuous-ping-spacing") {
      parameters_.set_probe_spacing(GetInt(member.value));
    } else if (key == "test.common.flag.debug-on-error") {
      choose_violation_check(parameters_, GetBool(member.value));
    } else if (key == "test.common.monitor.state") {
      const std::string state =
          member.value.IsString() ? GetString(member.value) : JSON_to_string(member.value);
      // `TestResult::import` reads the document back with `std::quoted`.
      std::ostringstream quoted;
      quoted << std::quoted(state);
      try {
        test_result_.import(quoted.str());
      } catch (const exception& malformed) {
        throw_exception(err_t::malformed_json,
                        "Capability " + shown_value(key) + " is malformed: " + malformed.what());
      }
      test_result_.remove_other_data("common.results.monitor.state", 0, -1);
      parameters_.packet_loss_mode = 2;
    } else if (key == "test.common.actual-runtime" ||
               key == "common.test.flag.ignore-file-size-limits" ||
               key == "common.test.max-downloads-bytes") {
      // Accepted; they concern other test types.
    } else {
      logger_.write(LEVEL_WARNING, "WARNING", "Unrecognized option: " + shown_value(key));
    }
  } catch (const std::invalid_argument& expected) {
    throw_exception(err_t::wrong_argument_value, "Capability " + shown_value(key) +
                                                     " is supposed to be " + expected.what() +
                                                     " and not " + JSON_type_name(member.value));
  }
}

void Wrapper::handle_setting(const JSON_member& member) {
  const std::string name(member.name.GetString(), member.name.GetStringLength());
  try {
    if (name == "DebugModeOn") {
      logger_.set_minimum_level(GetBool(member.value) ? LEVEL_DEBUG : LEVEL_INFO);
    } else if (name == "HereFactor") {
      parameters_.set_here_factor(GetInt(member.value));
    } else if (name == "LooseMatch") {
      parameters_.loose_match = GetBool(member.value);
    } else if (name == "NearFactor") {
      parameters_.set_near_factor(GetInt(member.value));
    } else if (name == "NoInSessionTcpFallBack") {
      parameters_.in_session_fall_back = !GetBool(member.value);
    } else if (name == "PacketLossThreshold") {
      parameters_.set_packet_loss_threshold(GetInt(member.value));
    } else if (name == "PacketLossWindowLength") {
      parameters_.set_packet_loss_window_length(GetInt(member.value));
    } else if (name == "DebugOnError") {
      choose_violation_check(parameters_, GetBool(member.value));
    } else if (name == "ForbidPartialResults") {
      // A violation check stops early and leaves partial results; forbidding them makes the
      // run a normal one.
      if (GetBool(member.value)) choose_violation_check(parameters_, false);
    } else if (name == "SimProbes") {
      parameters_.set_sim_probes(GetInt(member.value));
    } else if (name == "ProbeSpacing") {
      parameters_.set_probe_spacing(GetInt(member.value));
    } else if (name == "ProbeTimeout") {
      parameters_.set_probe_timeout(GetInt(member.value));
    } else if (name == "UseOsIpVersion") {
      parameters_.force_OS_behavior = GetBool(member.value);
    }
  } catch (const std::invalid_argument& expected) {
    throw_exception(err_t::wrong_argument_value, "Setting " + name + " is supposed to be " +
                                                     expected.what() + " and not " +
                                                     JSON_type_name(member.value));
  } catch (const Network_tools::Parameters::exception& refused) {
    throw_exception(err_t::out_of_bounds_argument, refused.what());
  }
}

void Wrapper::refuse_if(const std::string& problem) {
  if (!problem.empty()) throw_exception(err_t::wrong_argument_value, problem);
}

std::string Wrapper::get_capability_related_to_setting(const std::string& setting) const {
  if (setting == "DebugOnError") return "test.common.flag.debug-on-error";
  if (setting == "ProbeSpacing") return "qv-ping.test.continuous-ping-spacing";
  return "";
}

void Wrapper::add_min_options() {
  if (!parameters_.host.empty()) {
    test_result_.add_other_data("common.results.host.name", parameters_.host, 0, 0);
  }
}

void Wrapper::input_sanity_check() {
  if (parameters_.host.empty()) throw_fatal_error(err_t::missing_host, "Missing destination");
  if (parameters_.get_protocol() == protocol_unset) {
    throw_fatal_error(err_t::trace_mode_not_specified, "Missing protocol");
  }
  if (parameters_.get_probe_spacing() != 0 && parameters_.packet_loss_mode == 2) {
    import_partial_results();
  }
  check_destination();
}

void Wrapper::import_partial_results() {
  // The stopped run wrote its counters beside its other step results.
  rapidjson::Value* step = test_result_.retrieve_data_level_pointer(0, 0, -1);
  if (!step->HasMember("OtherData") || !(*step)["OtherData"].IsObject()) {
    logger_.write(LEVEL_WARNING, "WARNING",
                  "Missing OtherData while searching for partial results");
    return;
  }
  const rapidjson::Value& data = (*step)["OtherData"];

  // Reads `key` as a number, hands it to `apply` and removes it; logs its absence.
  auto take = [&](const char* key, auto apply) {
    if (!data.HasMember(key) || !data[key].IsNumber()) {
      logger_.write(LEVEL_WARNING, "WARNING", std::string("Missing ") + key);
      return;
    }
    const double value = data[key].GetDouble();
    test_result_.remove_other_data(key, 0, 0);
    apply(value);
  };
  auto as_int = [](double value) {
    return value > 2147483647.0 || value < -2147483648.0 ? -1 : static_cast<int>(value);
  };

  // The stopped run's counters, and their names in the log.
  struct Counter {
    const char* key;
    void (Parameters::*set)(int);
    std::uint32_t (Parameters::*get)() const;
    const char* name;
  };
  static constexpr Counter counters[] = {
      {"qv-ping.results.missing-probes", &Parameters::force_set_probes, &Parameters::get_probes,
       "missing number of probes"},
      {"qv-ping.results.starting-rtt", &Parameters::set_starting_RTT, &Parameters::get_starting_RTT,
       "starting RTT"},
      {"qv-ping.results.timeout-count", &Parameters::set_timeout_count,
       &Parameters::get_timeout_count, "timeout count"},
      {"qv-ping.results.unreachable-count", &Parameters::set_unreachable_count,
       &Parameters::get_unreachable_count, "unreachable count"},
  };

  try {
    for (const Counter& counter : counters) {
      take(counter.key, [&](double value) {
        (parameters_.*counter.set)(as_int(value));
        logger_.write(LEVEL_WARNING, "INFO",
                      std::string("Partial results detected, ") + counter.name + " set to " +
                          std::to_string((parameters_.*counter.get)()));
      });
    }
    take("qv-ping.results.duration.ms", [&](double value) {
      parameters_.set_starting_duration(static_cast<float>(value));
      logger_.write(
          LEVEL_WARNING, "INFO",
          "Starting duration detected, starting duration set to " +
              format_text("%f", static_cast<double>(parameters_.get_starting_duration())));
      // The time already spent counts against the overall limit.
      const int spent_s = static_cast<int>(parameters_.get_starting_duration() / 1000.0F);
      parameters_.set_timeout(std::max(1, parameters_.get_timeout() - spent_s), 1, 300);
      logger_.write(LEVEL_WARNING, "INFO",
                    "Total timeout modified to " + std::to_string(parameters_.get_timeout()));
    });
  } catch (const Network_tools::Parameters::exception& refused) {
    throw_exception(err_t::malformed_json,
                    std::string("Partial results refused: ") + refused.what());
  }

  const char* address = "common.results.host.address";
  if (!data.HasMember(address) || !data[address].IsString()) {
    logger_.write(LEVEL_WARNING, "WARNING", "Missing common.results.host.address");
  } else {
    const std::string host = GetString(data[address]);
    if (const std::string problem = host_problem(host); !problem.empty()) {
      throw_exception(err_t::malformed_json, "Partial results refused: " + problem);
    }
    parameters_.host = host;
    test_result_.remove_other_data("common.results.host.address", 0, 0);
    logger_.write(LEVEL_WARNING, "INFO",
                  "Partial results detected, address set to " + parameters_.host);
  }
  // The stopped part's verdict covers only its own probes; this run decides the outcome of
  // the whole measurement from the carried-over counters.
  test_result_.remove_other_data("common.results.error-code", 0, 0);
  test_result_.remove_other_data("common.results.error-details", 0, 0);
}

void Wrapper::check_destination() {
  const std::string& host = parameters_.host;
  if (!IP::is_address(host)) {
    const resolution_strategy_t strategy = parameters_.force_OS_behavior ? any_family
                                           : parameters_.use_IPv6        ? IPv6_first
                                                                         : IPv4_only;
    const IP::Address address = host_lookup_(host, strategy);
    if (address.empty()) {
      throw_exception(err_t::resolution_failed, "Name or service not known for [" + host + "]");
    }
    if (address.get_family() == AF_INET && parameters_.use_IPv6) {
      logger_.write(LEVEL_INFO, "INFO",
                    "Fall-back mechanism triggered for [" + host +
                        "]. No address found for host in IPv6, running ping in IPv4");
      parameters_.use_IPv6 = false;
    }
    return;
  }
  if (IP::is_address(host, IP::IPv6_type) && !parameters_.use_IPv6) {
    throw_exception(err_t::address_failure, "Address family not supported");
  }
  if (IP::is_address(host, IP::IPv4_type) && parameters_.use_IPv6) {
    logger_.write(LEVEL_INFO, "INFO",
                  "Fall-back mechanism triggered for [" + host +
                      "]. Host is in IPv4, hence running traceroute in IPv4");
    parameters_.use_IPv6 = false;
  }
}

}  // namespace Network_tools::Ping
