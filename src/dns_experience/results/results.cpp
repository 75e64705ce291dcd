// Recording responses and failures in the results model.
#include "dns_experience/results/results.h"

#include <utility>

#include "dns_experience/results/step_json.h"
#include "wrapper/json_access.h"

namespace Network_tools::DNS_experience {

namespace {

const char* const results_tag = "DNS RESULTS";
const char* const warning_tag = "DNS-E RESULTS WARNING";

// The "OtherData" object of a response, which every response that is timed must have.
const rapidjson::Value& mandatory_other_data(const rapidjson::Value& response) {
  if (response.IsObject()) {
    const auto other = response.FindMember("OtherData");
    if (other != response.MemberEnd() && other->value.IsObject()) return other->value;
  }
  throw_structural_fault("Missing mandatory other_data ");
}
rapidjson::Value& mandatory_other_data(rapidjson::Value& response) {
  return const_cast<rapidjson::Value&>(
      mandatory_other_data(static_cast<const rapidjson::Value&>(response)));
}

void set_string(rapidjson::Value& object, const std::string& key, const std::string& text,
                rapidjson::Document::AllocatorType& allocator) {
  set_member(object, key, rapidjson::Value(text.c_str(), allocator), allocator);
}

// A response served from the cache took no time, in milliseconds and in microseconds (a level
// cached before the microseconds were kept gains them).
void zero_duration(rapidjson::Value& other_data, rapidjson::Document::AllocatorType& allocator) {
  if (auto duration = other_data.FindMember(duration_key.c_str());
      duration != other_data.MemberEnd()) {
    duration->value.SetInt(0);
    set_member(other_data, duration_us_key, rapidjson::Value(0), allocator);
  }
}

// An independent copy of the first step of `result`. The copy must outlive the dig wrapper's
// document, which is reset before every query.
rapidjson::Document copy_step(TestResult& result) {
  rapidjson::Document copy;
  copy.CopyFrom(*result.retrieve_data_level_pointer(0, 0, -1), copy.GetAllocator());
  return copy;
}

std::string on_off(bool empty) {
  return empty ? "empty" : "not empty";
}

}  // namespace

Results::HostnameResolution& Results::current() {
  if (resolutions.empty()) {
    throw_structural_fault("No hostname resolution was started before adding a result");
  }
  return resolutions.back();
}

void Results::start_alias_traversal() {
  logger_.write(LEVEL_DEBUG, results_tag, "Starting a resolution of a new hostname");
  resolutions.emplace_back();
}

void Results::add_level(const std::string& relative_authoritative_domain,
                        rapidjson::Document&& response, const std::vector<ServerInfo>& name_servers,
                        int level, bool from_cache) {
  if (name_servers.empty() != relative_authoritative_domain.empty()) {
    throw_structural_fault(
        std::string("Invalid Combination when adding a result Level.") +
        " name_servers: " + on_off(name_servers.empty()) +
        "; relative_authoritative_domain: " + on_off(relative_authoritative_domain.empty()));
  }
  HostnameResolution& resolution = current();
  if (level_counts(level)) {
    if (from_cache) {
      zero_duration(mandatory_other_data(response), response.GetAllocator());
    } else {
      add_lookup_time(response);
    }
  }

  Stats incoming{relative_authoritative_domain, std::move(response), name_servers};
  Level& target = level_for(resolution, level);
  for (Stats& group : target.groups) {
    // A cached level that is not reported is kept without its text, so it agrees with nothing.
    if (group.response.IsNull() || incoming.response.IsNull()) continue;
    if (is_similar_group(group.response, incoming.response)) {
      logger_.write(LEVEL_DEBUG, "DNS METRICS",
                    "Merging similar groups at level " + std::to_string(level));
      merge_groups(group, incoming);
      return;
    }
  }
  target.groups.push_back(std::move(incoming));
}

void Results::add_level(const std::string& relative_authoritative_domain, const ServerInfo& server,
                        TestResult& result, const std::vector<ServerInfo>& name_servers, int level,
                        bool from_cache) {
  rapidjson::Document response = copy_step(result);
  if (!relative_authoritative_domain.empty() && relative_authoritative_domain != "." &&
      !server.hostname.empty()) {
    logger_.write(LEVEL_DEBUG, results_tag, "Adding resolution details");
    auto other = response.IsObject() ? response.FindMember("OtherData") : response.MemberEnd();
    if (other != response.MemberEnd() && other->value.IsObject() &&
        other->value.HasMember(server_name_key.c_str())) {
      auto& allocator = response.GetAllocator();
      set_string(other->value, server_name_key, server.hostname, allocator);
      if (server.resolution_time_ms != -1) {
        set_member(other->value, "qv-dns.results.server.duration.ms",
                   rapidjson::Value(server.resolution_time_ms), allocator);
      }
    }
  }
  add_level(relative_authoritative_domain, std::move(response), name_servers, level, from_cache);
}

void Results::add_traversal_level(const ParsedResponse& parsed_response, const ServerInfo& server,
                                  TestResult& result, int level, bool from_cache) {
  move_server_detail_to_metrics(result, from_cache);
  add_level(parsed_response.relative_authoritative_domain, server, result,
            parsed_response.name_servers, level, from_cache);
}

bool Results::add_level(const std::string& cached_text, const std::vector<ServerInfo>& name_servers,
                        int level, bool from_cache, std::string& relative_authoritative_domain) {
  if (!level_counts(level)) {
    add_level(relative_authoritative_domain, rapidjson::Document(), name_servers, level,
              from_cache);
    return true;
  }
  // The text comes from a file that other processes write: bounded in depth, or a damaged
  // entry nested a million deep would exhaust the stack.
  rapidjson::Document response;
  if (!parse_JSON(response, cached_text).empty()) return false;
  // A text that parses but is no step (written by another build, or damaged) would fail the
  // writing of the result later: it is refused like one that does not parse.
  if (!response.IsObject()) return false;
  const auto other = response.FindMember("OtherData");
  const auto metrics = response.FindMember("Metrics");
  if (other == response.MemberEnd() || !other->value.IsObject() ||
      metrics == response.MemberEnd() || !metrics->value.IsArray()) {
    return false;
  }
  zero_duration(other->value, response.GetAllocator());
  // The level was not measured in this run: its server entry says so.
  set_member(other->value, "qv-dns.results.cached", rapidjson::Value(true),
             response.GetAllocator());

  const std::string authority_name = "qv-dns.results.authority.name";
  for (const rapidjson::Value* data : metric_data_objects(metrics->value)) {
    const auto name = data->FindMember(authority_name.c_str());
    if (name == data->MemberEnd() || !name->value.IsString()) continue;
    relative_authoritative_domain.assign(name->value.GetString(), name->value.GetStringLength());
    break;
  }
  add_level(relative_authoritative_domain, std::move(response), name_servers, level, from_cache);
  return true;
}

void Results::add_failure(TestResult& result, const std::string& hostname, int level) {
  if (!level_counts(level)) return;
  HostnameResolution& resolution = current();

  rapidjson::Document response = copy_step(result);
  add_lookup_time(response);
  rapidjson::Value& other = mandatory_other_data(response);
  auto& allocator = response.GetAllocator();
  if (!hostname.empty()) {
    if (!other.HasMember(server_name_key.c_str())) {
      logger_.write(LEVEL_WARNING, warning_tag, "hostname entry when collecting a failure");
    }
    // A query that timed out leaves no server line behind; without the name the failure
    // would not say which server failed.
    set_string(other, server_name_key, hostname, allocator);
  }
  const std::string error = result.retrieve_error(error_code_key, 0, -1);
  if (error.empty()) {
    logger_.write(LEVEL_WARNING, warning_tag, "Added failure with no error");
  } else {
    set_string(other, status_key, error, allocator);
  }

  // The level is opened only once the failure is known to be whole.
  level_for(resolution, level).failures.push_back(ServerFailure{std::move(response)});
}

Results::Level& Results::level_for(HostnameResolution& resolution, int level) {
  // Only the last level is compared: a number that comes back after another level opens a
  // level of its own.
  if (resolution.levels.empty() || resolution.levels.back().level != level) {
    resolution.levels.emplace_back().level = level;
    if (level_counts(level)) ++reported_level_count;
  }
  return resolution.levels.back();
}

void Results::add_lookup_time(const rapidjson::Value& response) {
  const rapidjson::Value& other = mandatory_other_data(response);
  const auto duration = other.FindMember(duration_key.c_str());
  if (duration == other.MemberEnd() || !duration->value.IsInt()) {
    logger_.write(LEVEL_DEBUG, results_tag, "No duration to add");
    return;
  }
  total_duration_ms += duration->value.GetInt();
  const auto microseconds = other.FindMember(duration_us_key.c_str());
  total_duration_us += microseconds != other.MemberEnd() && microseconds->value.IsInt64()
                           ? microseconds->value.GetInt64()
                           : std::int64_t{duration->value.GetInt()} * 1000;
}

void Results::add_ptr(TestResult& result) {
  HostnameResolution& resolution = current();
  rapidjson::Document response = copy_step(result);
  add_lookup_time(response);
  Level answer;
  answer.level = 3;
  answer.groups.push_back(Stats{"", std::move(response), {}});
  resolution.levels.push_back(std::move(answer));
}

}  // namespace Network_tools::DNS_experience
