// The Delv wrapper validating lab names with the real delv inside the DNS lab.
#include <gtest/gtest.h>

#include <sstream>

#include "delv/wrapper.h"
#include "frame/command.h"
#include "support/lab_run.h"

namespace Network_tools::Delv {
namespace {

// Runs `parameters` with every command started inside the lab namespace.
std::string validate_in_lab(Parameters parameters, TestResult** result, Logger& logger,
                            std::unique_ptr<Wrapper>& wrapper) {
  parameters.JSON_output = true;
  wrapper = std::make_unique<Wrapper>(logger, parameters);
  wrapper->set_command_launcher([](const std::string& command, Pipe_registry& registry) {
    return launch_bash_command(std::string(NT_SOURCE_DIR) + "/lab/dnslab exec /bin/sh -c " +
                                   testing_support::lab_run_internal::quoted(command),
                               registry);
  });
  const std::string document = wrapper->run();
  *result = &wrapper->test_result();
  return document;
}

TEST(DelvWrapperLabTest, SignedAndUnsignedNames) {
  testing_support::ensure_lab_up();
  std::ostringstream log;
  Logger logger(LEVEL_ERROR, "", log);
  std::unique_ptr<Wrapper> wrapper;
  TestResult* result = nullptr;

  Parameters parameters("");
  parameters.host = "www.lab.test";
  parameters.server = "127.53.0.53";
  std::string document = validate_in_lab(parameters, &result, logger, wrapper);
  EXPECT_EQ(result->retrieve_error("common.results.error-code", 0, 0), "");
  EXPECT_NE(document.find("\"qv-delv.test.trust-chain\":\"    RRSIG on www.lab.test. (A) signed by "
                          "lab.test. with algorithm ECDSAP256SHA256 (13)"),
            std::string::npos);
  EXPECT_NE(document.find("\"qv-delv.test.duration.ms\":"), std::string::npos);

  parameters.host = "nx.unsigned.test";
  validate_in_lab(parameters, &result, logger, wrapper);
  EXPECT_EQ(result->retrieve_error("common.results.error-code", 0, 0),
            "qv-delv.results.error.answer-unsigned");
}

}  // namespace
}  // namespace Network_tools::Delv
