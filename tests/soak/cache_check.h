// The soak's check of the cache file that its runs shared: read back with the product's own
// Cache, it must load whole, hold every entry that the finished runs stored, and nothing that no
// run stored.
#ifndef NETWORK_TOOLS_TESTS_SOAK_CACHE_CHECK_H_
#define NETWORK_TOOLS_TESTS_SOAK_CACHE_CHECK_H_

#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace Network_tools::soak {

// The cache entries of runs: the answers (by host name) and the server query times (by server
// name) that they set.
struct Cache_entries {
  std::set<std::string> answers;
  std::set<std::string> query_stats;

  void add(const Cache_entries& other);
};

// The entries that a run's debug log (its standard error) says it set in its cache, and whether
// the run then stored its cache.
Cache_entries entries_set(const std::string& log, bool& stored);

// Loads the cache file at `path` and returns what is wrong with it ("" for nothing): it must
// load, hold every entry of `stored` (each answer with its servers, and its JSON when it has
// one, readable), and no more entries than `possible` names. Counts the entries it checked.
std::string check_cache_file(const std::string& path, const Cache_entries& stored,
                             const Cache_entries& possible, std::size_t& checked);

}  // namespace Network_tools::soak

#endif  // NETWORK_TOOLS_TESTS_SOAK_CACHE_CHECK_H_
