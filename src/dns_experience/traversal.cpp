// The traversal test's querying: every server of a level is asked, from the last listed to the
// first, and each one's answer or failure is recorded as a server of its own, grouped with the
// servers that gave the same records. The level succeeds when one server answered.
//
// Asked at once, the servers' queries run on a pool of threads, each on a dig wrapper of its
// own that only its thread touches; nothing else is written until every query has ended. The
// answers are then read, recorded and cached on the calling thread in the order of the walk
// one by one, so that the result and the cache do not depend on which server answered first.
#include <algorithm>
#include <atomic>
#include <chrono>

#include "dns_experience/results/step_json.h"
#include "dns_experience/wrapper.h"
#include "frame/exception.h"
#include "frame/system.h"

namespace Network_tools::DNS_experience {
namespace {

// Adds what one server answered to what the level's servers answered before it. A server named
// by several answers is listed once, with the first address found for it.
void merge_answer(ParsedResponse& level, const ParsedResponse& answer) {
  level.has_answer = level.has_answer || answer.has_answer;
  level.has_authority = level.has_authority || answer.has_authority;
  level.has_alias = level.has_alias || answer.has_alias;
  level.has_target_record = level.has_target_record || answer.has_target_record;
  level.ttl = std::min(level.ttl, answer.ttl);
  if (level.relative_authoritative_domain.empty()) {
    level.relative_authoritative_domain = answer.relative_authoritative_domain;
  }
  for (const ServerInfo& server : answer.name_servers) {
    const auto known =
        std::find_if(level.name_servers.begin(), level.name_servers.end(),
                     [&](const ServerInfo& listed) { return listed.hostname == server.hostname; });
    if (known == level.name_servers.end()) {
      level.name_servers.push_back(server);
    } else if (!known->is_resolved() && server.is_resolved()) {
      *known = server;
    }
  }
}

// True when the answer can take the resolution further: an alias, the record asked for, the
// next servers, or any answer to a query of type "any".
bool is_valid_answer(const ParsedResponse& answer, const std::string& query_type) {
  return answer.has_alias || answer.has_target_record || !answer.name_servers.empty() ||
         (query_type == "any" && answer.has_answer);
}

}  // namespace

ParsedResponse Wrapper::query_all_nameservers(std::vector<ServerInfo>&& servers,
                                              Dig::Parameters& dig, const std::string& target,
                                              bool use_cache) {
  const std::string& tag = parameters_.run_log_tag;
  logger_.write(LEVEL_INFO, tag, "Prepare to query all nameservers for target_host: " + target);
  // A reverse lookup is one question to one server.
  if (parameters_.get_query_type() == "ptr") {
    return query_single_nameserver_with_retry_on_failure(std::move(servers), dig, target,
                                                         use_cache);
  }
  dig.host = to_lower_case(target);
  if (need_raw_output()) raw_output_ << raw_output_title() << "\n";

  // Asked at once, the servers' queries have all ended before the first answer is read.
  std::vector<PreparedQuery> prepared;
  if (parameters_.parallel_traversal) prepared = query_all_at_once(servers, dig);

  ParsedResponse response;
  err_t first_failure_code = err_t::none;
  std::string first_failure;
  std::string answering_server;
  for (std::size_t index = servers.size(); index-- > 0;) {
    const ServerInfo& server = servers[index];
    if (!server.is_resolved()) {
      logger_.write(LEVEL_WARNING, tag,
                    "Skipping server with empty IP address: " + server.hostname);
      continue;
    }
    logger_.write(LEVEL_INFO, tag, "Querying DNS server: " + server.hostname);
    dig.server = server.address.to_string();
    const bool answered = prepared.empty()
                              ? query_one_of_all(servers, index, dig, target, response,
                                                 first_failure_code, first_failure)
                              : read_one_of_all(servers, index, dig, target, prepared[index],
                                                response, first_failure_code, first_failure);
    if (answered) answering_server = dig.server;
  }

  const bool reported = results_.level_counts(level_);
  const bool answered = !answering_server.empty();
  logger_.write(LEVEL_DEBUG, tag, "Level is reported to the user: " + ToYesOrNoString(reported));
  logger_.write(LEVEL_DEBUG, tag, "At least one successful query: " + ToYesOrNoString(answered));
  if (answered) {
    // What follows the level (the hostname.bind question) goes to a server that answers.
    dig.server = answering_server;
    if (!response.has_authority && !response.has_answer) {
      throw_exception(err_t::no_answers_or_authorities,
                      "No answer or authority record found in the reply");
    }
    if (!is_valid_answer(response, dig.get_query_type())) {
      throw_exception(err_t::no_valid_answers, "No alias nor target record and no NS record found");
    }
    return response;
  }
  if (first_failure.empty()) {
    // No server had an address to ask.
    first_failure_code = err_t::nameserver_resolution_failure;
    first_failure = "Cannot resolve any name server hostname";
  }
  if (reported) throw_exception(first_failure_code, first_failure);
  throw_fatal_error(err_t::root_server_or_tld_query_error,
                    "None of the servers that were queried are shown to the user for level: " +
                        std::to_string(level_) + ". Aborting the test.");
}

bool Wrapper::query_one_of_all(const std::vector<ServerInfo>& servers, std::size_t index,
                               Dig::Parameters& dig, const std::string& target,
                               ParsedResponse& response, err_t& first_failure_code,
                               std::string& first_failure) {
  // Outside the failure handling: the overall timeout ends the level, it is no failure of the
  // server about to be asked.
  set_direct_timeout(dig);
  PreparedQuery query{dig_wrapper_.get(), "", nullptr};
  try {
    query.raw = run_dig_query(*dig_wrapper_, dig);
  } catch (...) {
    query.failure = std::current_exception();
  }
  return read_one_of_all(servers, index, dig, target, query, response, first_failure_code,
                         first_failure);
}

std::vector<Wrapper::PreparedQuery> Wrapper::query_all_at_once(
    const std::vector<ServerInfo>& servers, Dig::Parameters& dig) {
  // Outside the failure handling: the overall timeout ends the level before anything is asked.
  set_direct_timeout(dig);
  const Dig::Parameters& fitted = dig;
  std::vector<PreparedQuery> prepared(servers.size());
  std::vector<std::size_t> asked;
  std::vector<Dig::Parameters> queries;
  for (std::size_t index = servers.size(); index-- > 0;) {
    if (!servers[index].is_resolved()) continue;
    if (parallel_dig_wrappers_.size() == asked.size()) {
      parallel_dig_wrappers_.push_back(make_dig_wrapper(fitted));
      // A dig that cannot go on must not end the process from a worker: the walk ends it
      // when it reads that server, as it would have without the threads.
      parallel_dig_wrappers_.back()->set_process_ends_deferred(true);
    }
    prepared[index].wrapper = parallel_dig_wrappers_[asked.size()].get();
    asked.push_back(index);
    queries.push_back(fitted);
    queries.back().server = servers[index].address.to_string();
  }
  logger_.write(LEVEL_INFO, parameters_.run_log_tag,
                "Querying " + std::to_string(asked.size()) + " DNS servers at once");

  std::atomic<std::size_t> next{0};
  // Each query's wall time, written by the thread that ran it.
  std::vector<std::int64_t> took_us(asked.size(), 0);
  const auto work = [&] {
    for (std::size_t at = next.fetch_add(1); at < asked.size(); at = next.fetch_add(1)) {
      PreparedQuery& query = prepared[asked[at]];
      const auto start = std::chrono::steady_clock::now();
      // Whatever the query throws is read with its server's answer, in the walk's order.
      try {
        query.raw = run_dig_query(*query.wrapper, queries[at]);
      } catch (...) {
        query.failure = std::current_exception();
      }
      took_us[at] = microseconds_since(start);
    }
  };
  const auto start = std::chrono::steady_clock::now();
  run_on_threads(std::min(asked.size(), max_parallel_queries), work, parameters_.run_log_tag,
                 "query", "Its servers are asked by the others.");
  // What asking at once cost beyond the slowest server: the threads' own share.
  const std::int64_t level_us = microseconds_since(start);
  const std::int64_t slowest_us =
      took_us.empty() ? 0 : *std::max_element(took_us.begin(), took_us.end());
  logger_.write(LEVEL_INFO, parameters_.run_log_tag,
                "Asked " + std::to_string(asked.size()) + " DNS servers at once in " +
                    std::to_string(level_us) + " us, the slowest in " + std::to_string(slowest_us) +
                    " us");
  return prepared;
}

bool Wrapper::read_one_of_all(const std::vector<ServerInfo>& servers, std::size_t index,
                              const Dig::Parameters& dig, const std::string& target,
                              const PreparedQuery& query, ParsedResponse& response,
                              err_t& first_failure_code, std::string& first_failure) {
  const std::string& tag = parameters_.run_log_tag;
  const ServerInfo& server = servers[index];
  TestResult& result = query.wrapper->test_result();
  const auto note_failure = [&](err_t code, const std::string& text) {
    logger_.write(LEVEL_INFO, tag,
                  (dig.server.empty() ? std::string("system dns server")
                                      : "server: " + dig.server + " host: " + server.hostname +
                                            " (" + server.hostname + ")") +
                      " failed with error: " + text +
                      "\ncontinuing to query the next server if available.\n");
    if (first_failure.empty()) {
      first_failure_code = code;
      first_failure = text;
    }
  };

  std::string raw;
  ParsedResponse answer;
  try {
    if (query.failure) std::rethrow_exception(query.failure);
    raw = query.raw;
    log_dig_result(result);
    const std::string key = result.retrieve_error(error_code_key, 0, -1);
    if (!key.empty()) note_failure(direct_error_to_experience_error(key), key);
    if (need_raw_output()) {
      logger_.write(LEVEL_DEBUG, tag, "Collection raw output");
      add_nameserver_to_raw_output(servers, index);
      raw_output_ << raw << "\n";
    }
    logger_.write(LEVEL_DEBUG, tag, "Parsing response");
    parse_dig_wrapper_response(result, raw, level_, dig, server, target, answer, key.empty());
    logger_.write(LEVEL_DEBUG, tag, "Direct output parsing complete");
    if (!key.empty()) return false;
    merge_answer(response, answer);
    return true;
  } catch (const process_end& end) {
    // A dig that could not go on on a worker: the process ends here, as it would have there.
    end_process(end);
  } catch (const exception& failure) {
    // The dig wrapper numbers some errors differently: its key says what happened.
    const std::string key = result.retrieve_error(error_code_key, 0, -1);
    // The overall timeout, met while the next servers were looked up, ends the level; the
    // answer is recorded already.
    if (key.empty() &&
        failure.error_code() == static_cast<int>(err_t::nameserver_resolution_timeout)) {
      throw;
    }
    const err_t code = key.empty() ? static_cast<err_t>(failure.error_code())
                                   : direct_error_to_experience_error(key);
    note_failure(code, failure.what());
    if (logger_.get_minimum_level() <= LEVEL_DEBUG) {
      logger_.write(LEVEL_DEBUG, tag, "Dig output after failure:\n" + result.to_string());
    }
    if (key.empty()) result.add_other_data(error_code_key, err_to_string(code), 0, -1);
    // What a half-read answer left must not speak for the failed query.
    answer.reset();
    parse_dig_wrapper_response(result, raw, level_, dig, server, target, answer, false);
    if (need_raw_output()) {
      add_nameserver_to_raw_output(servers, index);
      raw_output_ << "##  FAILURE #" << index + 1 << "\n" << raw << "\n";
    }
    return false;
  }
}

void Wrapper::parse_dig_wrapper_response(TestResult& dig_result, const std::string& raw_output,
                                         int level, const Dig::Parameters& dig,
                                         const ServerInfo& server, const std::string& target,
                                         ParsedResponse& answer, bool query_succeeded) {
  const std::string& tag = parameters_.run_log_tag;
  dig_result.add_other_data(server_name_key, server.hostname, 0, 0);
  // A server that did not answer left no address in dig's text: its entry names the address
  // asked, so that the failed server is known by it (and can be pinged).
  if (server.is_resolved() && !dig_result.check_other_data_presence(server_address_key, 0, 0)) {
    dig_result.add_other_data(server_address_key, server.address.to_string(), 0, 0);
  }
  const rapidjson::Value& step = *dig_result.retrieve_data_level_pointer(0, 0, -1);
  const rapidjson::Value& other = get_mandatory_json_iterator(step, "OtherData")->value;
  // A query that failed before dig answered (refused connection, time-out) took no measured
  // time.
  const int duration =
      query_succeeded || (other.IsObject() && other.HasMember(duration_key.c_str()))
          ? mandatory_int(other, duration_key)
          : 0;
  const rapidjson::Value& metrics = get_mandatory_json_iterator(step, "Metrics")->value;
  read_records(metrics, level, dig.get_query_type(), answer);

  bool no_records = !answer.has_answer && !answer.has_authority;
  logger_.write(LEVEL_DEBUG, tag,
                "No answer or authorities present: " + ToYesOrNoString(no_records));
  const bool valid = is_valid_answer(answer, dig.get_query_type());
  if (valid) no_records = false;
  logger_.write(LEVEL_DEBUG, tag, "No valid answers present: " + ToYesOrNoString(!valid));

  if (!query_succeeded || no_records) {
    logger_.write(LEVEL_DEBUG, tag,
                  "No valid answers nor authorities present, adding the result and returning.");
    // A failure without a response code of its own (a refused connection) says why it failed,
    // or its entry would read like an empty answer.
    const std::string error = dig_result.retrieve_error(error_code_key, 0, -1);
    if (!query_succeeded && !error.empty() && dig_result.retrieve_error(status_key, 0, 0).empty()) {
      dig_result.add_other_data(status_key, error, 0, 0);
    }
    results_.add_traversal_level(answer, server, dig_result, level, false);
    return;
  }
  apply_additional_records(metrics, answer);
  try {
    resolve_name_servers(answer, ", discarding it.");
  } catch (const exception&) {
    // The overall timeout may end the test while the next servers are looked up: the answer
    // measured stays in the result.
    results_.add_traversal_level(answer, server, dig_result, level, false);
    throw;
  }
  // The cache keeps the step as an experience test would have it; recording it moves its
  // server details into a metric entry. The server's time is kept from the second query on:
  // the first asks the machine's resolver.
  update_cache(target, query_count_ > 1 ? server : ServerInfo{}, answer, dig_result,
               need_raw_output() ? raw_output : "", level, duration);
  // Measured here whatever the cache policy allowed: the level did not come from the cache.
  results_.add_traversal_level(answer, server, dig_result, level, false);
}

}  // namespace Network_tools::DNS_experience
