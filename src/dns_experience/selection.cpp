// Choosing the next name server: addresses from the additional records or from the machine's
// resolver, the random or biased choice of the server to ask, and the name-server lines of the
// raw text.
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <memory>
#include <random>

#include "dns_experience/results/step_json.h"
#include "dns_experience/wrapper.h"
#include "frame/system.h"

namespace Network_tools::DNS_experience {
namespace {

// Draws from a new MT19937 engine seeded with one value of the system's random device.
Wrapper::random_draw_t system_random_draws() {
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  return [engine](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(*engine);
  };
}

// Fisher and Yates' shuffle of [first, last) driven by `draw`.
void shuffle(std::vector<ServerInfo>::iterator first, std::vector<ServerInfo>::iterator last,
             const Wrapper::random_draw_t& draw) {
  for (auto count = static_cast<int>(last - first); count > 1; --count) {
    std::swap(first[count - 1], first[draw(0, count - 1)]);
  }
}

}  // namespace

void Wrapper::fill_ip_addresses_for_parsed_nameservers(const rapidjson::Value& metrics,
                                                       ParsedResponse& response) {
  apply_additional_records(metrics, response);
  resolve_name_servers(response, ", discarding it.");
}

void Wrapper::apply_additional_records(const rapidjson::Value& metrics, ParsedResponse& response) {
  const std::string& tag = parameters_.run_log_tag;
  for (const rapidjson::Value* data : metric_data_objects(metrics)) {
    if (!data->HasMember(addition_name.c_str())) continue;
    const std::string type = to_lower_case(mandatory_text(*data, addition_type));
    if (type != "a" && !(type == "aaaa" && parameters_.use_IPv6)) {
      logger_.write(LEVEL_WARNING, tag, "Skipping additional record with type: " + type);
      continue;
    }
    const std::string name = text_member(*data, addition_name);
    ServerInfo* server = nullptr;
    for (ServerInfo& candidate : response.name_servers) {
      if (candidate.hostname == name) {
        server = &candidate;
        break;
      }
    }
    if (server == nullptr) {
      logger_.write(LEVEL_WARNING, tag, "Skipping additional record, not maching any NS record");
      continue;
    }
    // An IPv6 address may replace an IPv4 one, never the reverse.
    const int family = server->address.get_family();
    if (family == AF_INET6 || (family == AF_INET && type == "a")) {
      logger_.write(LEVEL_INFO, tag,
                    "Skipping already fetched additional record for and matching: " +
                        server->address.to_string());
      continue;
    }
    logger_.write(LEVEL_DEBUG, tag, "Fetching additional information for nameserver " + name);
    const std::string info = text_member(*data, addition_info);
    if (!IP::is_address(info)) {
      logger_.write(LEVEL_WARNING, "DNS-E RUN WARNING", "additional record without info found");
      continue;
    }
    server->address = IP::Address(info);
    server->resolution_time_ms = -1;
    response.ttl = std::min(response.ttl, mandatory_int(*data, addition_ttl));
  }
}

void Wrapper::resolve_name_servers(ParsedResponse& response, const std::string& unresolved_suffix) {
  if (response.name_servers.empty()) return;
  const std::string& tag = parameters_.run_log_tag;
  logger_.write(LEVEL_DEBUG, tag, "Resolving nameserver hostnames");
  for (ServerInfo& server : response.name_servers) {
    if (server.is_resolved()) continue;
    resolve_hostname_to_IP(server);
    // Kept in the list: the selection drops it.
    if (!server.is_resolved()) {
      logger_.write(LEVEL_DEBUG, tag, "Unable to resolve " + server.hostname + unresolved_suffix);
    }
  }
}

void Wrapper::resolve_hostname_to_IP(ServerInfo& server) {
  timespec start{}, end{};
  clock_gettime(CLOCK_REALTIME, &start);
  try {
    server.address = host_lookup_(server.hostname, parameters_.use_IPv6 ? IPv6_first : IPv4_only);
  } catch (const exception&) {
    // An address family the tool cannot use is no address.
    server.address = IP::Address();
  }
  clock_gettime(CLOCK_REALTIME, &end);
  const int milliseconds = compute_duration(start, end);
  check_timeout();

  const std::string took = ", took: " + std::to_string(milliseconds) + "ms";
  if (!server.is_resolved()) {
    server.resolution_time_ms = -1;
    logger_.write(LEVEL_INFO, parameters_.run_log_tag,
                  "Unable to locally resolve: " + server.hostname + took);
    return;
  }
  server.resolution_time_ms = milliseconds;
  logger_.write(
      LEVEL_INFO, parameters_.run_log_tag,
      "Local resolution of: " + server.hostname + ", to: " + server.address.to_string() + took);
}

void Wrapper::sort_name_server_to_query(std::vector<ServerInfo>& servers) {
  const std::string& tag = parameters_.run_log_tag;
  logger_.write(LEVEL_DEBUG, tag, "Selecting next server to query");
  std::erase_if(servers, [&](const ServerInfo& server) {
    if (server.is_resolved()) return false;
    logger_.write(LEVEL_DEBUG, tag,
                  "Discarding name server that couldn't be resolved " + server.hostname);
    return true;
  });
  if (servers.empty()) {
    throw_exception(err_t::nameserver_resolution_failure,
                    "Cannot resolve any name server hostname");
  }
  if (parameters_.test_type == test_type_t::DNS_traversal) {
    logger_.write(LEVEL_DEBUG, tag, "Test type is DNS Traversal so no need to sort the servers.");
    return;
  }
  const random_draw_t draw = random_source_ ? random_source_() : system_random_draws();
  if (servers.size() < 2) {
    logger_.write(LEVEL_DEBUG, tag, "Not enough entries to apply any additional logic on servers");
    return;
  }
  const bool fail_over = parameters_.try_next_server_upon_failure;
  auto shuffled_end = servers.end();
  if (!parameters_.bias_towards_best) {
    logger_.write(LEVEL_DEBUG, tag, "Not applying bias toward the best");
    if (!fail_over) {
      logger_.write(LEVEL_DEBUG, tag, "Select a random server instead");
      std::swap(servers[static_cast<std::size_t>(draw(0, static_cast<int>(servers.size()) - 1))],
                servers.back());
      return;
    }
  } else {
    const int percentage = parameters_.get_bias_percentage();
    logger_.write(
        LEVEL_DEBUG, tag,
        "Check for bias toward the best bias with " + std::to_string(percentage) + "/100 chance");
    // A draw of 0 to 99 below the percentage: exactly that many chances in a hundred.
    const int draw_value = draw(0, 99);
    if (draw_value >= percentage) {
      logger_.write(LEVEL_DEBUG, tag,
                    "Not applying bias toward the best got: " + std::to_string(draw_value));
      if (!fail_over) return;
    } else {
      logger_.write(LEVEL_DEBUG, tag,
                    "Applying bias toward the best got: " + std::to_string(draw_value));
      move_fastest_last(servers);
      if (!fail_over) return;
      shuffled_end = servers.end() - 1;
    }
  }
  logger_.write(LEVEL_DEBUG, tag, "Server on failure enabled, randomize additional server to pick");
  shuffle(servers.begin(), shuffled_end, draw);
}

void Wrapper::move_fastest_last(std::vector<ServerInfo>& servers) {
  const std::string& tag = parameters_.run_log_tag;
  std::size_t fastest = 0;
  std::int32_t fastest_time = Cache::unknown_query_time_ms;
  for (std::size_t index = 0; index < servers.size(); ++index) {
    std::int32_t time = Cache::unknown_query_time_ms;
    const bool known = cache_->get_last_query_time(servers[index].hostname, time);
    logger_.write(LEVEL_INFO, tag,
                  "Last query time " + (known ? std::to_string(time) + "ms" : "N/A") +
                      " for nameserver: " + servers[index].hostname);
    // Strictly faster: on a tie the first one listed stays the choice.
    if (time < fastest_time) {
      fastest = index;
      fastest_time = time;
    }
  }
  logger_.write(LEVEL_INFO, tag, "Selecting the fastest: " + servers[fastest].hostname);
  std::swap(servers[fastest], servers.back());
}

void Wrapper::add_nameserver_to_raw_output(const std::vector<ServerInfo>& servers) {
  add_nameserver_to_raw_output(servers, servers.empty() ? 0 : servers.size() - 1);
}

void Wrapper::add_nameserver_to_raw_output(const std::vector<ServerInfo>& servers,
                                           unsigned long index) {
  std::string address, hostname;
  if (servers.empty()) {
    // The machine's resolver answered: the dig result names it.
    const rapidjson::Value& step =
        *dig_wrapper_->test_result().retrieve_data_level_pointer(0, 0, -1);
    const rapidjson::Value& other = get_mandatory_json_iterator(step, "OtherData")->value;
    get_mandatory_json_iterator(other, server_address_key);
    address = text_member(other, server_address_key);
    hostname = "N/A";
  } else {
    const ServerInfo& server = servers.at(index);
    address = server.address.to_string();
    hostname = server.hostname;
  }
  raw_output_ << "##  nameserver: " << address << " [" << hostname << "]\n";
}

}  // namespace Network_tools::DNS_experience
