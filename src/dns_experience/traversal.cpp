// The traversal test (every server of every level, and the ping diagnostics of the last level's
// servers) is not part of this build: a traversal test ends with an internal error rather than
// with a result that would look like one.
#include "dns_experience/wrapper.h"

namespace Network_tools::DNS_experience {

ParsedResponse Wrapper::query_all_nameservers(std::vector<ServerInfo>&& /*servers*/,
                                              Dig::Parameters& /*dig*/,
                                              const std::string& /*target*/, bool /*use_cache*/) {
  throw_internal_error("DNS traversal is not available in this build");
}

void Wrapper::apply_ping_diagnostics_if_needed() {
  if (parameters_.test_type != test_type_t::DNS_traversal) return;
  throw_internal_error("DNS traversal is not available in this build");
}

}  // namespace Network_tools::DNS_experience
