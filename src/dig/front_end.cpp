// The Dig wrapper as a tool of its own: command-line options, the JSON input document, the
// input check and the help text.
#include <getopt.h>

#include <stdexcept>

#include "dig/wrapper.h"
#include "frame/exception.h"
#include "frame/ip.h"
#include "frame/system.h"
#include "wrapper/arguments.h"
#include "wrapper/input_values.h"
#include "wrapper/json_access.h"

namespace Network_tools::Dig {
namespace {

constexpr const char* short_options = ":6dDE:hHjn:Nop:P:Q:r:Rs:St:TUVw:xX:";

const option long_options[] = {
    {"6", no_argument, nullptr, '6'},
    {"debug", no_argument, nullptr, 'd'},
    {"dnssec", no_argument, nullptr, 'D'},
    {"dnssec-server", required_argument, nullptr, 'E'},
    {"help", no_argument, nullptr, 'h'},
    {"hostname-bind", no_argument, nullptr, 'H'},
    {"json", no_argument, nullptr, 'j'},
    {"server", required_argument, nullptr, 'n'},
    {"noedns", no_argument, nullptr, 'N'},
    {"force-os-behavior", no_argument, nullptr, 'o'},
    {"port", required_argument, nullptr, 'p'},
    {"dnssec-port", required_argument, nullptr, 'P'},
    {"timeout", required_argument, nullptr, 'Q'},
    {"tries", required_argument, nullptr, 'r'},
    {"norecurse", no_argument, nullptr, 'R'},
    {"subnet", required_argument, nullptr, 's'},
    {"nsid", no_argument, nullptr, 'S'},
    {"query-type", required_argument, nullptr, 't'},
    {"tcp", no_argument, nullptr, 'T'},
    {"udp", no_argument, nullptr, 'U'},
    {"version", no_argument, nullptr, 'V'},
    {"retry-timeout", required_argument, nullptr, 'w'},
    {"reverse-lookup", no_argument, nullptr, 'x'},
    {"test-id", required_argument, nullptr, 'X'},
    {nullptr, 0, nullptr, 0},
};

// Limits of the overall timeout, in seconds.
constexpr int minimum_timeout = 5;
constexpr int maximum_timeout = 300;

// The strategy for resolving a server name given by the user.
resolution_strategy_t strategy_for(const Parameters& parameters) {
  if (parameters.force_OS_behavior) return any_family;
  return parameters.use_IPv6 ? IPv6_first : IPv4_only;
}

// Looks `name` up as `parameters` ask; `milliseconds` gets the time the look-up took.
IP::Address timed_lookup(const Network_tools::Wrapper::host_lookup_t& lookup,
                         const std::string& name, const Parameters& parameters, int& milliseconds) {
  timespec start{}, end{};
  clock_gettime(CLOCK_REALTIME, &start);
  IP::Address address = lookup(name, strategy_for(parameters));
  clock_gettime(CLOCK_REALTIME, &end);
  milliseconds = compute_duration(start, end);
  return address;
}

// Ends the process with `code` when `problem` is not empty; for the command line.
void fatal_if(const std::string& problem, err_t code) {
  if (!problem.empty()) Wrapper::throw_fatal_error(code, problem);
}

}  // namespace

Wrapper::Wrapper(int argc, char** argv, Logger& logger, const std::string& tool_folder)
    : Network_tools::Wrapper(logger), parameters_(tool_folder) {
  // A command-line run shows errors only, unless debugging is asked for.
  logger_.set_minimum_level(LEVEL_ERROR);
  parse_arguments(argc, argv);
  add_min_options();
}

Wrapper::Wrapper(Logger& logger, const std::string& tool_folder, std::streambuf* input)
    : Network_tools::Wrapper(logger), parameters_(tool_folder) {
  // The agent that sends a document reads a result document.
  parameters_.JSON_output = true;
  handle_stdin(input);
}

void Wrapper::parse_arguments(int argc, char** argv) {
  optind = 0;  // a full restart of getopt's scan, so that a process may parse more than once
  opterr = 0;
  while (true) {
    int long_index = -1;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any other thread starts
    const int option = getopt_long(argc, argv, short_options, long_options, &long_index);
    if (option == -1) break;
    const std::string name =
        long_index >= 0 ? std::string("--") + long_options[long_index].name
                        : std::string("-") + static_cast<char>(option == ':' ? optopt : option);
    const auto string_argument = [&] { return retrieve_string_option(name, optarg); };
    const auto int_argument = [&] { return retrieve_int_option(name, optarg); };
    try {
      switch (option) {
        case '6':
          parameters_.use_IPv6 = true;
          break;
        case 'd':
          logger_.set_minimum_level(LEVEL_DEBUG);
          break;
        case 'D':
          parameters_.DNSSEC = true;
          break;
        case 'E':
          parameters_.DNSSEC_server = string_argument();
          fatal_if(host_problem(parameters_.DNSSEC_server, "DNSSEC server"), err_t::invalid_host);
          break;
        case 'h':
          throw requested_text(help_message());
        case 'H':
          hostname_bind_ = true;
          break;
        case 'j':
          parameters_.JSON_output = true;
          break;
        case 'n':
          parameters_.server = string_argument();
          fatal_if(host_problem(parameters_.server, "server"), err_t::invalid_host);
          break;
        case 'N':
          parameters_.EDNS = false;
          break;
        case 'o':
          parameters_.force_OS_behavior = true;
          break;
        case 'p':
          parameters_.set_server_port(int_argument());
          break;
        case 'P':
          parameters_.set_DNSSEC_server_port(int_argument());
          break;
        case 'Q':
          parameters_.set_timeout(int_argument(), minimum_timeout, maximum_timeout);
          break;
        case 'r':
          parameters_.set_tries(int_argument());
          break;
        case 'R':
          parameters_.recursion = false;
          break;
        case 's':
          parameters_.set_EDNS_client_subnet(string_argument());
          break;
        case 'S':
          parameters_.query_mode = query_mode_t::nsid;
          break;
        case 't':
          fatal_if(query_type_problem(string_argument()), err_t::wrong_argument_value);
          parameters_.set_query_type(string_argument());
          break;
        case 'T':
          parameters_.set_protocol(protocol_TCP);
          break;
        case 'U':
          parameters_.set_protocol(protocol_UDP);
          break;
        case 'V':
          throw requested_text(version_message());
        case 'w':
          parameters_.set_retry_timeout(int_argument());
          break;
        case 'x':
          parameters_.set_query_type("ptr");
          break;
        case 'X':
          fatal_if(text_problem("Test ID", string_argument(), max_label_length),
                   err_t::wrong_argument_value);
          logger_.set_ID(string_argument());
          break;
        case ':':
          throw_fatal_error(err_t::missing_argument_value,
                            "Option " + name + " requires an argument");
        default:
          // A short option may sit inside a group ("-jZ"); a long one is the whole argument.
          throw_fatal_error(
              err_t::unrecognized_argument,
              "Unrecognized option " + (optopt != 0 ? std::string("-") + static_cast<char>(optopt)
                                                    : std::string(argv[optind - 1])));
      }
    } catch (const std::length_error&) {
      // Absent, or the next option taken for the value; a number out of range is invalid.
      if (optarg != nullptr && optarg[0] != '\0' && optarg[0] != '-') {
        throw_fatal_error(err_t::wrong_argument_value, "Option " + name + " value is invalid");
      }
      throw_fatal_error(err_t::missing_argument_value, "Option " + name + " requires an argument");
    } catch (const std::invalid_argument&) {
      throw_fatal_error(err_t::wrong_argument_value, "Option " + name + " value is invalid");
    } catch (const Network_tools::Parameters::exception& refused) {
      throw_fatal_error(err_t::out_of_bounds_argument, refused.what());
    }
  }
  for (int index = optind; index < argc; ++index) {
    if (!parameters_.host.empty()) {
      throw_fatal_error(err_t::duplicate_host, std::string("Duplicate host ") + argv[index]);
    }
    parameters_.host = argv[index];
    fatal_if(host_problem(parameters_.host), err_t::invalid_host);
  }
}

void Wrapper::refuse_if(const std::string& problem, err_t code) {
  if (!problem.empty()) throw_exception(code, problem);
}

void Wrapper::handle_option(const JSON_member& member) {
  const std::string key(member.name.GetString(), member.name.GetStringLength());
  const rapidjson::Value& value = member.value;
  try {
    if (key == "qv-dns.test.disable-recursion") {
      parameters_.recursion = !GetBool(value);
    } else if (key == "qv-dns.test.enable-dnssec") {
      parameters_.DNSSEC = GetBool(value);
    } else if (key == "qv-dns.test.enable-hostname-bind-mode") {
      hostname_bind_ = GetBool(value);
    } else if (key == "qv-dns.test.nsid") {
      parameters_.query_mode = GetBool(value) ? query_mode_t::nsid : query_mode_t::standard;
    } else if (key == "qv-dns.test.query-type") {
      refuse_if(query_type_problem(GetString(value)), err_t::wrong_argument_value);
      parameters_.set_query_type(GetString(value));
    } else if (key == "qv-dns.test.query-retry-count") {
      parameters_.set_tries(GetInt(value));
    } else if (key == "qv-dns.test.query-retry-timeout") {
      parameters_.set_retry_timeout(GetInt(value));
    } else if (key == "qv-dns.test.server") {
      refuse_if(host_problem(GetString(value), "server"), err_t::invalid_host);
      parameters_.server = GetString(value);
    } else if (key == "qv-dns.test.subnet") {
      parameters_.set_EDNS_client_subnet(GetString(value));
    } else if (key == "qv-dns.test.dns-via-tcp") {
      parameters_.set_protocol(GetBool(value) ? protocol_TCP : protocol_unset);
    } else if (key == "common.test.test-id") {
      refuse_if(text_problem("Test ID", GetString(value), max_label_length),
                err_t::wrong_argument_value);
      logger_.set_ID(GetString(value));
    } else if (key == "common.test.max-step-time") {
      parameters_.set_timeout(GetInt(value), minimum_timeout, maximum_timeout);
    } else if (key == "test.common.url") {
      const std::string URL = GetString(value);
      refuse_if(text_problem("URL", URL, max_URL_length), err_t::wrong_argument_value);
      std::string scheme, host;
      int port = 0;
      try {
        retrieve_details_from_url(URL, scheme, host, port);
      } catch (const exception& malformed) {
        throw_exception(err_t::wrong_argument_value,
                        "Invalid URL " + URL + ": " + malformed.what());
      }
      if (scheme != "qv-dns-direct") {
        throw_exception(err_t::wrong_argument_value, "Invalid URL scheme " + scheme);
      }
      refuse_if(host_problem(host), err_t::invalid_host);
      parameters_.host = host;
      URL_ = URL;
    } else if (key == "test.common.use-ipv6") {
      parameters_.use_IPv6 = GetBool(value);
    } else if (key != "test.common.actual-runtime" &&
               key != "common.test.flag.ignore-file-size-limits" &&
               key != "common.test.max-downloads-bytes" && key != "common.test.send-data-bytes") {
      logger_.write(LEVEL_WARNING, "WARNING", "Unrecognized option: " + shown_value(key));
    }
  } catch (const std::invalid_argument& expected) {
    throw_exception(err_t::wrong_argument_value, "Capability " + shown_value(key) +
                                                     " is supposed to be " + expected.what() +
                                                     " and not " + JSON_type_name(value));
  } catch (const Network_tools::Parameters::exception& refused) {
    throw_exception(err_t::out_of_bounds_argument, refused.what());
  }
}

void Wrapper::handle_setting(const JSON_member& member) {
  const std::string name(member.name.GetString(), member.name.GetStringLength());
  const rapidjson::Value& value = member.value;
  try {
    if (name == "DebugModeOn") {
      if (GetBool(value)) logger_.set_minimum_level(LEVEL_DEBUG);
    } else if (name == "DisableEdns") {
      parameters_.EDNS = !GetBool(value);
    } else if (name == "DisableRecursion") {
      parameters_.recursion = !GetBool(value);
    } else if (name == "DnssecServerOverride") {
      refuse_if(host_problem(GetString(value), "DNSSEC server"), err_t::invalid_host);
      parameters_.DNSSEC_server = GetString(value);
    } else if (name == "Dnssec") {
      parameters_.DNSSEC = GetBool(value);
    } else if (name == "Nsid") {
      parameters_.query_mode = GetBool(value) ? query_mode_t::nsid : query_mode_t::standard;
    } else if (name == "RetryCount" || name == "Tries") {
      parameters_.set_tries(GetInt(value));
    } else if (name == "RetryTimeout") {
      parameters_.set_retry_timeout(GetInt(value));
    } else if (name == "Server") {
      refuse_if(host_problem(GetString(value), "server"), err_t::invalid_host);
      parameters_.server = GetString(value);
    } else if (name == "Timeout") {
      parameters_.set_timeout(GetInt(value), minimum_timeout, maximum_timeout);
    } else if (name == "EdnsSubnet") {
      parameters_.set_EDNS_client_subnet(GetString(value));
    } else if (name == "UseOsIpVersion") {
      parameters_.force_OS_behavior = GetBool(value);
    } else {
      logger_.write(LEVEL_WARNING, "WARNING", "Unrecognized setting: " + shown_value(name));
    }
  } catch (const std::invalid_argument& expected) {
    throw_exception(err_t::wrong_argument_value, "Setting " + name + " is supposed to be " +
                                                     expected.what() + " and not " +
                                                     JSON_type_name(value));
  } catch (const Network_tools::Parameters::exception& refused) {
    throw_exception(err_t::out_of_bounds_argument, refused.what());
  }
}

void Wrapper::input_sanity_check() {
  Parameters& p = parameters_;
  if (hostname_bind_ && p.host.empty() && p.get_query_type().empty()) {
    // A bare identity request: the query itself asks for hostname.bind.
    p.query_mode = query_mode_t::hostname_bind;
  } else {
    if (p.get_query_type().empty())
      throw_fatal_error(err_t::missing_query_type, "Missing query type");
    if (p.host.empty()) throw_fatal_error(err_t::invalid_host, "Missing host");
  }
  // A query that cannot fit in the overall time limit would end as a time-out that never
  // happened.
  if (std::uint32_t{p.get_timeout()} * 1000 <= p.get_retry_timeout()) {
    throw_fatal_error(err_t::wrong_argument_value, "Retry timeout of " +
                                                       std::to_string(p.get_retry_timeout()) +
                                                       "ms does not fit in the timeout of " +
                                                       std::to_string(p.get_timeout()) + "s");
  }

  if (!p.server.empty() && !IP::is_address(p.server)) {
    int milliseconds = 0;
    const IP::Address address = timed_lookup(host_lookup_, p.server, p, milliseconds);
    if (address.empty()) {
      throw_exception(err_t::nameserver_resolution_failure,
                      "Cannot resolve name server: " + p.server, "Cannot resolve name server");
    }
    logger_.write(LEVEL_NOTICE, "INPUT CHANGE",
                  "Server " + p.server + " resolved as " + address.to_string() + " in " +
                      std::to_string(milliseconds) + "ms");
    test_result_.add_other_data("qv-dns.results.server.address", address.to_string(), 0, 0);
    test_result_.add_other_data("qv-dns.results.server.duration.ms", milliseconds, 0, 0);
    p.server = address.to_string();
  }

  if (!p.DNSSEC_server.empty() && !IP::is_address(p.DNSSEC_server)) {
    int milliseconds = 0;
    const IP::Address address = timed_lookup(host_lookup_, p.DNSSEC_server, p, milliseconds);
    if (address.empty()) {
      logger_.write(LEVEL_WARNING, "WARNING", "Cannot resolve DNSSEC Server: " + p.DNSSEC_server);
      p.DNSSEC_server.clear();
      p.set_DNSSEC_server_port(0);
    } else {
      logger_.write(LEVEL_NOTICE, "INPUT CHANGE",
                    "DNSSEC Server " + p.DNSSEC_server + " resolved as " + address.to_string() +
                        " in " + std::to_string(milliseconds) + "ms");
      p.DNSSEC_server = address.to_string();
    }
  }

  if (p.get_query_type() == "ptr" && IP::is_address(p.host)) {
    p.query_mode = query_mode_t::reverse;
    logger_.write(LEVEL_NOTICE, "INPUT CHANGE",
                  "Digging with reverse lookup because type is ptr and host is an IP address");
  }
}

std::string Wrapper::help_message() const {
  return "Usage: dig_wrapper [ -6dDhHjNoRSTUVx ] [ -E DNSSEC server ] [ -n server ] [ -p port ] "
         "[ -P DNSSEC port ] [ -Q timeout ] [ -r ntries ] [ -s subnet ] [ -t type ] "
         "[ -w timeout ] [ -X test-ID ] host/addr\n"
         "  -6, --6                       allow IPv6 (otherwise IPv4 only)\n"
         "  -d, --debug                   debug mode: log everything on standard error\n"
         "  -D, --dnssec                  ask for DNSSEC records and validate the answer\n"
         "  -E, --dnssec-server SERVER    resolver of the DNSSEC validation\n"
         "  -h, --help                    print this help and stop\n"
         "  -H, --hostname-bind           also ask the server for its hostname.bind identity\n"
         "  -j, --json                    print the result as a JSON document\n"
         "  -n, --server SERVER           name server to ask (default: the machine's)\n"
         "  -N, --noedns                  send no EDNS\n"
         "  -o, --force-os-behavior       resolve the server name as the system would\n"
         "  -p, --port PORT               name server port (default 53)\n"
         "  -P, --dnssec-port PORT        port of the DNSSEC validation resolver\n"
         "  -Q, --timeout SECONDS         overall time limit, 5 to 300 (default 10)\n"
         "  -r, --tries N                 tries after time-outs, 1 to 5 (default 3)\n"
         "  -R, --norecurse               do not ask for recursion\n"
         "  -s, --subnet PREFIX           EDNS client subnet to send\n"
         "  -S, --nsid                    ask for the server's NSID\n"
         "  -t, --query-type TYPE         record type to ask for (a, aaaa, ns, ptr...); required,\n"
         "                                except with -x, or with -H and no host\n"
         "  -T, --tcp                     query over TCP\n"
         "  -U, --udp                     query over UDP only\n"
         "  -V, --version                 print the versions and stop\n"
         "  -w, --retry-timeout MS        time of one try, 500 to 5000 ms (default 1500)\n"
         "  -x, --reverse-lookup          reverse lookup (type ptr) of the address given\n"
         "  -X, --test-id ID              test ID for the log lines\n";
}

}  // namespace Network_tools::Dig
