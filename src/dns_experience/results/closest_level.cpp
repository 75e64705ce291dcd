// Finding where the resolution of an alias target can start: the servers of the longest domain
// already delegated earlier in the run.
#include "dns_experience/results/results.h"

namespace Network_tools::DNS_experience {

namespace {

const char* const results_tag = "DNS RESULTS";

}  // namespace

std::vector<ServerInfo> Results::get_closest_level(std::string& hostname) {
  logger_.write(LEVEL_DEBUG, results_tag,
                "Searching for authoritative nameservers of the longest common domain between "
                "previously resolved hostnames and " +
                    hostname);
  const auto from_root = [this]() {
    logger_.write(LEVEL_INFO, results_tag, "Next hostname resolution must start from root servers");
    return std::vector<ServerInfo>();
  };
  // The first group of the run is normally the root's; nothing recorded yet means no shortcut.
  if (resolutions.empty() || resolutions.front().levels.empty() ||
      resolutions.front().levels.front().groups.empty()) {
    return from_root();
  }
  const Stats* const initial = &resolutions.front().levels.front().groups.front();
  const Stats* best = initial;

  for (const HostnameResolution& resolution : resolutions) {
    for (const Level& level : resolution.levels) {
      for (const Stats& group : level.groups) {
        const std::string& domain = group.relative_authoritative_domain;
        const std::string& best_domain = best->relative_authoritative_domain;
        if (domain == ".") {
          logger_.write(LEVEL_DEBUG, results_tag, "Skipping checks on root since is always common");
          continue;
        }
        if (domain.size() < best_domain.size()) {
          logger_.write(
              LEVEL_DEBUG, results_tag,
              "Skipping " + domain + " since our current match " + best_domain + " is better");
          continue;
        }
        // The dot in front keeps "xlab.test." from matching "lab.test." and a domain from
        // matching itself. A group without delegation has no servers to start from.
        if (!domain.empty() && hostname.ends_with("." + domain)) {
          logger_.write(LEVEL_DEBUG, results_tag,
                        "Found common domain " + domain + " better than " + best_domain);
          best = &group;
        }
      }
    }
  }
  if (best == initial) return from_root();
  hostname = best->relative_authoritative_domain;
  logger_.write(LEVEL_INFO, results_tag,
                "Next hostname resolution can start with " + hostname + " nameservers");
  return best->name_servers;
}

}  // namespace Network_tools::DNS_experience
