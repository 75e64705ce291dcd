// dns_experience: how long resolving one host name takes, level by level, from options or a
// JSON test document.
#include "dns_experience/wrapper.h"
#include "frame/process_entry.h"

int main(int argc, char** argv) {
  return Network_tools::run_tool_process(
      argc, argv, Network_tools::factories_of<Network_tools::DNS_experience::Wrapper>());
}
