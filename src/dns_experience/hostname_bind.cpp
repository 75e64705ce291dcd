// The hostname.bind step: the identity of the last server asked, after the last level.
#include "dns_experience/results/step_json.h"
#include "dns_experience/wrapper.h"
#include "frame/exception.h"

namespace Network_tools::DNS_experience {

void Wrapper::query_hostname_BIND(Dig::Parameters& dig) {
  const std::string& tag = parameters_.run_log_tag;
  if ((parameters_.query_flags & Parameters::hostname_bind_flag) == 0) {
    logger_.write(LEVEL_DEBUG, tag, "Hostname bind not enabled");
    return;
  }
  const Dig::query_mode_t mode = dig.query_mode;
  dig.query_mode = Dig::query_mode_t::hostname_bind;
  try {
    logger_.write(LEVEL_DEBUG, tag, "Running hostname BIND query");
    // Like every query: within what is left of the overall timeout, with fresh counters.
    set_direct_timeout(dig);
    const std::string text = run_dig_query(dig);
    TestResult& result = dig_wrapper_->test_result();
    if (logger_.get_minimum_level() <= LEVEL_DEBUG) {
      logger_.write(LEVEL_DEBUG, tag, "Bind json DNS direct json\n" + result.to_string());
    }
    if (!parameters_.JSON_output) raw_output_ << "## hostname.BIND query\n" << text << "\n";
    const std::string key = result.retrieve_error(error_code_key, 0, -1);
    if (!key.empty()) {
      throw exception(key, static_cast<int>(direct_error_to_experience_error(key)), key);
    }
    rapidjson::Document identity;
    identity.CopyFrom(*result.retrieve_data_level_pointer(0, 0, -1), identity.GetAllocator());
    results_.resolutions.back().hostname_bind_response = std::move(identity);
  } catch (const exception& error) {
    logger_.write(LEVEL_WARNING, tag,
                  "Error hostname BIND on " + dig.host + ", with name server: " + dig.server +
                      " error: " + error.what());
  }
  dig.set_query_mode(static_cast<int>(mode));
}

}  // namespace Network_tools::DNS_experience
