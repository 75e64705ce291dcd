// Grouping the responses of one level: similarity by answer and authority records, and merging.
#include <set>
#include <utility>

#include "dns_experience/results/results.h"
#include "dns_experience/results/step_json.h"

namespace Network_tools::DNS_experience {

namespace {

const char* const metrics_tag = "DNS METRICS";

using NameInfoSet = std::set<std::pair<std::string, std::string>>;

// The (name, info) pairs of the records of one section of the response object `response`. TTLs
// and server details play no part, so answers that differ only in those compare equal.
NameInfoSet extract_name_info_from_group(const rapidjson::Value& response,
                                         const std::string& section) {
  const auto metrics = response.FindMember("Metrics");
  if (metrics == response.MemberEnd()) {
    throw_structural_fault("No 'Metrics' key found in document.");
  }
  if (!metrics->value.IsArray()) throw_structural_fault("Metrics value is not an array.");

  const std::string name_key = section + ".name";
  const std::string info_key = section + ".info";
  NameInfoSet pairs;
  for (const rapidjson::Value* data : metric_data_objects(metrics->value)) {
    pairs.emplace(text_member(*data, name_key), text_member(*data, info_key));
  }
  return pairs;
}

bool is_similar_section(const rapidjson::Value& existing, const rapidjson::Value& incoming,
                        const std::string& section) {
  return extract_name_info_from_group(existing, section) ==
         extract_name_info_from_group(incoming, section);
}

}  // namespace

bool Results::is_similar_group(const rapidjson::Value& existing, const rapidjson::Value& incoming) {
  if (!existing.IsObject()) {
    throw_structural_fault("existing_group_metrics is not a valid object in is_similar_group");
  }
  if (!incoming.IsObject()) {
    throw_structural_fault("new_group_metrics is not a valid object in is_similar_group");
  }
  return is_similar_section(existing, incoming, "qv-dns.results.answer") &&
         is_similar_section(existing, incoming, "qv-dns.results.authority");
}

void Results::merge_groups(Stats& existing, const Stats& incoming) {
  if (&existing == &incoming) return;

  std::set<std::string> known;
  for (const ServerInfo& server : existing.name_servers) known.insert(server.hostname);
  for (const ServerInfo& server : incoming.name_servers) {
    if (known.count(server.hostname) == 0) existing.name_servers.push_back(server);
  }

  rapidjson::Document& target = existing.response;
  const rapidjson::Value& source = incoming.response;
  if (!target.IsObject() || !source.IsObject()) {
    logger_.write(LEVEL_ERROR, metrics_tag,
                  "Cannot merge groups - one of the reply_details is not a valid object");
    return;
  }
  const auto target_metrics = target.FindMember("Metrics");
  const auto source_metrics = source.FindMember("Metrics");
  if (target_metrics == target.MemberEnd() || source_metrics == source.MemberEnd()) {
    logger_.write(LEVEL_WARNING, metrics_tag, "Cannot merge server details - missing metrics.");
    return;
  }
  if (!target_metrics->value.IsArray() || !source_metrics->value.IsArray()) {
    logger_.write(LEVEL_ERROR, metrics_tag, "Cannot merge server details - invalid metrics array.");
    return;
  }

  // Only the server entries are new: the records are the same as the group's own.
  auto& allocator = target.GetAllocator();
  for (const rapidjson::Value* data : metric_data_objects(source_metrics->value)) {
    if (!is_server_entry(*data)) continue;
    rapidjson::Value server_entry(rapidjson::kObjectType);
    server_entry.AddMember("MetricData", rapidjson::Value(*data, allocator), allocator);
    target_metrics->value.PushBack(server_entry, allocator);
  }
  logger_.write(LEVEL_DEBUG, metrics_tag,
                "Successfully merged server information into existing group.");
}

}  // namespace Network_tools::DNS_experience
