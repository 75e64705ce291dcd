// Fuzz target: traceroute's ping-mode text through a whole Ping wrapper run (failure phrases,
// the in-session TCP fall-back, the parser and the ping-like text).
//
// Input: one byte of options, then the tool's text. Option bits:
//   0-2 probe kind (0 unset to 5 QUIC, 6 and 7 in-session TCP)   3 no in-session fall-back
//   4 ping-like text instead of JSON   5 packet-loss violation check
//   6 the continuation of a stopped run (probes 3, starting at probe 4 after 2500 ms)
//   7 the tool fails (exit status 1)
#include <cstddef>
#include <cstdint>

#include "ping/wrapper.h"
#include "support/harness.h"

using namespace Network_tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  const std::string text = fuzz::as_text(data + 1, size - 1);

  fuzz::Silent_logger logger;
  Ping::Parameters parameters(fuzz::tool_folder());
  parameters.host = "127.53.1.1";
  const int kind = options & 7;
  parameters.set_protocol(static_cast<protocol_t>(kind > 5 ? protocol_in_session_TCP : kind));
  parameters.in_session_fall_back = (options & 8) == 0;
  parameters.JSON_output = (options & 16) == 0;
  parameters.packet_loss_mode = (options & 32) != 0 ? 0 : 1;
  if ((options & 64) != 0) {
    parameters.force_set_probes(3);
    parameters.set_starting_RTT(4);
    parameters.set_timeout_count(1);
    parameters.set_unreachable_count(1);
    parameters.set_starting_duration(2500.0F);
  }

  fuzz::Scripted_tools tools;
  tools.answer = [&](const std::string&, int& exit_status) {
    exit_status = (options & 128) != 0 ? 1 : 0;
    return text;
  };

  fuzz::run_input([&] {
    Ping::Wrapper wrapper(logger.get(), parameters);
    tools.install(wrapper);
    const std::string printed = wrapper.run();
    if (parameters.JSON_output) {
      fuzz::check(fuzz::is_JSON(printed), "the result is not JSON");
    } else {
      fuzz::check(!printed.empty() && printed.back() == '\n', "the ping-like text ends a line");
    }
  });
  return 0;
}
