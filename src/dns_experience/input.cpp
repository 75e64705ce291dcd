// The DNS experience input: the two constructors, the command-line options, the capabilities
// and settings of the JSON document, the test URL, the input check, and the help and version
// texts.
#include <getopt.h>

#include <cctype>
#include <cstring>
#include <stdexcept>

#include "dns_experience/wrapper.h"
#include "frame/exception.h"
#include "frame/system.h"
#include "ping/factory.h"
#include "wrapper/arguments.h"
#include "wrapper/input_values.h"
#include "wrapper/json_access.h"

namespace Network_tools::DNS_experience {
namespace {

// The leading ":" makes getopt report a missing argument as ':' rather than '?'.
constexpr const char* short_options = ":6bcC:dfgGhHI:jl:Lm:NOp:P:Q:r:Rs:St:TUVw:x:X:";

const option long_options[] = {
    {"6", no_argument, nullptr, '6'},
    {"bias-toward-the-best", no_argument, nullptr, 'b'},
    {"use-cached-authoritative-tld", no_argument, nullptr, 'c'},
    {"cache-path", required_argument, nullptr, 'C'},
    {"debug", no_argument, nullptr, 'd'},
    {"next-server-on-failure", no_argument, nullptr, 'f'},
    {"traversal-mode", no_argument, nullptr, 'g'},
    {"parallel-traversal", no_argument, nullptr, 'G'},
    {"help", no_argument, nullptr, 'h'},
    {"hostname-bind", no_argument, nullptr, 'H'},
    {"tld-host-ignore-list", required_argument, nullptr, 'I'},
    {"json", no_argument, nullptr, 'j'},
    {"ping-ttl", required_argument, nullptr, 'l'},
    {"ping-loose-match", no_argument, nullptr, 'L'},
    {"tld-server-minimum-failure-count", required_argument, nullptr, 'm'},
    {"noedns", no_argument, nullptr, 'N'},
    {"enable-network-outage-detection", no_argument, nullptr, 'O'},
    {"ping-probes-count", required_argument, nullptr, 'p'},
    {"ping-probe-timeout", required_argument, nullptr, 'P'},
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
    {"max-concurrent-pings", required_argument, nullptr, 'x'},
    {"test-id", required_argument, nullptr, 'X'},
    {nullptr, 0, nullptr, 0},
};

// The long option of `letter`; every letter has one.
const char* long_name_of(int letter) {
  for (const option* entry = long_options; entry->name != nullptr; ++entry) {
    if (entry->val == letter) return entry->name;
  }
  return "";
}

bool is_long_word(const std::string& word) {
  return word.rfind("--", 0) == 0;
}

// "--frobnicate=1" gives "--frobnicate".
std::string cut_at_equals(const std::string& word) {
  return word.substr(0, word.find('='));
}

void set_flag(std::uint8_t& flags, std::uint8_t flag, bool on) {
  flags = static_cast<std::uint8_t>(on ? flags | flag : flags & ~flag);
}

// Ends the process with `code` when `problem` is not empty; for the command line and the
// settings, whose failures are never forgiven.
void fatal_if(const std::string& problem, err_t code) {
  if (!problem.empty()) Wrapper::throw_fatal_error(code, problem);
}

// Fails the capability that `tool` is applying with `code` when `problem` is not empty.
void refuse_if(Wrapper& tool, const std::string& problem, err_t code) {
  if (!problem.empty()) tool.throw_exception(code, problem);
}

// The longest list of server names to ignore.
constexpr std::size_t max_list_length = 16384;

}  // namespace

Wrapper::Wrapper(Logger& logger, const std::string& tool_directory, std::streambuf* input)
    : Network_tools::Wrapper(logger), results_(logger), parameters_(tool_directory) {
  // An agent that sends a document reads a result document.
  parameters_.JSON_output = true;
  handle_stdin(input);
}

Wrapper::Wrapper(int argc, char** argv, Logger& logger, const std::string& tool_directory)
    : Network_tools::Wrapper(logger), results_(logger), parameters_(tool_directory) {
  try {
    handle_input(argc, argv);
  } catch (const requested_text&) {
    throw;
  } catch (const exception& stop) {
    Wrapper::add_min_options();
    throw exception(stop.what(), stop.error_code(),
                    parameters_.JSON_output ? test_result_.to_string() : "");
  }
  // Every result document names its test, whatever happens later.
  Wrapper::add_min_options();
}

void Wrapper::handle_input(int argc, char** argv) {
  // A command-line run shows errors only, unless debugging is asked for.
  logger_.set_minimum_level(LEVEL_ERROR);
  optind = 0;  // a full restart of getopt's scan, so that a process may parse more than once
  opterr = 0;
  while (true) {
    int long_index = -1;
    optopt = 0;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any other thread starts
    const int letter = getopt_long(argc, argv, short_options, long_options, &long_index);
    if (letter == -1) break;
    // The word getopt has just finished with (the scan has moved past it).
    const std::string word = optind > 0 && optind <= argc ? argv[optind - 1] : "";

    if (letter == '?') {
      if (optopt == 0) {
        throw_fatal_error(err_t::unrecognized_argument,
                          "Unrecognized option " + cut_at_equals(word));
      }
      // A known long option written with a value that it does not take ("--json=1").
      const std::string written = cut_at_equals(word);
      const std::string long_name = long_name_of(optopt);
      if (is_long_word(word) && word.find('=') != std::string::npos && written.size() > 2 &&
          long_name.rfind(written.substr(2), 0) == 0) {
        throw_fatal_error(err_t::unrecognized_argument,
                          "Option --" + long_name + " does not take an argument");
      }
      // A short option may sit inside a group ("-jZ"): it is named by itself.
      throw_fatal_error(err_t::unrecognized_argument,
                        std::string("Unrecognized option -") + static_cast<char>(optopt));
    }

    std::string name;
    if (letter == ':') {
      name = is_long_word(word) ? std::string("--") + long_name_of(optopt)
                                : std::string("-") + static_cast<char>(optopt);
      throw_fatal_error(err_t::missing_argument_value, "Option " + name + " requires an argument");
    }
    name = long_index >= 0 ? std::string("--") + long_options[long_index].name
                           : std::string("-") + static_cast<char>(letter);
    const auto text_argument = [&] { return retrieve_string_option(name, optarg); };
    const auto int_argument = [&] { return retrieve_int_option(name, optarg); };

    try {
      switch (letter) {
        case '6':
          parameters_.use_IPv6 = true;
          break;
        case 'b':
          parameters_.bias_towards_best = true;
          break;
        case 'c':
          parameters_.cache_TLD = true;
          break;
        case 'C':
          fatal_if(text_problem("Cache path", text_argument(), max_path_length),
                   err_t::wrong_argument_value);
          parameters_.set_cache_path(text_argument());
          break;
        case 'd':
          logger_.set_minimum_level(LEVEL_DEBUG);
          break;
        case 'f':
          parameters_.try_next_server_upon_failure = true;
          break;
        case 'g':
          parameters_.test_type = test_type_t::DNS_traversal;
          parameters_.run_log_tag = "DNS-T RUN";
          break;
        case 'G':
          parameters_.parallel_traversal = true;
          break;
        case 'h':
          throw requested_text(Wrapper::help_message());
        case 'H':
          set_flag(parameters_.query_flags, Parameters::hostname_bind_flag, true);
          break;
        case 'I':
          fatal_if(text_problem("Server list", text_argument(), max_list_length),
                   err_t::wrong_argument_value);
          parameters_.set_tld_host_ignore_list(parse_tld_host_ignore_list(text_argument()));
          break;
        case 'j':
          parameters_.JSON_output = true;
          break;
        case 'l':
          parameters_.set_ping_probe_ttl(int_argument());
          break;
        case 'L':
          parameters_.ping_loose_match = true;
          break;
        case 'm':
          parameters_.set_tld_server_minimum_failure_count(int_argument());
          break;
        case 'N':
          parameters_.EDNS = false;
          break;
        case 'O':
          parameters_.network_outage_detection = true;
          break;
        case 'p':
          parameters_.set_ping_probes_count(int_argument());
          break;
        case 'P':
          parameters_.set_ping_probe_timeout(int_argument());
          break;
        case 'Q':
          parameters_.set_timeout(int_argument());
          parameters_.timeout_given = true;
          break;
        case 'r':
          parameters_.set_tries(int_argument());
          break;
        case 'R':
          parameters_.recursion = false;
          break;
        case 's':
          parameters_.set_EDNS_client_subnet(text_argument());
          break;
        case 'S':
          set_flag(parameters_.query_flags, Parameters::nsid_flag, true);
          break;
        case 't':
          fatal_if(query_type_problem(text_argument()), err_t::wrong_argument_value);
          parameters_.set_query_type(text_argument());
          break;
        case 'T':
          parameters_.set_protocol(protocol_TCP);
          break;
        case 'U':
          parameters_.set_protocol(protocol_UDP);
          break;
        case 'V':
          throw requested_text(Wrapper::version_message());
        case 'w':
          parameters_.set_retry_timeout(int_argument());
          break;
        case 'x':
          parameters_.set_max_concurrent_pings(int_argument());
          break;
        case 'X':
          fatal_if(text_problem("Test ID", text_argument(), max_label_length),
                   err_t::wrong_argument_value);
          logger_.set_ID(text_argument());
          break;
        default:
          throw_internal_error("Option " + name + " has no handler");
      }
    } catch (const std::length_error&) {
      // Absent or empty, the next option taken for the value, or a number out of range.
      throw_fatal_error(err_t::missing_argument_value, "Option " + name + " requires an argument");
    } catch (const std::invalid_argument&) {
      throw_fatal_error(err_t::out_of_bounds_argument, "Option " + name + " argument is invalid");
    } catch (const Network_tools::Parameters::exception& refused) {
      throw_fatal_error(err_t::out_of_bounds_argument, refused.what());
    }
  }

  // The one word left after the options is the host; a second one would silently change the
  // test, so it is refused.
  if (argc - optind > 1) {
    throw_fatal_error(err_t::duplicate_host, std::string("Duplicate destination hosts: [") +
                                                 argv[optind] + "] and [" + argv[optind + 1] + "]");
  }
  if (optind < argc) {
    parameters_.host = argv[optind];
    fatal_if(host_problem(parameters_.host), err_t::invalid_host);
  }
}

void Wrapper::handle_option(const JSON_member& member) {
  const std::string key(member.name.GetString(), member.name.GetStringLength());
  const rapidjson::Value& value = member.value;
  Parameters& p = parameters_;
  try {
    if (key == "qv-dns.test.exp-bias-towards-best") {
      p.bias_towards_best = GetBool(value);
    } else if (key == "qv-dns.test.exp-cache-tld") {
      p.cache_TLD = GetBool(value);
    } else if (key == "test.common.flag.debug-on-error") {
      if (GetBool(value)) p.set_ping_probes_count(3);
    } else if (key == "qv-dns.test.disable-recursion") {
      p.recursion = !GetBool(value);
    } else if (key == "qv-dns.test.flag.enable-network-outage-detection") {
      p.network_outage_detection = GetBool(value);
    } else if (key == "qv-dns.test.enable-hostname-bind-mode") {
      set_flag(p.query_flags, Parameters::hostname_bind_flag, GetBool(value));
    } else if (key == "qv-dns.test.nsid") {
      set_flag(p.query_flags, Parameters::nsid_flag, GetBool(value));
    } else if (key == "qv-dns.test.parallel-traversal") {
      p.parallel_traversal = GetBool(value);
    } else if (key == "qv-dns.test.query-type") {
      refuse_if(*this, query_type_problem(GetString(value)), err_t::wrong_argument_value);
      p.set_query_type(GetString(value));
    } else if (key == "qv-dns.test.subnet") {
      const std::string subnet = GetString(value);
      try {
        p.set_EDNS_client_subnet(subnet);
      } catch (const Network_tools::Parameters::exception& refused) {
        throw_exception(err_t::wrong_argument_value, refused.what());
      }
    } else if (key == "qv-dns.test.dns-via-tcp") {
      p.set_protocol(GetBool(value) ? protocol_TCP : protocol_UDP);
    } else if (key == "common.test.test-id") {
      refuse_if(*this, text_problem("Test ID", GetString(value), max_label_length),
                err_t::wrong_argument_value);
      logger_.set_ID(GetString(value));
    } else if (key == "qv-dns.test.tld-host-ignore-list") {
      refuse_if(*this, text_problem("Server list", GetString(value), max_list_length),
                err_t::wrong_argument_value);
      p.set_tld_host_ignore_list(parse_tld_host_ignore_list(GetString(value)));
    } else if (key == "qv-dns.test.tld-server-minimum-failure-count") {
      p.set_tld_server_minimum_failure_count(GetInt(value));
    } else if (key == "common.test.max-step-time") {
      p.set_timeout(GetInt(value));
      p.timeout_given = true;
    } else if (key == "qv-dns.test.exp-try-next-server-upon-failure") {
      p.try_next_server_upon_failure = GetBool(value);
    } else if (key == "test.common.url") {
      apply_URL(key, GetString(value));
    } else if (key == "test.common.use-ipv6") {
      p.use_IPv6 = GetBool(value);
    } else if (key == "test.common.actual-runtime" ||
               key == "common.test.flag.ignore-file-size-limits" ||
               key == "common.test.max-downloads-bytes" || key == "common.test.send-data-bytes") {
      logger_.write(LEVEL_DEBUG, "CAPABILITIES", "Ignoring option: " + key);
    } else {
      logger_.write(LEVEL_WARNING, "WARNING", "Unrecognized option: " + shown_value(key));
    }
  } catch (const std::invalid_argument& expected) {
    throw_exception(err_t::wrong_argument_value, "Capability " + shown_value(key) +
                                                     " is supposed to be " + expected.what() +
                                                     " and not " + JSON_type_name(value));
  } catch (const Network_tools::Parameters::exception& refused) {
    throw_exception(err_t::out_of_bounds_argument, refused.what());
  } catch (const exception& failure) {
    // A failure that already carries its own code (a second URL, a bad subnet) goes on as it is.
    if (failure.error_code() != 0) throw;
    throw_exception(err_t::wrong_argument_value, failure.what());
  }
}

void Wrapper::apply_URL(const std::string& key, const std::string& URL) {
  Parameters& p = parameters_;
  refuse_if(*this, text_problem("URL", URL, max_URL_length), err_t::wrong_argument_value);
  if (!p.host.empty()) {
    throw_exception(err_t::duplicate_host,
                    "Duplicate destination hosts: [" + p.host + "] and [" + URL + "]");
  }
  url_ = URL;
  std::string scheme, host;
  int port = 0;  // the test always asks port 53 of each server: the URL's port is not used
  try {
    retrieve_details_from_url(URL, scheme, host, port);
  } catch (const exception& malformed) {
    throw_exception(
        err_t::wrong_argument_value,
        "Capability " + shown_value(key) + " is not a properly formatted url: " + malformed.what());
  }
  refuse_if(*this, host_problem(host), err_t::invalid_host);
  p.host = to_lower_case(host);
  if (scheme == "qv-dns-exp") {
    p.test_type = test_type_t::DNS_experience;
    p.run_log_tag = "DNS-E RUN";
  } else if (scheme == "qv-dns-trace") {
    p.test_type = test_type_t::DNS_traversal;
    p.run_log_tag = "DNS-T RUN";
  } else {
    throw_exception(err_t::wrong_argument_value,
                    "Invalid scheme [" + scheme + "] in url [" + URL + "]");
  }
  // TCP asked for before the URL survives it.
  if (p.get_protocol() != protocol_TCP) p.set_protocol(protocol_UDP);
}

void Wrapper::handle_setting(const JSON_member& member) {
  const std::string name(member.name.GetString(), member.name.GetStringLength());
  const rapidjson::Value& value = member.value;
  Parameters& p = parameters_;
  try {
    if (name == "BiasPercentage") {
      p.set_bias_percentage(GetInt(value));
    } else if (name == "DataDirectory") {
      fatal_if(text_problem("Setting DataDirectory", GetString(value), max_path_length),
               err_t::wrong_argument_value);
      p.set_cache_path(GetString(value) + "/" + Parameters::cache_file_name);
    } else if (name == "CnameTraversalLimit") {
      p.set_CNAME_traversal_limit(GetInt(value));
    } else if (name == "DebugModeOn") {
      logger_.set_minimum_level(GetBool(value) ? LEVEL_DEBUG : LEVEL_INFO);
    } else if (name == "DisableEdns") {
      p.EDNS = !GetBool(value);
    } else if (name == "DisableRecursion") {
      p.recursion = !GetBool(value);
    } else if (name == "MaxCachedEntries") {
      p.set_max_cached_entries(GetInt(value));
    } else if (name == "Nsid") {
      set_flag(p.query_flags, Parameters::nsid_flag, GetBool(value));
    } else if (name == "ParallelTraversal") {
      p.parallel_traversal = GetBool(value);
    } else if (name == "RetryTimeout") {
      p.set_retry_timeout(GetInt(value));
    } else if (name == "RootServerCacheTtl") {
      p.set_root_server_cache_TTL(GetInt(value));
    } else if (name == "EdnsSubnet") {
      const std::string subnet = GetString(value);
      try {
        p.set_EDNS_client_subnet(subnet);
      } catch (const Network_tools::Parameters::exception& refused) {
        throw_fatal_error(err_t::wrong_argument_value, refused.what());
      }
    } else if (name == "Timeout") {
      p.set_timeout(GetInt(value));
      p.timeout_given = true;
    } else if (name == "Tries") {
      p.set_tries(GetInt(value));
    } else if (name == "PingProbesCount") {
      p.set_ping_probes_count(GetInt(value));
    } else if (name == "PingProbeTimeout") {
      p.set_ping_probe_timeout(GetInt(value));
    } else if (name == "PingTtl") {
      p.set_ping_probe_ttl(GetInt(value));
    } else if (name == "PingLooseMatch") {
      p.ping_loose_match = GetBool(value);
    } else if (name == "MaxConcurrentPings") {
      p.set_max_concurrent_pings(GetInt(value));
    } else {
      logger_.write(LEVEL_WARNING, "SETTINGS", "Unrecognized setting: " + shown_value(name));
    }
  } catch (const std::invalid_argument& expected) {
    throw_fatal_error(err_t::wrong_argument_value, "Setting " + name + " is supposed to be " +
                                                       expected.what() + " and not " +
                                                       JSON_type_name(value));
  } catch (const Network_tools::Parameters::exception& refused) {
    throw_fatal_error(err_t::out_of_bounds_argument, refused.what());
  } catch (const exception& failure) {
    throw_fatal_error(err_t::wrong_argument_value, failure.what());
  }
}

std::string Wrapper::get_capability_related_to_setting(const std::string& setting) const {
  if (setting == "DisableRecursion") return "qv-dns.test.disable-recursion";
  if (setting == "Nsid") return "qv-dns.test.nsid";
  if (setting == "ParallelTraversal") return "qv-dns.test.parallel-traversal";
  if (setting == "EdnsSubnet") return "qv-dns.test.subnet";
  if (setting == "Timeout") return "common.test.max-step-time";
  return "";
}

void Wrapper::add_min_options() {
  if (!url_.empty()) {
    test_result_.add_other_data("qv-dns.results.url", url_, 0, -1);
  } else if (!parameters_.host.empty()) {
    test_result_.add_other_data("qv-dns.results.url", parameters_.host, 0, -1);
  }
  if (parameters_.has_EDNS_client_subnet()) {
    test_result_.add_other_data("qv-dns.results.edns-client-subnet",
                                parameters_.get_EDNS_client_subnet().to_string(), 0, -1);
  }
}

void Wrapper::input_sanity_check() {
  if (parameters_.host.empty()) throw_fatal_error(err_t::missing_host, "Missing Host");
  if (parameters_.get_query_type().empty()) {
    throw_fatal_error(err_t::missing_query_type, "Missing query type");
  }
}

std::string Wrapper::help_message() const {
  // The defaults quoted are a fresh parameter set's, whatever options were given so far.
  return "Usage:\nDNS_experience"
         " [ -6bcdfgGhHjLNOSTUV ] [ -C cache_path ] [ -I host1,host2,...,hostN ] [ -l ttl ] "
         "[ -m tld_count ] [ -p ping_probe_count ] [ -P ping_probe_timeout ] [ -Q timeout ] "
         "[ -r ntries ] [ -s subnet ] [ -t type ] [ -w timeout ] [ -x concurrent_pings ] "
         "[ -X test-ID ] host/addr\n"
         "Options:\n"
         "  -6                                   Enable usage of IPv6. Fallback to IPv4 if "
         "needed\n"
         "  -b  --bias-toward-the-best           The server that had the quicker resolution will "
         "be chosen 80% of the time\n"
         "  -c  --use-cached-authoritative-tld   Allow the algorithm to skip query to Top Level "
         "Domain if present in cache.\n"
         "  -C path --cache-path path            Path to a readable and writable file to use to "
         "use for caching purposes. If the file doesn't exist will be created\n"
         "                                       If the parameter is missing the program\n"
         "                                       will reuse only results of the current run.\n"
         "  -d  --debug                          Debug mode on\n"
         "  -f  --next-server-on-failure         If an authoritative does not respond try the "
         "next one\n"
         "                                       If set, --tries/-r will be used as a maximum "
         "number\n"
         "                                       of servers to query on failure.\n"
         "  -g  --traversal-mode                 Use DNS Traversal mode as the test type.\n"
         "  -G  --parallel-traversal             In DNS Traversal mode, query the servers of a "
         "level at the same time\n"
         "                                       (at most 16 at once); the result is the same, "
         "only the times differ.\n"
         "  -h  --help                           Print this help and exit\n"
         "  -H  --hostname-bind                  Perform an additional query for hostname on "
         "BIND servers on address records\n"
         "  -I hosts --tld-host-ignore-list hosts\n"
         "                                       Comma-separated (host1,host2,...,hostN) TLD "
         "server hostname list to be ignored during outage detection.\n"
         "  -j  --json                           Provide output in JSON format\n"
         "  -l ttl  --ping-ttl ttl               Set the TTL to use for the ICMP probes. "
         "Default: 128\n"
         "  -L  --ping-loose-match               Accept ICMP replies with different IP ID and/or "
         "Sequence Number\n"
         "  -m count --tld-server-minimum-failure-count count\n"
         "                                       Set the minimum number of timed out TLD servers "
         "required for outage detection.\n"
         "                                       Default: 7\n"
         "  -N  --noedns                         Forbid dig to use EDNS\n"
         "  -O  --enable-network-outage-detection\n"
         "                                       Enable network outage detection and skip ping "
         "diagnostics when detected.\n"
         "  -p count  --ping-probes-count count  Set the number of ICMP probes to send per "
         "server. Default: 5\n"
         "  -P timeout  --ping-probe-timeout timeout\n"
         "                                       Set the number of seconds to wait for an ICMP "
         "probe reply.\n"
         "                                       Default: 2s\n"
         "  -Q timeout  --timeout timeout        Set a maximum timeout in seconds for DNS "
         "experience completion. Default: 15\n"
         "  -r ntries  --tries ntries            Set the number of tries to apply on failures. "
         "Default: 3\n"
         "                                       If --next-server-on-failure/-f is set, the "
         "number of retry\n"
         "                                       per server would be 1 while a maximum of ntries "
         "different\n"
         "                                       servers could be queried.\n"
         "  -R  --norecurse                      Forbid dig to send recursive queries\n"
         "  -s subnet  --subnet subnet           Send an EDNS Client Subnet option with the\n"
         "                                       specified IP address or network prefix\n"
         "  -S  --nsid                           Include an EDNS name server ID request in the "
         "query\n"
         "  -t type  --query-type type           Specify the query type. Default: A\n"
         "  -T  --tcp                            Use TCP for digging\n"
         "  -U  --udp                            Use UDP for digging\n"
         "  -V  --version                        Print version info and exit\n"
         "  -w timeout  --retry-timeout timeout  Set the number of milliseconds to wait for "
         "response to\n"
         "                                       a single query (one query). Default: 1500ms\n"
         "  -x val --max-concurrent-pings=<val>  Set the maximum concurrent ping queries that can "
         "be started. Default: 5\n"
         "  -X  --test-id                        Set the test ID for logging purposes\n"
         "\n"
         "Arguments:\n"
         "+     host                             The host to resolve\n";
}

std::string Wrapper::version_message() const {
  // The sub-wrappers reach the system through this wrapper's hooks.
  const auto share_hooks = [this](Network_tools::Wrapper& other) {
    other.set_host_lookup(host_lookup_);
    other.set_command_launcher(command_launcher_);
    other.set_command_reader(command_reader_);
    other.set_resolver_configuration(resolver_configuration_);
  };

  Dig::Wrapper dig(logger_, parameters_.to_dig_wrapper());
  share_hooks(dig);
  std::string text = dig.version_message();
  if (const std::size_t at = text.find("Dig"); at != std::string::npos) {
    text.replace(at, 3, "DnsExperience");
  }

  // The probe settings do not change the version; one that the ping wrapper would refuse (a TTL
  // under 32) is left at its default rather than keeping the version from being printed.
  Ping::Parameters ping(parameters_.get_tool_folder());
  const auto apply = [](const auto& set) {
    try {
      set();
    } catch (const Network_tools::Parameters::exception&) {
    }
  };
  apply([&] { ping.set_TTL(parameters_.get_ping_probe_TTL()); });
  apply([&] { ping.set_probes(parameters_.get_ping_probes_count()); });
  apply([&] { ping.set_probe_timeout(parameters_.get_ping_probe_timeout()); });
  std::unique_ptr<Ping::Wrapper> pinger;
  Ping::WrapperFactory().create(logger_, ping, pinger);
  share_hooks(*pinger);
  const std::string ping_text = pinger->version_message();
  if (const std::size_t line_end = ping_text.find('\n'); line_end != std::string::npos) {
    text += ping_text.substr(line_end + 1);
  }
  return text;
}

std::vector<std::string> parse_tld_host_ignore_list(const std::string& text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  std::vector<std::string> names;
  for (std::string piece : split(text, ',')) {
    while (!piece.empty() && blank(piece.back())) piece.pop_back();
    std::size_t first = 0;
    while (first < piece.size() && blank(piece[first])) ++first;
    piece.erase(0, first);
    if (!piece.empty()) names.push_back(std::move(piece));
  }
  return names;
}

}  // namespace Network_tools::DNS_experience
