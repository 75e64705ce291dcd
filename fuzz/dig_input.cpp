// Fuzz target: the JSON input document of the Dig wrapper (capabilities, settings, test URL) and
// the input check that follows it.
//
// Input: the document, as standard input would bring it.
#include <cstddef>
#include <cstdint>

#include "dig/wrapper.h"
#include "support/input_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Network_tools::fuzz::read_input_document<Network_tools::Dig::Wrapper>(data, size);
  return 0;
}
