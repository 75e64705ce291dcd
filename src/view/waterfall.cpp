// Reading a dns_experience result document into its waterfall: steps become levels, server
// entries become the servers asked, records become the level's outcome.
#include "view/waterfall.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "frame/system.h"

namespace Network_tools::View {

namespace {

constexpr const char* status_none = "qv-dns.results.error.none";

// Typed reading of the members of one object of the document; `where` names the object in
// messages ("step 3, metric 2").
class Fields {
 public:
  Fields(const rapidjson::Value& object, std::string where)
      : object_(object), where_(std::move(where)) {}

  bool has(const char* key) const { return object_.HasMember(key); }

  std::string text(const char* key) const {
    const rapidjson::Value* value = find(key);
    if (value == nullptr) return "";
    if (!value->IsString()) wrong(key, "a string");
    return std::string(value->GetString(), value->GetStringLength());
  }

  // A count or a time: a whole number, not negative.
  std::optional<std::int64_t> count(const char* key) const {
    const rapidjson::Value* value = find(key);
    if (value == nullptr) return std::nullopt;
    if (!value->IsInt64() || value->GetInt64() < 0) wrong(key, "a whole number, 0 or more");
    return value->GetInt64();
  }

  std::optional<double> number(const char* key) const {
    const rapidjson::Value* value = find(key);
    if (value == nullptr) return std::nullopt;
    if (!value->IsNumber() || value->GetDouble() < 0) wrong(key, "a number, 0 or more");
    return value->GetDouble();
  }

  std::optional<bool> boolean(const char* key) const {
    const rapidjson::Value* value = find(key);
    if (value == nullptr) return std::nullopt;
    if (!value->IsBool()) wrong(key, "true or false");
    return value->GetBool();
  }

 private:
  const rapidjson::Value* find(const char* key) const {
    const auto member = object_.FindMember(key);
    return member == object_.MemberEnd() ? nullptr : &member->value;
  }
  [[noreturn]] void wrong(const char* key, const char* expected) const {
    throw not_a_result(where_ + ": " + key + " is not " + expected);
  }

