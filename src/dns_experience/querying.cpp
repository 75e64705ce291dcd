// Querying one level: the dig query every level runs, the reading of its records, the move to
// another server after a failure, and what a level leaves in the cache.
#include <algorithm>

#include "dns_experience/results/step_json.h"
#include "dns_experience/wrapper.h"
#include "frame/exception.h"
#include "frame/system.h"
#include "wrapper/json_access.h"

namespace Network_tools::DNS_experience {
namespace {

const std::string authority_section = "qv-dns.results.authority";
const std::string answer_section = "qv-dns.results.answer";

// Delegations below the root level are kept at least an hour and at most a week.
constexpr std::int32_t shortest_cached_ttl = 3600;
constexpr std::int32_t longest_cached_ttl = 604800;

}  // namespace

void read_records(const rapidjson::Value& metrics, int level, const std::string& query_type,
                  ParsedResponse& response) {
  for (const rapidjson::Value* data : metric_data_objects(metrics)) {
    if (data->ObjectEmpty()) continue;
    if (parse_RR_section(*data, level, authority_section, query_type, response)) {
      response.has_authority = true;
    } else if (parse_RR_section(*data, level, answer_section, query_type, response)) {
      response.has_answer = true;
    }
  }
}

bool parse_RR_section(const rapidjson::Value& metric_data, int level, const std::string& section,
                      const std::string& query_type, ParsedResponse& response) {
  const std::string type = to_lower_case(text_member(metric_data, section + ".type"));
  if (type.empty()) return false;
  response.ttl = std::min(response.ttl, mandatory_int(metric_data, section + ".ttl"));

  if (type == "ns") {
    // Asked for NS records at a reported level, an NS answer is the answer itself.
    if (query_type == "ns" && section == answer_section && level > 2) {
      response.has_target_record = true;
      return true;
    }
    response.relative_authoritative_domain = mandatory_text(metric_data, section + ".name");
    const std::string server = text_member(metric_data, section + ".info");
    if (server.empty()) return false;
    std::vector<ServerInfo>& servers = response.name_servers;
    const bool listed = std::any_of(servers.begin(), servers.end(), [&](const ServerInfo& known) {
      return known.hostname == server;
    });
    if (!listed) servers.push_back(ServerInfo{server, IP::Address(), -1});
    return true;
  }

  if (type == query_type && (type == "svcb" || type == "https")) {
    response.has_alias = is_svcb_compatible_alias(text_member(metric_data, answer_info));
  }
  if (!response.has_alias) {
    response.has_alias = type == "cname";
    if (!response.has_target_record) response.has_target_record = type == query_type;
  } else if (!response.has_target_record) {
    response.has_target_record = type == query_type;
  }
  return true;
}

ParsedResponse Wrapper::query_nameservers(std::vector<ServerInfo>&& servers, Dig::Parameters& dig,
                                          const std::string& target, bool use_cache) {
  switch (parameters_.test_type) {
    case test_type_t::DNS_experience:
      return query_single_nameserver_with_retry_on_failure(std::move(servers), dig, target,
                                                           use_cache);
    case test_type_t::DNS_traversal:
      return query_all_nameservers(std::move(servers), dig, target, use_cache);
  }
  throw_internal_error("Unsupported test type: " +
                       std::to_string(static_cast<int>(parameters_.test_type)));
}

std::string Wrapper::run_dig_query(const Dig::Parameters& dig) {
  std::string raw = run_dig_query(*dig_wrapper_, dig);
  log_dig_result(dig_wrapper_->test_result());
  return raw;
}

std::string Wrapper::run_dig_query(Dig::Wrapper& wrapper, const Dig::Parameters& dig) const {
  wrapper.set_parameters(dig);
  wrapper.test_result().initialize_JSON_object();
  wrapper.add_min_options();
  wrapper.set_elapsed_time(0);
  wrapper.set_record_counter(0);
  return wrapper.run();
}

void Wrapper::log_dig_result(const TestResult& result) {
  // Every server's answer is part of a traversal test's story; one server's is a detail of an
  // experience test's. The document is only printed when someone reads it.
  const level_t level =
      parameters_.test_type == test_type_t::DNS_traversal ? LEVEL_INFO : LEVEL_DEBUG;
  if (logger_.get_minimum_level() <= level) {
    logger_.write(level, parameters_.run_log_tag, "DNS direct json\n" + result.to_string());
  }
}

std::unique_ptr<Dig::Wrapper> Wrapper::make_dig_wrapper(const Dig::Parameters& dig) const {
  auto wrapper = std::make_unique<Dig::Wrapper>(logger_, dig);
  wrapper->set_host_lookup(host_lookup_);
  wrapper->set_command_launcher(command_launcher_);
  wrapper->set_command_reader(command_reader_);
  wrapper->set_resolver_configuration(resolver_configuration_);
  return wrapper;
}

ParsedResponse Wrapper::query_single_nameserver_with_retry_on_failure(
    std::vector<ServerInfo>&& servers, Dig::Parameters& dig, const std::string& target,
    bool /*use_cache*/) {
  // A level asked here is measured whatever the cache policy allowed: it did not come from the
  // cache, so its time counts.
  logger_.write(LEVEL_DEBUG, parameters_.run_log_tag,
                "Prepare to query nameserver for target_host: " + target);
  dig.host = to_lower_case(target);
  if (need_raw_output()) raw_output_ << raw_output_title() << "\n";
  std::uint8_t failure_count = 1;
  while (true) {
    // Outside the failure handling: the overall timeout ends the level, it is no failure of
    // the server about to be asked.
    set_direct_timeout(dig);
    std::string raw;
    try {
      raw = run_dig_query(dig);
      const std::string key = dig_wrapper_->test_result().retrieve_error(error_code_key, 0, -1);
      if (!key.empty()) {
        throw exception(key, static_cast<int>(direct_error_to_experience_error(key)), key);
      }
    } catch (const exception& failure) {
      // The dig wrapper numbers some errors differently: its key says what happened.
      const std::string key = dig_wrapper_->test_result().retrieve_error(error_code_key, 0, -1);
      const int code = key.empty() ? failure.error_code()
                                   : static_cast<int>(direct_error_to_experience_error(key));
      handle_query_failure(exception(failure.what(), code, failure.error_message()), servers, dig,
                           failure_count, raw);
      continue;
    }
    return evaluate_answer(servers, dig, target, raw);
  }
}

void Wrapper::handle_query_failure(const exception& failure, std::vector<ServerInfo>& servers,
                                   Dig::Parameters& dig, std::uint8_t& failure_count,
                                   const std::string& raw) {
  const std::string& tag = parameters_.run_log_tag;
  const auto code = static_cast<err_t>(failure.error_code());
  logger_.write(LEVEL_DEBUG, tag, "Handling Error");
  const bool reported = parameters_.get_query_type() == "ptr" || level_ > 2;
  logger_.write(LEVEL_DEBUG, tag, "Level is reported to the user: " + ToYesOrNoString(reported));
  results_.add_failure(dig_wrapper_->test_result(), servers.empty() ? "" : servers.back().hostname,
                       level_);
  if (reported && !parameters_.try_next_server_upon_failure) {
    throw_exception(code, failure.what());
  }
  if (need_raw_output()) {
    add_nameserver_to_raw_output(servers);
    raw_output_ << "##  FAILURE #" << int{failure_count} << "\n" << raw << "\n";
  }
  if (reported && failure_count >= parameters_.get_tries()) {
    logger_.write(
        LEVEL_WARNING, tag,
        "Maximum number of server on failure " + std::to_string(failure_count) + " reached");
    throw_exception(code, failure.what());
  }
  logger_.write(LEVEL_DEBUG, tag, "Applying next server on failure");
  logger_.write(LEVEL_INFO, tag,
                (dig.server.empty() ? std::string("system dns server") : "server: " + dig.server) +
                    " failed with error: " + failure.what() +
                    "\ntrying the next server if available\n");
  if (!servers.empty()) servers.pop_back();
  while (!servers.empty() && !servers.back().is_resolved()) servers.pop_back();
  if (!servers.empty()) {
    dig.server = servers.back().address.to_string();
    ++failure_count;
    return;
  }
  logger_.write(LEVEL_WARNING, tag, "No more reserver to retry on failure");
  if (reported) throw_exception(code, failure.what());
  throw_fatal_error(err_t::root_server_or_tld_query_error,
                    std::string("Last Failure: ") + failure.what() +
                        ". All the servers at query not shown to the user: " +
                        std::to_string(level_) + " failed. Aborting the test.");
}

ParsedResponse Wrapper::evaluate_answer(const std::vector<ServerInfo>& servers,
                                        const Dig::Parameters& dig, const std::string& target,
                                        const std::string& raw) {
  const std::string& tag = parameters_.run_log_tag;
  TestResult& result = dig_wrapper_->test_result();
  const bool keep_raw = record_answering_server(servers, raw);
  logger_.write(LEVEL_DEBUG, tag, "Parsing response");
  const rapidjson::Value& step = *result.retrieve_data_level_pointer(0, 0, -1);
  const int duration =
      mandatory_int(get_mandatory_json_iterator(step, "OtherData")->value, duration_key);
  const rapidjson::Value& metrics = get_mandatory_json_iterator(step, "Metrics")->value;
  ParsedResponse response;
  read_records(metrics, level_, dig.get_query_type(), response);

  const ServerInfo server = servers.empty() ? ServerInfo{} : servers.back();
  const auto record_level = [&] {
    results_.add_level(response.relative_authoritative_domain, server, result,
                       response.name_servers, level_, false);
  };
  if (!response.has_authority && !response.has_answer) {
    record_level();
    throw_exception(err_t::no_answers_or_authorities,
                    "No answer or authority record found in the reply");
  }
  if (dig.get_query_type() == "any" && response.has_answer) {
    logger_.write(LEVEL_DEBUG, tag, "Query for any type doesn't need additional operations");
    record_level();
  } else {
    if (!response.has_alias && !response.has_target_record && response.name_servers.empty()) {
      record_level();
      throw_exception(err_t::no_valid_answers, "No alias nor target record and no NS record found");
    }
    apply_additional_records(metrics, response);
    logger_.write(LEVEL_DEBUG, tag, "Direct output parsing complete");
    try {
      resolve_name_servers(response, " discarding it");
    } catch (const exception&) {
      // The overall timeout may end the test while the next servers are resolved: the level
      // measured stays in the result.
      record_level();
      throw;
    }
    if (parameters_.get_query_type() == "ptr") {
      // A traversal step names each server in a metric entry of its own: without one, the
      // answering server would be missing from the result.
      if (parameters_.test_type == test_type_t::DNS_traversal) {
        move_server_detail_to_metrics(result, false);
      }
      results_.add_ptr(result);
      return response;
    }
    record_level();
  }
  // The server's time is kept from the second query on: the first asks the machine's resolver.
  update_cache(target, query_count_ > 1 ? server : ServerInfo{}, response, result,
               keep_raw ? raw : "", level_, duration);
  return response;
}

bool Wrapper::record_answering_server(const std::vector<ServerInfo>& servers,
                                      const std::string& raw) {
  const std::string& tag = parameters_.run_log_tag;
  if (!servers.empty()) {
    dig_wrapper_->test_result().add_other_data(server_name_key, servers.back().hostname, 0, 0);
  }
  if (!need_raw_output()) {
    logger_.write(LEVEL_DEBUG, tag, "Clearing raw output");
    return false;
  }
  logger_.write(LEVEL_DEBUG, tag, "Collection raw output");
  add_nameserver_to_raw_output(servers);
  raw_output_ << raw << "\n";
  return true;
}

void Wrapper::update_cache(const std::string& target, const ServerInfo& server,
                           const ParsedResponse& response, TestResult& dig_result,
                           const std::string& raw_output, int level, int duration_ms) {
  const std::string& tag = parameters_.run_log_tag;
  // The machine's answer for the root servers says how long its own cache still keeps them;
  // the test's own lifetime for the root level stands for it.
  const std::int32_t ttl = query_count_ == 1
                               ? parameters_.get_root_server_cache_TTL()
                               : std::clamp(response.ttl, shortest_cached_ttl, longest_cached_ttl);
  if (!response.relative_authoritative_domain.empty()) {
    logger_.write(LEVEL_DEBUG, tag,
                  "Result with authoritative nameserver entries, might be cached");
    if (level <= 2) {
      logger_.write(LEVEL_INFO, tag, "Caching level " + std::to_string(level));
      cache_->set_cache_answer(response.relative_authoritative_domain, response.name_servers, ttl,
                               "", "");
    } else if (level == 3) {
      logger_.write(LEVEL_INFO, tag, "Caching optional level " + std::to_string(level));
      cache_->set_cache_answer(target, response.name_servers, ttl, raw_output,
                               JSON_to_string(*dig_result.retrieve_data_level_pointer(0, 0, -1)));
    }
  }
  if (!server.hostname.empty()) cache_->set_last_query_time(server.hostname, duration_ms);
}

void Wrapper::set_direct_timeout(Dig::Parameters& dig) {
  const int remaining = int{parameters_.get_timeout()} - check_timeout() / 1000;
  if (remaining < int{dig.get_timeout()}) dig.set_timeout(std::max(remaining, 5), 5, 300);
  if (remaining * 1000 < int{dig.get_retry_timeout()}) {
    dig.set_retry_timeout(std::max(remaining * 1000, 500));
  }
}

}  // namespace Network_tools::DNS_experience
