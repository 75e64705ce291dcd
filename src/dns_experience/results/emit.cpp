// Writing the results model into the test-result document: one step per group and per set of
// failures, their identifiers, and the test-level keys.
#include <algorithm>
#include <utility>

#include "dns_experience/errors.h"
#include "dns_experience/parameters.h"
#include "dns_experience/results/results.h"
#include "dns_experience/results/step_json.h"

namespace Network_tools::DNS_experience {

namespace {

const std::string protocol_key = "qv-dns.results.protocol";

bool is_experience_error(const std::string& status) {
  return !status.empty() && direct_error_to_experience_error(status) != err_t::none;
}

// A copy of a response's "OtherData", from which the entries written elsewhere are removed. The
// model keeps its own documents untouched.
rapidjson::Document copy_other_data(const rapidjson::Value& response) {
  const auto other = get_mandatory_json_iterator(response, "OtherData");
  if (!other->value.IsObject()) throw_structural_fault("Missing mandatory field OtherData");
  rapidjson::Document copy;
  copy.CopyFrom(other->value, copy.GetAllocator());
  return copy;
}

// Takes the protocol and question entries out of `other`, writing them to the step when
// `write` is set (they describe the whole step, so only one response of it writes them).
void take_question(TestResult& result, rapidjson::Document& other, int step, bool write) {
  for (const std::string* key : {&protocol_key, &Results::question_class, &Results::question_name,
                                 &Results::question_query_type}) {
    const auto member = other.FindMember(key->c_str());
    if (member == other.MemberEnd() || !member->value.IsString()) continue;
    if (write) {
      result.add_other_data(
          *key, std::string(member->value.GetString(), member->value.GetStringLength()), 0, step);
    }
    other.RemoveMember(member);
  }
}

void write_identifiers(TestResult& result, int step, int level_id, int recursion, int group_id) {
  result.add_other_data("qv-dns.results.level-id.number", level_id, 0, step);
  result.add_other_data("qv-dns.results.recursion-level.number", recursion, 0, step);
  result.add_other_data("qv-dns.results.group-id.number", group_id, 0, step);
}

// Appends the hostname.bind answer of `response` to the last metric entry of the last step
// written.
void attach_hostname_bind(TestResult& result, const rapidjson::Value& response, int steps_written,
                          Logger& logger) {
  const auto other = get_mandatory_json_iterator(response, "OtherData");
  if (other->value.IsObject() && other->value.HasMember(error_code_key.c_str())) return;
  const auto metrics = get_mandatory_json_iterator(response, "Metrics");
  if (!metrics->value.IsArray()) throw_structural_fault("Missing mandatory field Metrics");
  for (const auto& entry : metrics->value.GetArray()) {
    const auto data = get_mandatory_json_iterator(entry, "MetricData");
    if (text_member(data->value, answer_name) != "hostname.bind.") continue;
    const auto info = get_mandatory_json_iterator(data->value, answer_info);
    if (!info->value.IsString()) throw_structural_fault("Missing mandatory field " + answer_info);
    if (steps_written == 0) {
      logger.write(LEVEL_DEBUG, "DNS RESULTS",
                   "No reported level to attach the hostname.bind answer to");
      return;
    }
    const int step = steps_written - 1;
    const auto step_metrics =
        get_mandatory_json_iterator(*result.retrieve_data_level_pointer(0, step, -1), "Metrics");
    if (!step_metrics->value.IsArray() || step_metrics->value.Empty()) {
      throw_structural_fault("Invalid empty MetricsArray");
    }
    const int last = static_cast<int>(step_metrics->value.Size()) - 1;
    result.append_string_to_metric_data(
        "qv-dns.results.hostname-bind",
        std::string(info->value.GetString(), info->value.GetStringLength()), 0, step, last);
    return;
  }
}

// Reads the candidate error from the server entries of a final-level group step: an experience
// test takes the first server's status, a traversal test the first error. Returns false once
// the final level has decided (a traversal test found its error).
bool take_group_candidate(const rapidjson::Value& step_metrics, bool traversal,
                          std::string& candidate) {
  for (const rapidjson::Value* data : metric_data_objects(step_metrics)) {
    if (!is_server_entry(*data)) continue;
    const std::string status = text_member(*data, status_key);
    if (!traversal) {
      candidate = status;
      return true;
    }
    if (is_experience_error(status)) {
      candidate = status;
      return false;
    }
  }
  return true;
}

}  // namespace

void Results::fill_test_results(TestResult& result, const Parameters& parameters) const {
  fill_test_results(result, parameters.test_type);
}

void Results::fill_test_results(TestResult& result, test_type_t test_type) const {
  const bool traversal = test_type == test_type_t::DNS_traversal;
  int step = 0;
  int level_id = 1;
  int recursion = 0;
  // The error that the final level suggests for the whole test.
  std::string candidate;

  for (std::size_t resolution_index = 0; resolution_index < resolutions.size();
       ++resolution_index) {
    const HostnameResolution& resolution = resolutions[resolution_index];
    for (std::size_t level_index = 0; level_index < resolution.levels.size(); ++level_index) {
      const Level& level = resolution.levels[level_index];
      if (!level_counts(level.level)) continue;
      // A traversal test keeps the first error of its final level; once one is found the level
      // stops deciding.
      bool final_level =
          resolution_index + 1 == resolutions.size() && level_index + 1 == resolution.levels.size();

      int group_id = 1;
      if (!level.failures.empty()) {
        bool first = true;
        for (const ServerFailure& failure : level.failures) {
          rapidjson::Document other = copy_other_data(failure.response);
          take_question(result, other, step, first);
          if (first) write_identifiers(result, step, level_id, recursion, group_id);
          first = false;
          if (final_level) {
            const std::string status = text_member(other, status_key);
            if (is_experience_error(status)) {
              candidate = status;
              if (traversal) final_level = false;
            }
          }
          result.push_back_metric_data(other, 0, step);
        }
        ++step;
        ++group_id;
      }

      for (const Stats& group : level.groups) {
        rapidjson::Document other = copy_other_data(group.response);
        take_question(result, other, step, true);
        write_identifiers(result, step, level_id, recursion, group_id);
        const auto metrics = get_mandatory_json_iterator(group.response, "Metrics");
        if (!metrics->value.IsArray()) throw_structural_fault("Missing mandatory field Metrics");
        for (const rapidjson::Value* data : metric_data_objects(metrics->value)) {
          result.push_back_metric_data(*data, 0, step);
        }
        // A traversal step reports every server in its own entry; the rest of the first
        // response's details would speak for one of them only. A level taken from the cache has
        // no server entry: its details are the only word on its server.
        if (!traversal || other.HasMember("qv-dns.results.cached")) {
          result.push_back_metric_data(other, 0, step);
        }

        if (final_level) {
          const auto written = get_mandatory_json_iterator(
              *result.retrieve_data_level_pointer(0, step, -1), "Metrics");
          final_level = take_group_candidate(written->value, traversal, candidate);
        }
        ++step;
        ++group_id;
      }
      ++level_id;
    }
    if (!resolution.hostname_bind_response.IsNull()) {
      attach_hostname_bind(result, resolution.hostname_bind_response, step, logger_);
    }
    ++recursion;
  }

  result.add_other_data(duration_key, total_duration_ms, 0, -1);
  result.add_other_data(duration_us_key,
                        static_cast<unsigned long>(std::max<std::int64_t>(total_duration_us, 0)), 0,
                        -1);
  if (traversal) {
    result.add_other_data("qv-dns.results.is-network-outage-detected", network_outage_detected, 0,
                          -1);
  }
  if (result.retrieve_error(error_code_key, 0, -1).empty() && is_experience_error(candidate)) {
    result.add_other_data(error_code_key, candidate, 0, -1);
  }
}

}  // namespace Network_tools::DNS_experience
