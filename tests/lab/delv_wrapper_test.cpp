// The Delv wrapper validating lab names with the real delv inside the DNS lab.
#include <gtest/gtest.h>

#include <sstream>

#include "delv/wrapper.h"
#include "frame/command.h"
#include "support/lab_run.h"

namespace Network_tools::Delv {
namespace {

TEST(DelvWrapperLabTest, SignedAndUnsignedNames) {
  testing_support::ensure_lab_up();
  std::ostringstream log;
  Logger logger(LEVEL_ERROR, "", log);
  Parameters parameters("");
  parameters.server = "127.53.0.53";
  parameters.JSON_output = true;
  Wrapper wrapper(logger, parameters);
  // Every command starts inside the lab namespace.
  wrapper.set_command_launcher([](const std::string& command, Pipe_registry& registry) {
    return launch_bash_command(std::string(NT_SOURCE_DIR) + "/lab/dnslab exec /bin/sh -c " +
                                   testing_support::lab_run_internal::quoted(command),
                               registry);
  });
  const auto validate = [&](const std::string& host) {
    parameters.host = host;
    wrapper.set_parameters(parameters);
    const std::string document = wrapper.run();
    return std::pair{document,
                     wrapper.test_result().retrieve_error("common.results.error-code", 0, 0)};
  };

  const auto [document, signed_error] = validate("www.lab.test");
  EXPECT_EQ(signed_error, "");
  EXPECT_NE(document.find("\"qv-delv.test.trust-chain\":\"    RRSIG on www.lab.test. (A) signed by "
                          "lab.test. with algorithm ECDSAP256SHA256 (13)"),
            std::string::npos);
  EXPECT_NE(document.find("\"qv-delv.test.duration.ms\":"), std::string::npos);
  EXPECT_EQ(validate("nx.unsigned.test").second, "qv-delv.results.error.answer-unsigned");
}

}  // namespace
}  // namespace Network_tools::Delv
