// Ping diagnostics of a traversal test: the servers of the last level reached are pinged on a
// small pool of threads and each ping's figures join the server's entry; or, when the run stopped
// at the top-level domain's level because enough of its servers timed out, a network outage is
// declared and nothing is pinged.
//
// The threads share one counter of the next work item and each writes only the pending result
// of the items it took; the results model is changed afterwards, on the calling thread, in
// work-item order, so that the document does not depend on which ping finished first.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "dns_experience/results/results.h"
#include "dns_experience/results/step_json.h"
#include "dns_experience/wrapper.h"
#include "frame/exception.h"
#include "frame/system.h"
#include "wrapper/test_result_access.h"

namespace Network_tools::DNS_experience {
namespace {

const char* const ping_tag = "PING DIAGNOSTICS";
const std::string timeout_status = "qv-dns.results.error.timeout";

// Ping wrappers that reach the system through the DNS experience wrapper's own hooks, so that
// whoever replaces those (a test) replaces the pings' too.
class Hook_sharing_factory : public Ping::WrapperFactory {
 public:
  Hook_sharing_factory(Wrapper::host_lookup_t host_lookup,
                       Wrapper::command_launcher_t command_launcher,
                       Wrapper::command_reader_t command_reader)
      : host_lookup_(std::move(host_lookup)),
        command_launcher_(std::move(command_launcher)),
        command_reader_(std::move(command_reader)) {}

  void create(Logger& logger, const Ping::Parameters& parameters,
              std::unique_ptr<Ping::Wrapper>& out) const override {
    Ping::WrapperFactory::create(logger, parameters, out);
    out->set_host_lookup(host_lookup_);
    out->set_command_launcher(command_launcher_);
    out->set_command_reader(command_reader_);
  }

