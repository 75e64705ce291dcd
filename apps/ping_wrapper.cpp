// The stand-alone ping tool: one ping per process, from options or a JSON document on standard
// input, printing its result on standard output.
#include "frame/process_entry.h"
#include "ping/wrapper.h"

int main(int argc, char** argv) {
  return Network_tools::run_tool_process(
      argc, argv, Network_tools::factories_of<Network_tools::Ping::Wrapper>());
}
