// Following aliases: whether the target of a CNAME, or of an SVCB or HTTPS record in alias mode,
// must still be resolved, and where its resolution can start.
#include <algorithm>
#include <map>
#include <set>

#include "dns_experience/results/step_json.h"
#include "dns_experience/wrapper.h"
#include "frame/system.h"

namespace Network_tools::DNS_experience {
namespace {

// The answer records of one response: alias owners with their targets, and the owners of
// records of the queried type.
struct Answer_names {
  std::map<std::string, std::string> aliases;
  std::set<std::string> targets;
};

// The target name of alias-mode record data: "0 www.lab.test." gives "www.lab.test.".
std::string svcb_alias_target(const std::string& rdata) {
  const std::size_t space = rdata.find(' ');
  if (space == std::string::npos) return "";
  const std::size_t start = rdata.find_first_not_of(' ', space);
  if (start == std::string::npos) return "";
  return to_lower_case(rdata.substr(start, rdata.find(' ', start) - start));
}

// Sorts the answer records of `metrics` into `names`: CNAMEs and alias-mode SVCB or HTTPS
// records as aliases, other records of `query_type` as targets. False for an alias-mode record
// without a target name.
bool collect_answer_names(const rapidjson::Value& metrics, const std::string& query_type,
                          Logger& logger, const std::string& tag, Answer_names& names) {
  for (const rapidjson::Value* data : metric_data_objects(metrics)) {
    const std::string type = to_lower_case(text_member(*data, answer_query_type));
    if (type.empty()) continue;  // no answer record
    const std::string name = to_lower_case(mandatory_text(*data, answer_name));
    if (type == "cname") {
      names.aliases[name] = to_lower_case(mandatory_text(*data, answer_info));
    } else if (type == query_type) {
      const std::string rdata = text_member(*data, answer_info);
      if ((type == "svcb" || type == "https") && is_svcb_compatible_alias(rdata)) {
        logger.write(LEVEL_DEBUG, tag, "SVCB compatible alias record found: " + rdata);
        const std::string target = svcb_alias_target(rdata);
        if (target.empty()) return false;
        names.aliases[name] = target;
      } else {
        names.targets.insert(name);
      }
    }
  }
  return true;
}

}  // namespace

bool is_svcb_compatible_alias(const std::string& rdata) {
  if (rdata.size() < 2 || rdata.front() != '0') return false;
  const std::size_t space = rdata.find(' ');
  if (space == std::string::npos) return false;
  const std::string target = rdata.substr(space + 1);
  return !target.empty() && target != ".";
}

bool Wrapper::need_alias_resolution(std::string& hostname, std::vector<std::string>& labels,
                                    std::vector<ServerInfo>& servers) {
  const std::string tag = parameters_.run_log_tag + " ALIAS";
  const std::string& query_type = parameters_.get_query_type();
  if (query_type == "cname") {
    logger_.write(LEVEL_DEBUG, tag, "Original query was for CNAME so no need to resolve them");
    return false;
  }
  if (parameters_.test_type == test_type_t::DNS_traversal) {
    logger_.write(LEVEL_DEBUG, tag, "Test type is DNS Traversal so no need to resolve aliases.");
    return false;
  }
  logger_.write(LEVEL_INFO, tag, "Check alias record that could need further resolution");
  const Results::Level& last = results_.resolutions.back().levels.back();
  if (last.groups.empty()) throw_structural_fault("Missing mandatory field Metrics");
  const rapidjson::Value& metrics =
      get_mandatory_json_iterator(last.groups.front().response, "Metrics")->value;
  logger_.write(LEVEL_DEBUG, tag,
                "Collection answers entries into target records and alias records");

  Answer_names names;
  if (!collect_answer_names(metrics, query_type, logger_, tag, names)) {
    throw_exception(err_t::invalid_host, "Invalid SVCB alias record");
  }

  logger_.write(LEVEL_DEBUG, tag, "Resolving target record aliases");
  std::string last_target;
  for (const auto& [owner, first_target] : names.aliases) {
    std::set<std::string> visited{owner};
    std::string target = first_target;
    for (auto next = names.aliases.find(target); next != names.aliases.end();
         next = names.aliases.find(target)) {
      if (!visited.insert(target).second) {
        logger_.write(LEVEL_WARNING, "DNS-E ALIAS WARNING",
                      "Alias loop detected, terminating with the last alias resolved");
        break;
      }
      target = next->second;
    }
    if (names.targets.count(target) != 0) {
      logger_.write(
          LEVEL_INFO, tag,
          "Alias " + owner + " resolve to " + target + " no further resolution is needed");
      return false;
    }
    last_target = target;
  }
  if (names.aliases.empty()) return false;
  return start_alias_resolution(last_target, hostname, labels, servers);
}

bool Wrapper::start_alias_resolution(const std::string& alias_target, std::string& hostname,
                                     std::vector<std::string>& labels,
                                     std::vector<ServerInfo>& servers) {
  const std::string tag = parameters_.run_log_tag + " ALIAS";
  logger_.write(LEVEL_INFO, tag, "Alias " + alias_target + " need further resolution");
  results_.start_alias_traversal();
  logger_.write(LEVEL_DEBUG, tag,
                "Check if the alias resolution is even partially already been done");
  std::string domain = alias_target;
  servers = results_.get_closest_level(domain);
  if (servers.empty()) {
    logger_.write(LEVEL_DEBUG, tag, "Restart from root");
    hostname = ".";
    labels = split(alias_target, '.');
    // As for the host itself: the walk down from the root needs a name below a top-level
    // domain. An alias to the root or to a top-level domain fails the test, with its levels.
    if (std::count_if(labels.begin(), labels.end(),
                      [](const std::string& label) { return !label.empty(); }) < 2) {
      throw_exception(err_t::invalid_host,
                      "Not enough subdomains in target hostname" + alias_target);
    }
    level_ = 0;
    return true;
  }
  if (domain == alias_target) {
    throw_exception(
        err_t::invalid_host,
        "An Alias maps to an alias encountered before in the resolution. Loop detected!");
  }
  logger_.write(LEVEL_DEBUG, tag, "Alias " + alias_target + " already resolved up to: " + domain);
  // The level whose servers serve `domain`: the root's count 1, a top-level domain's 2...
  const auto dots = std::count(domain.begin(), domain.end(), '.');
  const int counter = domain.size() == 1 ? 1 : 1 + static_cast<int>(dots);
  if (counter > 1) {
    hostname = alias_target;
    logger_.write(LEVEL_DEBUG, tag,
                  "Alias resolution start from level greater than TLD " + std::to_string(counter));
    labels.clear();
    level_ = counter;
    return true;
  }
  logger_.write(LEVEL_DEBUG, tag, "Alias resolution start than TLD or lower 1");
  const std::string suffix = "." + domain;
  labels = split(alias_target.substr(0, alias_target.size() - suffix.size()), '.');
  if (labels.empty())
    throw_structural_fault("Alias " + alias_target + " has no label below " + domain);
  hostname = labels.back() + suffix;
  labels.pop_back();
  level_ = counter + 1;
  return true;
}

}  // namespace Network_tools::DNS_experience