 private:
  Wrapper::host_lookup_t host_lookup_;
  Wrapper::command_launcher_t command_launcher_;
  Wrapper::command_reader_t command_reader_;
};

}  // namespace

void Results::add_ping_results(rapidjson::Value& metric_data,
                               rapidjson::Document::AllocatorType& allocator,
                               const TestResult& ping_result) {
  const rapidjson::Value* step = test_result_access::find_level(ping_result.document(), 0, 0, -1);
  if (step == nullptr || !step->IsObject()) {
    throw_structural_fault("Ping diagnostic result is not a valid JSON object.");
  }
  const rapidjson::Value& metrics = get_mandatory_json_iterator(*step, "Metrics")->value;
  const rapidjson::Value& other = get_mandatory_json_iterator(*step, "OtherData")->value;

  std::string times;
  for (const rapidjson::Value* data : metric_data_objects(metrics)) {
    const auto time = data->FindMember("qv-ping.results.rtt");
    if (time == data->MemberEnd() || !time->value.IsString()) continue;
    if (!times.empty()) times += ",";
    times.append(time->value.GetString(), time->value.GetStringLength());
  }
  if (!times.empty()) {
    set_member(metric_data, "qv-dns.results.server.ping.round-trip-times",
               test_result_access::string_value(times, allocator), allocator);
  }
  const std::string error = text_member(other, error_code_key);
  if (!error.empty() && error != "qv-ping.results.error.none") {
    set_member(metric_data, "qv-dns.results.server.ping.error-code",
               test_result_access::string_value(error, allocator), allocator);
  }
  if (other.IsObject()) {
    const auto duration = other.FindMember("qv-ping.results.duration.ms");
    if (duration != other.MemberEnd() && duration->value.IsNumber()) {
      set_member(metric_data, "qv-dns.results.server.ping.duration.ms",
                 rapidjson::Value(duration->value.GetDouble()), allocator);
    }
  }
}

void Wrapper::apply_ping_diagnostics_if_needed() {
  if (parameters_.test_type != test_type_t::DNS_traversal) return;
  if (results_.reported_level_count == 0) {
    logger_.write(LEVEL_INFO, ping_tag, "No levels collected, skipping ping diagnostics.");
    return;
  }
  // Only a run that stopped at the first reported level, the top-level domain's, can have met
  // an outage of that domain's servers.
  const bool count_outage =
      parameters_.network_outage_detection && results_.reported_level_count == 1;
  int outage_count = 0;
  const std::vector<PingWorkItem> items = collect_ping_work_items(count_outage, outage_count);
  if (count_outage && outage_count >= parameters_.get_tld_server_minimum_failure_count()) {
    logger_.write(LEVEL_INFO, ping_tag,
                  "Network outage detected before ping diagnostics. Total timed out TLD servers: " +
                      std::to_string(outage_count) + ".");
    results_.network_outage_detected = true;
    return;
  }
  if (items.empty()) {
    logger_.write(LEVEL_INFO, ping_tag, "No servers found for ping diagnostics.");
    return;
  }
  logger_.write(LEVEL_INFO, ping_tag,
                "Starting ping diagnostics. Max concurrent pings: " +
                    std::to_string(parameters_.get_max_concurrent_pings()) +
                    ". Elapsed time before starting ping diagnostics: " +
                    std::to_string(milliseconds_since(start_time_)) + "ms");

  std::vector<PendingPingResult> pending(items.size());
  if (!ping_factory_) {
    ping_factory_ =
        std::make_unique<Hook_sharing_factory>(host_lookup_, command_launcher_, command_reader_);
  }
  // The input refuses more threads than 16 bits count.
  const std::size_t threads = std::min<std::size_t>(
      static_cast<std::uint16_t>(parameters_.get_max_concurrent_pings()), items.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] { run_ping_work_items(items, pending, next); };
  run_on_threads(threads, work, ping_tag, "ping diagnostics",
                 "Its servers are pinged by the others.");

  apply_ping_results(pending);
  logger_.write(LEVEL_INFO, ping_tag,
                "Ping diagnostics completed. Processed " + std::to_string(items.size()) +
                    " servers. Elapsed time after ping diagnostics: " +
                    std::to_string(milliseconds_since(start_time_)) + "ms");
}

std::vector<Wrapper::PingWorkItem> Wrapper::collect_ping_work_items(bool count_outage,
                                                                    int& outage_count) {
  std::vector<PingWorkItem> items;
  if (results_.resolutions.empty() || results_.resolutions.back().levels.empty()) return items;
  const auto& ignored = parameters_.get_tld_host_ignore_list();
  for (Results::Stats& group : results_.resolutions.back().levels.back().groups) {
    rapidjson::Document& response = group.response;
    // A level taken from the cache without its text has no server to ping.
    if (!response.IsObject()) continue;
    const auto metrics = response.FindMember("Metrics");
    if (metrics == response.MemberEnd() || !metrics->value.IsArray()) continue;
    for (rapidjson::Value& entry : metrics->value.GetArray()) {
      if (!entry.IsObject()) continue;
      const auto found = entry.FindMember("MetricData");
      if (found == entry.MemberEnd() || !found->value.IsObject()) continue;
      rapidjson::Value& data = found->value;
      if (!data.HasMember(server_name_key.c_str())) continue;
      const std::string name = text_member(data, server_name_key);
      if (count_outage && text_member(data, status_key) == timeout_status) {
        if (ignored.contains(name)) {
          logger_.write(LEVEL_INFO, ping_tag,
                        "TLD server " + name +
                            " has an outage error but is in the ignore list, skipping it for "
                            "outage count.");
        } else {
          logger_.write(
              LEVEL_INFO, ping_tag,
              "TLD server " + name + " has an outage error, counting it for outage count.");
          ++outage_count;
        }
      }
      const std::string address = text_member(data, server_address_key);
      if (!address.empty()) items.push_back(PingWorkItem{&response, &data, address});
    }
  }
  return items;
}

void Wrapper::run_ping_work_items(const std::vector<PingWorkItem>& items,
                                  std::vector<PendingPingResult>& pending,
                                  std::atomic<std::size_t>& next) const {
  for (std::size_t index = next.fetch_add(1); index < items.size(); index = next.fetch_add(1)) {
    PendingPingResult& slot = pending[index];
    timespec start{};
    clock_gettime(CLOCK_REALTIME, &start);
    // Whatever goes wrong stays with this server: an exception leaving a thread would end the
    // process, and the other servers' pings must go on.
    try {
      slot.document = items[index].document;
      slot.metric_data = items[index].metric_data;
      slot.address = items[index].address;
      ping_factory_->create(logger_, ping_parameters(slot.address), slot.ping_wrapper);
      slot.ping_wrapper->set_failures_contained(true);
      slot.ping_wrapper->run();
    } catch (const std::exception& failure) {
      slot.error = failure.what();
    } catch (...) {
      slot.error = "unknown failure";
    }
    if (!slot.error.empty()) slot.ping_wrapper.reset();
    slot.duration_ms = milliseconds_since(start);
  }
}

void Wrapper::apply_ping_results(std::vector<PendingPingResult>& pending) {
  for (PendingPingResult& result : pending) {
    logger_.write(LEVEL_DEBUG, ping_tag,
                  "Ping diagnostics for " + result.address +
                      " took: " + std::to_string(result.duration_ms) + "ms");
    if (result.error.empty()) {
      const TestResult& ping = result.ping_wrapper->get_test_result();
      if (logger_.get_minimum_level() <= LEVEL_DEBUG) {
        logger_.write(LEVEL_DEBUG, ping_tag,
                      "Applying ping diagnostics for " + result.address + ":\n" + ping.to_string());
      }
      try {
        results_.add_ping_results(*result.metric_data, result.document->GetAllocator(), ping);
        continue;
      } catch (const exception& fault) {
        // A ping whose result cannot be read failed like any other: its server goes without.
        result.error = fault.what();
      }
    }
    logger_.write(LEVEL_WARNING, ping_tag,
                  "Ping diagnostics error for " + result.address + ": " + result.error);
  }
}

Ping::Parameters Wrapper::ping_parameters(const std::string& address) const {
  Ping::Parameters ping(parameters_.get_tool_folder());
  ping.JSON_output = parameters_.JSON_output;
  ping.use_IPv6 = parameters_.use_IPv6;
  ping.set_TTL(parameters_.get_ping_probe_TTL());
  ping.set_probes(parameters_.get_ping_probes_count());
  ping.set_probe_timeout(parameters_.get_ping_probe_timeout());
  ping.loose_match = parameters_.ping_loose_match;
  ping.host = address;
  set_ping_timeout(ping);
  // The pings are part of the test: none may run past its overall timeout, which the probes
  // alone could exceed by minutes. A ping still gets the one second it needs at least.
  const int left_seconds =
      (int{parameters_.get_timeout()} * 1000 - milliseconds_since(start_time_)) / 1000;
  if (left_seconds < int{ping.get_timeout()}) ping.set_timeout(std::max(left_seconds, 1), 1, 300);
  return ping;
}

void Wrapper::set_ping_timeout(Ping::Parameters& ping) const {
  // In 64 bits: both factors are ints of the input.
  const std::int64_t product =
      std::int64_t{parameters_.get_ping_probes_count()} * parameters_.get_ping_probe_timeout();
  const std::int64_t seconds =
      std::min<std::int64_t>(product > 0 ? product : 1, std::numeric_limits<int>::max());
  ping.set_timeout(static_cast<int>(seconds), 1, 300);
}

}  // namespace Network_tools::DNS_experience
