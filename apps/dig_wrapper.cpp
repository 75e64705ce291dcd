// dig_wrapper: one DNS query through the dig build, from options or a JSON test document.
#include "dig/wrapper.h"
#include "frame/process_entry.h"

int main(int argc, char** argv) {
  return Network_tools::run_tool_process(
      argc, argv, Network_tools::factories_of<Network_tools::Dig::Wrapper>());
}
