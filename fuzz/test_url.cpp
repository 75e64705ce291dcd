// Fuzz target: the splitting of a test URL into scheme, host and port.
//
// Input: the URL.
#include <cstddef>
#include <cstdint>

#include "frame/exception.h"
#include "support/harness.h"
#include "wrapper/wrapper.h"

using namespace Network_tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string URL = fuzz::as_text(data, size);
  fuzz::run_input([&] {
    std::string scheme, host;
    int port = -1;
    try {
      Wrapper::retrieve_details_from_url(URL, scheme, host, port);
    } catch (const exception& refused) {
      const std::string message = refused.what();
      fuzz::check(refused.error_code() == 0 &&
                      (message == "Missing ://" || message == "Port is not integer" ||
                       message == "Port is not totally integer"),
                  "an unexpected refusal");
      return;
    }
    fuzz::check(URL.compare(0, scheme.size() + 3, scheme + "://") == 0, "the scheme is not first");
    fuzz::check(host.find('/') == std::string::npos, "the host holds a path");
    fuzz::check(port >= 0, "a negative port");
  });
  return 0;
}
