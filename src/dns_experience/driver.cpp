// The resolution driver: one pass per level of the DNS hierarchy, from the machine's resolver
// down to the server that answers, the stop rules and limits, the overall timeout, and the
// final steps that turn the results model into the printed result.
#include <time.h>

#include <algorithm>

#include "dns_experience/results/step_json.h"
#include "dns_experience/wrapper.h"
#include "frame/exception.h"
#include "frame/system.h"

namespace Network_tools::DNS_experience {
namespace {

// Most levels reported to the user.
constexpr std::int32_t max_reported_levels = 16;

void restart_clock(timespec& start) {
  clock_gettime(CLOCK_REALTIME, &start);
}

}  // namespace

std::string Wrapper::run() {
  start_run();
  if (parameters_.get_query_type() == "ptr") return direct_reverse_lookup();

  Walk walk(parameters_.get_root_servers_GTLD_dig_wrapper_parameters());
  // Names are compared without case (the cache is keyed by them): the labels are lower-cased.
  walk.labels = split(to_lower_case(parameters_.host), '.');
  if (walk.labels.size() < 2) {
    throw_exception(err_t::invalid_host,
                    "Not enough subdomains in target hostname" + parameters_.host);
  }
  walk.target = ".";
  try {
    walk_levels(walk);
    finish_checks();
  } catch (const exception& error) {
    handle_run_error(error);
  }
  return final_steps(walk.dig);
}

void Wrapper::start_run() {
  const std::string& tag = parameters_.run_log_tag;
  if (parameters_.test_type == test_type_t::DNS_traversal) {
    if (parameters_.try_next_server_upon_failure) {
      parameters_.try_next_server_upon_failure = false;
      logger_.write(LEVEL_WARNING, tag,
                    "Option next-server-on-failure is not compatible with DNS Traversal test "
                    "type and will be ignored.");
    }
    if (parameters_.bias_towards_best) {
      parameters_.bias_towards_best = false;
      logger_.write(LEVEL_WARNING, tag,
                    "Option bias-toward-the-best is not compatible with DNS Traversal test type "
                    "and will be ignored.");
    }
    if (!parameters_.timeout_given) {
      parameters_.set_timeout(30);
      logger_.write(LEVEL_INFO, tag,
                    "Test timeout is not provided explicitly for DNS Traversal, it is set to the "
                    "default value (in sec):30");
    }
  }
  if (parameters_.parallel_traversal && parameters_.test_type != test_type_t::DNS_traversal) {
    parameters_.parallel_traversal = false;
    logger_.write(LEVEL_WARNING, tag,
                  "Option parallel-traversal applies to DNS Traversal tests only and will be "
                  "ignored.");
  }
  restart_clock(start_time_);
  logger_.write(LEVEL_NOTICE, tag,
                std::string("DNS Experience algorithm start (JSON output: ") +
                    (parameters_.JSON_output ? "1" : "0") + "), hostname: " + parameters_.host);

  root_parameters_active_ = true;
  logger_.write(LEVEL_DEBUG, tag, "Loading dependencies");
  if (!dig_wrapper_) {
    dig_wrapper_ = make_dig_wrapper(parameters_.get_root_servers_GTLD_dig_wrapper_parameters());
  }
  if (!cache_) {
    cache_ =
        std::make_unique<Cache>(logger_, parameters_.get_cache_path(),
                                static_cast<std::uint32_t>(parameters_.get_max_cached_entries()));
  }
  level_ = 0;
  if (results_.resolutions.empty()) results_.start_alias_traversal();
}

std::string Wrapper::direct_reverse_lookup() {
  results_.direct_lookup = true;
  logger_.write(LEVEL_INFO, parameters_.run_log_tag, "Running a direct reverse lookup");
  restart_clock(start_time_);
  Dig::Parameters dig = parameters_.to_dig_wrapper();
  // A name is asked for its PTR records as it is; an address is turned into its reverse name.
  if (IP::is_address(parameters_.host)) dig.query_mode = Dig::query_mode_t::reverse;
  query_nameservers({}, dig, parameters_.host, false);
  if (!parameters_.JSON_output) {
    raw_output_ << "## Reverse lookup time: " << results_.total_duration_ms << "ms\n";
  }
  results_.fill_test_results(test_result_, parameters_);
  return parameters_.JSON_output ? test_result_.to_string() : raw_output_.str();
}

void Wrapper::walk_levels(Walk& walk) {
  while (true) {
    Cache::output_t cache_output = Cache::servers_only;
    bool use_cache = false;
    begin_pass(walk, cache_output, use_cache);
    if (!use_cache || !take_level_from_cache(walk, cache_output)) {
      if (results_.reported_level_count == max_reported_levels) {
        throw_exception(err_t::too_many_levels, "Maximum number of servers allowed reached");
      }
      walk.response = query_nameservers(std::move(walk.servers), walk.dig, walk.target, use_cache);
      walk.servers = walk.response.name_servers;
    }
    if (stop_or_move_on(walk)) return;
    check_limits();
  }
}

void Wrapper::begin_pass(Walk& walk, Cache::output_t& cache_output, bool& use_cache) {
  const std::string& tag = parameters_.run_log_tag;
  ++query_count_;
  ++level_;
  logger_.write(
      LEVEL_INFO, tag,
      "Target host: " + walk.target + ", hosts resolved so far: " + std::to_string(query_count_));
  logger_.write(LEVEL_DEBUG, tag,
                "Current traversal: " + std::to_string(results_.resolutions.size() - 1) +
                    ", current level: " + std::to_string(level_));
  // The test time counts from the first reported level: the root and top-level-domain levels
  // before it may take longer than the whole test is given (they only warn), so the clock is
  // restarted before it is checked.
  if (query_count_ == 3) {
    restart_clock(start_time_);
    logger_.write(LEVEL_DEBUG, tag, "Started timer level: 3");
  }
  check_timeout();

  if (level_ < 3) {
    logger_.write(LEVEL_DEBUG, tag, "Enabling cache for level not reported to core");
    use_cache = true;
    cache_output = Cache::servers_only;
  } else if (level_ == 3 && parameters_.cache_TLD) {
    use_cache = true;
    cache_output = parameters_.JSON_output ? Cache::servers_and_json : Cache::servers_raw_and_json;
    logger_.write(LEVEL_DEBUG, tag,
                  "Enabling optional cache for level " + std::to_string(cache_output));
  } else {
    logger_.write(LEVEL_DEBUG, tag, "Cache not used for level: " + std::to_string(level_));
  }

  if (level_ > 2 && root_parameters_active_) {
    walk.dig = parameters_.to_dig_wrapper();
    if (!walk.servers.empty()) walk.dig.server = walk.servers.back().address.to_string();
    std::string name;
    for (const std::string& label : walk.labels) name += label + ".";
    walk.target = name + walk.target;
    walk.labels.clear();
    logger_.write(LEVEL_DEBUG, tag,
                  "Resetting to original query type: " + parameters_.get_query_type() +
                      " and original host: " + parameters_.host);
    root_parameters_active_ = false;
  }

  if (walk.target == ".") {
    logger_.write(LEVEL_DEBUG, tag, "Getting nameservers from the machine");
    const std::vector<std::string> machine = load_nameservers(parameters_.use_IPv6);
    // The first configured resolver ends last: it is asked first.
    for (auto resolver = machine.rbegin(); resolver != machine.rend(); ++resolver) {
      walk.servers.push_back(ServerInfo{*resolver, IP::Address(*resolver), 0});
    }
    if (walk.servers.empty()) {
      throw_fatal_error(err_t::no_local_resolver_available, "No local resolver was found.");
    }
    walk.dig.server = walk.servers.back().address.to_string();
  }
}

bool Wrapper::take_level_from_cache(Walk& walk, Cache::output_t cache_output) {
  const std::string& tag = parameters_.run_log_tag;
  std::vector<ServerInfo> cached_servers;
  std::string cached_output, cached_json;
  if (!cache_->get_cached_answer(walk.target, cache_output, cached_servers, cached_output,
                                 cached_json)) {
    return false;
  }
  if (cache_output == Cache::servers_only) {
    logger_.write(LEVEL_DEBUG, tag, "No previous output needed");
  } else if (cache_output == Cache::servers_raw_and_json) {
    logger_.write(LEVEL_DEBUG, tag,
                  "Retrieved name server query from cache. Output:\n" + cached_output);
  }
  logger_.write(LEVEL_DEBUG, tag, "Retrieved name server query json from cache. \n" + cached_json);

  // An entry that another build wrote, or that was damaged, must not fail every run until it
  // expires: it is queried again, and the answer replaces it. The servers of the level stay
  // those to ask until the cached level is accepted.
  const std::string title = raw_output_title();
  std::string domain = walk.target;
  bool usable = false;
  try {
    // Refuses a text that is no step, and (throwing) an entry without servers.
    usable = results_.add_level(cached_json, cached_servers, level_, true, domain);
  } catch (const exception& unusable) {
    logger_.write(LEVEL_DEBUG, tag, std::string("Cached level refused: ") + unusable.what());
    usable = false;
  }
  if (!usable) {
    logger_.write(LEVEL_WARNING, tag, "Json retrieved from Cache was malformed, redoing the query");
    return false;
  }
  if (cache_output == Cache::servers_raw_and_json) {
    raw_output_ << title << " *Cached*\n" << cached_output << "\n";
  }
  walk.response.reset();
  walk.response.relative_authoritative_domain = walk.target;
  walk.servers = std::move(cached_servers);
  return true;
}

bool Wrapper::stop_or_move_on(Walk& walk) {
  const std::string& tag = parameters_.run_log_tag;
  const ParsedResponse& response = walk.response;
  if (walk.dig.get_query_type() == "any" && response.has_answer) {
    logger_.write(LEVEL_INFO, tag, "Stopping at first reply with answers with type ANY");
    return true;
  }
  if (response.has_alias) {
    if (!need_alias_resolution(walk.target, walk.labels, walk.servers)) {
      logger_.write(LEVEL_INFO, tag,
                    "Level with alias can be resolved to target record type. Experience complete");
      return true;
    }
    logger_.write(LEVEL_INFO, tag,
                  "Starting alias traversal: " + std::to_string(results_.resolutions.size() - 1));
    if (level_ < 3) {
      logger_.write(LEVEL_DEBUG, tag, "Querying non reported levels after CNAME resolution");
      const std::string server = walk.dig.server;
      walk.dig = parameters_.get_root_servers_GTLD_dig_wrapper_parameters();
      walk.dig.server = server;
      root_parameters_active_ = true;
    }
    if (walk.target == ".") {
      logger_.write(LEVEL_DEBUG, tag, "Restart from root");
      return false;
    }
  } else if (response.has_target_record) {
    logger_.write(LEVEL_INFO, tag,
                  "Level does not contain aliases and has target record type. Experience "
                  "complete");
    return true;
  } else if (level_ <= 2) {
    if (walk.labels.empty()) {
      throw_internal_error("host was " + walk.target + " doesn't have enough subdomains");
    }
    logger_.write(LEVEL_DEBUG, tag, "Updating target host");
    walk.target = walk.labels.back() + (walk.target == "." ? "" : ".") + walk.target;
    walk.labels.pop_back();
  } else {
    logger_.write(LEVEL_DEBUG, tag,
                  "Last nameserver replied with an NS need to query another authoritative "
                  "server, so need further resolution");
  }
  sort_name_server_to_query(walk.servers);
  walk.dig.server = walk.servers.back().address.to_string();
  return false;
}

void Wrapper::check_limits() {
  if (results_.reported_level_count > max_reported_levels) {
    throw_exception(err_t::too_many_levels, "More levels than allowed");
  }
  if (results_.resolutions.size() - 1 >= parameters_.get_CNAME_traversal_limit()) {
    throw_exception(err_t::too_many_cname_traversal, "Too many aliases in the resolution chain");
  }
}

void Wrapper::finish_checks() {
  check_limits();
  if (results_.reported_level_count == 0) {
    throw_exception(err_t::invalid_host,
                    "Not enough levels for target hostname: " + parameters_.host);
  }
}

void Wrapper::handle_run_error(const exception& error) {
  const std::string& tag = parameters_.run_log_tag;
  logger_.write(LEVEL_INFO, tag, std::string("Handing error: ") + error.what());
  const auto code = static_cast<err_t>(error.error_code());
  if (code == err_t::nameserver_resolution_failure) {
    logger_.write(LEVEL_INFO, tag, "No information reported to the user for this error");
    throw;
  }
  if (code == err_t::nameserver_resolution_timeout) {
    if (results_.reported_level_count == 0) {
      logger_.write(LEVEL_ERROR, tag, "Global timeout before any visible level was collected");
      throw;
    }
    logger_.write(LEVEL_ERROR, tag,
                  "Global timeout with visible levels reported to the user, setting test time to "
                  "ZEL run time");
    timespec now{};
    restart_clock(now);
    results_.total_duration_ms =
        std::max(results_.total_duration_ms, compute_duration(start_time_, now));
    const std::int64_t elapsed_us =
        (static_cast<std::int64_t>(now.tv_sec) - start_time_.tv_sec) * 1000000 +
        (now.tv_nsec - start_time_.tv_nsec) / 1000;
    results_.total_duration_us = std::max(results_.total_duration_us, elapsed_us);
  }
  if (!parameters_.JSON_output) {
    raw_output_ << "## Experience Error: " << error.what() << "\n";
  } else {
    test_result_.add_other_data(error_code_key, err_to_string(code), 0, -1);
    test_result_.add_other_data("common.results.error-details", error.what(), 0, -1);
  }
}

std::string Wrapper::final_steps(Dig::Parameters& dig) {
  const std::string& tag = parameters_.run_log_tag;
  apply_ping_diagnostics_if_needed();
  if (parameters_.get_query_type() == "ptr" || level_ > 2) {
    logger_.write(LEVEL_DEBUG, tag, "Hostname bind could be useful on the last server");
    query_hostname_BIND(dig);
  } else {
    logger_.write(LEVEL_DEBUG, tag,
                  "Hostname bind query is not useful since would not be reported to the user");
  }
  if (!parameters_.JSON_output) {
    raw_output_ << "## Test time: " << results_.total_duration_ms << "ms\n";
  }
  results_.fill_test_results(test_result_, parameters_);
  return parameters_.JSON_output ? test_result_.to_string() : raw_output_.str();
}

int Wrapper::check_timeout() {
  timespec now{};
  restart_clock(now);
  const int elapsed = compute_duration(start_time_, now);
  if (elapsed > int{parameters_.get_timeout()} * 1000) {
    if (parameters_.get_query_type() == "ptr" || level_ > 2) {
      throw_exception(err_t::nameserver_resolution_timeout, "Global timeout");
    }
    logger_.write(LEVEL_WARNING, "WARNING",
                  "Queries not reported to the user are taking longer than expected to query. "
                  "Current query time: " +
                      std::to_string(elapsed) + "ms.");
  }
  return elapsed;
}

}  // namespace Network_tools::DNS_experience
