// Fuzz target: dig's text through a whole Dig wrapper run (failure classification, the parser,
// the DNSSEC validation and hostname.bind steps).
//
// Input: one byte of options, then dig's text. With DNSSEC on, the text after the first NUL byte
// is what delv printed; with the hostname.bind step on, the text after the second one is the
// answer of the hostname.bind query. Option bits:
//   0-1 query mode (standard, nsid, hostname.bind, reverse)   2 DNSSEC   3 hostname.bind step
//   4 a client subnet   5 dig fails (exit status 9)   6 raw text output   7 no server given
#include <cstddef>
#include <cstdint>

#include "dig/wrapper.h"
#include "support/harness.h"

using namespace Network_tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  const std::vector<std::string> texts = fuzz::split_at_nul(fuzz::as_text(data + 1, size - 1));
  const auto text = [&texts](std::size_t index) {
    return index < texts.size() ? texts[index] : std::string();
  };

  fuzz::Silent_logger logger;
  Dig::Parameters parameters(fuzz::tool_folder());
  parameters.set_query_mode(options & 3);
  parameters.set_query_type("a");
  parameters.host = (options & 3) == 3 ? "127.53.4.1" : "www.lab.test";
  parameters.DNSSEC = (options & 4) != 0;
  if ((options & 16) != 0) parameters.set_EDNS_client_subnet("127.53.200.0/24");
  parameters.JSON_output = (options & 64) == 0;
  if ((options & 128) == 0) parameters.server = "127.53.4.1";

  fuzz::Scripted_tools tools;
  tools.answer = [&](const std::string& command, int& exit_status) {
    if (command.find("QV_delv") != std::string::npos) return text(1);
    if (command.find("hostname.bind") != std::string::npos && (options & 3) != 2) return text(2);
    exit_status = (options & 32) != 0 ? 9 : 0;
    return text(0);
  };

  fuzz::run_input([&] {
    Dig::Wrapper wrapper(logger.get(), parameters);
    tools.install(wrapper);
    wrapper.set_hostname_bind((options & 8) != 0);
    const std::string printed = wrapper.run();
    if (parameters.JSON_output) fuzz::check(fuzz::is_JSON(printed), "the result is not JSON");
  });
  return 0;
}
