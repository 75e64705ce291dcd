// Fuzz target: the resolver configuration file, as read for the machine's name servers and
// filtered to address literals.
//
// Input: the file.
#include <cstddef>
#include <cstdint>

#include "delv/wrapper.h"
#include "frame/ip.h"
#include "frame/system.h"
#include "support/harness.h"

using namespace Network_tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::scratch_path("resolv.conf");
  fuzz::write_file(path, fuzz::as_text(data, size));
  fuzz::Silent_logger logger;
  fuzz::run_input([&] {
    const std::vector<std::string> servers = get_machine_nameservers(path);
    for (const std::string& server : servers) {
      fuzz::check(!server.empty() && server.find_first_of(" \t\n#") == std::string::npos,
                  "a server is not one word");
    }

    // Any wrapper filters them the same way.
    Delv::Wrapper wrapper(logger.get(), Delv::Parameters(fuzz::tool_folder()));
    wrapper.set_resolver_configuration([&servers] { return servers; });
    for (const bool use_IPv6 : {false, true}) {
      std::size_t next = 0;
      for (const std::string& kept : wrapper.load_nameservers(use_IPv6)) {
        fuzz::check(IP::is_address(kept, use_IPv6 ? IP::any_type : IP::IPv4_type),
                    "a kept server is not an address of the family");
        while (next < servers.size() && servers[next] != kept) ++next;
        fuzz::check(next++ < servers.size(), "the kept servers are not in file order");
      }
    }
  });
  return 0;
}