  const rapidjson::Value& object_;
  std::string where_;
};

const rapidjson::Value& member_of_type(const rapidjson::Value& parent, const char* key,
                                       rapidjson::Type type, const std::string& where) {
  const auto member = parent.FindMember(key);
  if (member == parent.MemberEnd() || member->value.GetType() != type) {
    throw not_a_result(where + " has no " + key +
                       (type == rapidjson::kArrayType ? " array" : " object"));
  }
  return member->value;
}

// Keeps the first of equal items, in order; linear, whatever the number of records.
void drop_repeats(std::vector<std::string>& list) {
  std::unordered_set<std::string> seen;
  std::erase_if(list, [&seen](const std::string& item) { return !seen.insert(item).second; });
}

Server_query read_server(const Fields& entry, const std::string& where) {
  Server_query server;
  server.name = entry.text("qv-dns.results.server.name");
  server.address = entry.text("qv-dns.results.server.address");
  if (const auto duration = entry.count("qv-dns.results.duration.ms")) {
    if (*duration > std::numeric_limits<int>::max()) {
      throw not_a_result(where + ": qv-dns.results.duration.ms is out of range");
    }
    server.duration_ms = static_cast<int>(*duration);
  }
  server.duration_us = entry.count("qv-dns.results.duration.us");
  server.status = entry.text("qv-dns.results.status");
  server.cached = entry.boolean("qv-dns.results.cached").value_or(false);
  server.nsid = entry.text("qv-dns.results.nsid");
  server.hostname_bind = entry.text("qv-dns.results.hostname-bind");
  const std::string round_trips = entry.text("qv-dns.results.server.ping.round-trip-times");
  if (!round_trips.empty()) server.ping_round_trips = split(round_trips, ',');
  server.ping_error = entry.text("qv-dns.results.server.ping.error-code");
  server.ping_duration_ms = entry.number("qv-dns.results.server.ping.duration.ms");
  return server;
}

// A record of the answer or authority section joins the level's outcome; additional records
// (glue, the client subnet) only support it.
void read_record(const Fields& entry, Level& level) {
  if (entry.has("qv-dns.results.answer.type")) {
    level.answers.push_back(entry.text("qv-dns.results.answer.type") + " " +
                            entry.text("qv-dns.results.answer.info"));
    return;
  }
  if (!entry.has("qv-dns.results.authority.type")) return;
  const std::string type = entry.text("qv-dns.results.authority.type");
  const std::string zone = entry.text("qv-dns.results.authority.name");
  if (type == "NS") {
    level.referral_zone = zone;
    level.name_servers.push_back(entry.text("qv-dns.results.authority.info"));
  } else if (type == "SOA") {
    level.negative_zone = zone;
  }
}

void read_step(const rapidjson::Value& step, const std::string& where, Waterfall& waterfall) {
  if (!step.IsObject()) throw not_a_result(where + " is not an object");
  const rapidjson::Value& other = member_of_type(step, "OtherData", rapidjson::kObjectType, where);
  const rapidjson::Value& metrics = member_of_type(step, "Metrics", rapidjson::kArrayType, where);
  // The one step of a test that reported no level.
  if (other.ObjectEmpty() && metrics.Empty()) return;

  const Fields fields(other, where);
  const auto id = fields.count("qv-dns.results.level-id.number");
  if (!id) {
    throw not_a_result(where + " has no qv-dns.results.level-id.number");
  }
  const int depth =
      static_cast<int>(fields.count("qv-dns.results.recursion-level.number").value_or(0));
  std::vector<Level>& levels = waterfall.levels;
  if (levels.empty() || levels.back().id != *id || levels.back().alias_depth != depth) {
    Level& level = levels.emplace_back();
    level.id = static_cast<int>(std::min<std::int64_t>(*id, std::numeric_limits<int>::max()));
    level.alias_depth = depth;
    level.question_name = fields.text("qv-dns.results.question.name");
    level.question_type = fields.text("qv-dns.results.question.type");
    level.protocol = fields.text("qv-dns.results.protocol");
  }
  for (rapidjson::SizeType index = 0; index < metrics.Size(); ++index) {
    const std::string entry_where = where + ", metric " + std::to_string(index);
    if (!metrics[index].IsObject()) throw not_a_result(entry_where + " is not an object");
    const Fields entry(
        member_of_type(metrics[index], "MetricData", rapidjson::kObjectType, entry_where),
        entry_where);
    if (entry.has("qv-dns.results.server.name") || entry.has("qv-dns.results.server.address")) {
      levels.back().servers.push_back(read_server(entry, entry_where));
    } else {
      read_record(entry, levels.back());
    }
  }
}

}  // namespace

bool Server_query::failed() const {
  return status != status_none;
}

std::int64_t Level::duration_ms() const {
  return std::accumulate(servers.begin(), servers.end(), std::int64_t{0},
                         [](std::int64_t sum, const Server_query& server) {
                           return sum + server.duration_ms.value_or(0);
                         });
}

std::optional<std::int64_t> Level::duration_us() const {
  std::int64_t sum = 0;
  for (const Server_query& server : servers) {
    if (server.duration_ms && !server.duration_us) return std::nullopt;
    sum += server.duration_us.value_or(0);
  }
  return sum;
}

bool Level::cached() const {
  return !servers.empty() && std::all_of(servers.begin(), servers.end(),
                                         [](const Server_query& server) { return server.cached; });
}

std::int64_t Waterfall::span_ms() const {
  const std::int64_t levels_ms = std::accumulate(
      levels.begin(), levels.end(), std::int64_t{0},
      [](std::int64_t sum, const Level& level) { return sum + level.duration_ms(); });
  return std::max(levels_ms, duration_ms.value_or(0));
}

Waterfall read_waterfall(const rapidjson::Value& document) {
  if (!document.IsObject()) throw not_a_result("the document is not a JSON object");
  const rapidjson::Value& results =
      member_of_type(document, "MonitorResults", rapidjson::kArrayType, "the document");
  if (results.Empty() || !results[0].IsObject()) {
    throw not_a_result("MonitorResults holds no result object");
  }
  const rapidjson::Value& result = results[0];
  const Fields test(member_of_type(result, "OtherData", rapidjson::kObjectType, "the result"),
                    "the result's OtherData");
  Waterfall waterfall;
  waterfall.url = test.text("qv-dns.results.url");
  waterfall.duration_ms = test.count("qv-dns.results.duration.ms");
  waterfall.duration_us = test.count("qv-dns.results.duration.us");
  waterfall.network_outage = test.boolean("qv-dns.results.is-network-outage-detected");
  waterfall.error_code = test.text("common.results.error-code");
  waterfall.error_details = test.text("common.results.error-details");

  const rapidjson::Value& steps =
      member_of_type(result, "StepResults", rapidjson::kArrayType, "the result");
  for (rapidjson::SizeType index = 0; index < steps.Size(); ++index) {
    read_step(steps[index], "step " + std::to_string(index), waterfall);
  }
  // A traversal test that ended early may lack its outage verdict; its pings still tell it.
  waterfall.traversal = waterfall.network_outage.has_value();
  for (Level& level : waterfall.levels) {
    drop_repeats(level.answers);
    drop_repeats(level.name_servers);
    for (const Server_query& server : level.servers) {
      if (!server.ping_round_trips.empty() || server.ping_duration_ms ||
          !server.ping_error.empty()) {
        waterfall.traversal = true;
      }
    }
  }
  return waterfall;
}

}  // namespace Network_tools::View
