// Fuzz target: delv's validation trace through the Delv wrapper's reader and the trust chain.
//
// Input: delv's text.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "delv/wrapper.h"
#include "support/harness.h"
#include "wrapper/test_result_access.h"

using namespace Network_tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = fuzz::as_text(data, size);
  fuzz::Silent_logger logger;
  Delv::Parameters parameters(fuzz::tool_folder());
  parameters.host = "www.lab.test";

  fuzz::run_input([&] {
    Delv::Wrapper wrapper(logger.get(), parameters);
    wrapper.output_to_JSON(text);
    fuzz::check(fuzz::is_JSON(wrapper.test_result().to_string()), "the result is not JSON");

    // The trust chain is read by people: one indented line per record.
    const rapidjson::Value* metric =
        test_result_access::find_level(wrapper.test_result().document(), 0, 0, 0);
    const rapidjson::Value* chain =
        test_result_access::find_typed(metric, "qv-delv.test.trust-chain", rapidjson::kStringType);
    fuzz::check(chain != nullptr, "no trust chain");
    std::istringstream lines(std::string(chain->GetString(), chain->GetStringLength()));
    for (std::string line; std::getline(lines, line);) {
      fuzz::check(line.rfind("    ", 0) == 0 && line.size() > 4, "a trust chain line of its own");
    }
  });
  return 0;
}
