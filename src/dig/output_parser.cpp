// The Dig wrapper's parser: dig's text into the entries of the result document.
#include <algorithm>
#include <sstream>
#include <vector>

#include "dig/wrapper.h"
#include "frame/system.h"
#include "wrapper/test_result_access.h"

namespace Network_tools::Dig {
namespace {

// The response code of a header status word; the trailing comma is part of the word.
bool status_code(const std::string& word, err_t& code) {
  static const char* const words[] = {"NOERROR,", "FORMERR,", "SERVFAIL,", "NXDOMAIN,",
                                      "NOTIMP,",  "REFUSED,", "YXDOMAIN,", "YXRRSET,",
                                      "NXRRSET,", "NOTAUTH,", "NOTZONE,"};
  for (int value = 0; value <= 10; ++value) {
    if (word == words[value]) {
      code = static_cast<err_t>(value);
      return true;
    }
  }
  return false;
}

// Skips `count` words of `stream`.
void skip(std::istringstream& stream, int count) {
  std::string word;
  for (int i = 0; i < count; ++i) stream >> word;
}

// Microseconds from `start` to `end`.
std::int64_t microseconds_between(const timespec& start, const timespec& end) {
  return (static_cast<std::int64_t>(end.tv_sec) - start.tv_sec) * 1000000 +
         (end.tv_nsec - start.tv_nsec) / 1000;
}

}  // namespace

void Wrapper::output_to_JSON(const std::string& native_output) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // The same time in milliseconds and in microseconds: dig's own figure once its query time is
  // read, the wrapper's until then.
  int measurement_time = compute_duration(start_time_, now);
  std::int64_t measurement_us = std::max<std::int64_t>(microseconds_between(start_time_, now), 0);
  const auto write_duration = [this, &measurement_time, &measurement_us](int step) {
    test_result_.add_other_data("qv-dns.results.duration.ms",
                                measurement_time + static_cast<int>(elapsed_time_), 0, step);
    write_microseconds(measurement_us, 0, step);
  };
  write_duration(0);
  write_duration(-1);

  err_t code = err_t::none;
  bool record_section_seen = false;
  std::string EDE_text;

  std::istringstream lines(native_output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first, second;
    if (!(words >> first)) continue;
    words >> second;

    if (first == "dig:") end_internally(line);

    if (first == ";") {
      if (second == "NSID:" && parameters_.query_mode == query_mode_t::nsid) {
        // "; NSID: 64 6f 6d ... ("dom-test-1")": the identifier is the parenthesised word.
        std::string word;
        while (words >> word && word.front() != '(') {
        }
        if (word.size() >= 5 && word.front() == '(') {
          test_result_.add_other_data("qv-dns.results.nsid", word.substr(2, word.size() - 4), 0, 0);
        }
      } else if (second == "CLIENT-SUBNET:") {
        // "; CLIENT-SUBNET: 127.53.200.0/24/0": subnet, then the scope the server applied.
        std::string value;
        words >> value;
        const std::size_t slash = value.rfind('/');
        const std::string subnet = value.substr(0, slash);
        const std::string scope = slash == std::string::npos ? "" : value.substr(slash + 1);
        const std::string info =
            !EDE_text.empty() ? EDE_text : subnet + " (scope prefix-length: " + scope + ")";
        const int index = static_cast<int>(record_counter_);
        test_result_.add_metric_data("qv-dns.results.additional.name", "Client subnet", 0, 0,
                                     index);
        test_result_.add_metric_data("qv-dns.results.additional.type", "OPT", 0, 0, index);
        test_result_.add_metric_data("qv-dns.results.additional.info", info, 0, 0, index);
        ++record_counter_;
      } else if (second == "EDE:") {
        EDE_text = line.substr(2);
      }
      continue;
    }
    if (first != ";;") continue;

    if (second == "->>HEADER<<-") {
      // ";; ->>HEADER<<- opcode: QUERY, status: NOERROR, id: 58164"
      std::string status;
      skip(words, 3);
      words >> status;
      skip(words, 1);
      int id = 0;
      if (words >> id) test_result_.add_other_data("qv-dns.results.id", id, 0, 0);
      if (status_code(status, code)) {
        test_result_.add_other_data("qv-dns.results.status", err_to_string(code), 0, 0);
      } else {
        logger_.write(LEVEL_WARNING, "WARNING", "Unrecognized error from server: [" + status + "]");
        code = err_t::unknown;
      }
    } else if (second == "flags:") {
      const std::size_t start = line.find("flags:") + 7;
      const std::string flags =
          start < line.size() ? line.substr(start, line.find(';', start) - start) : "";
      test_result_.add_other_data("qv-dns.results.flags", flags, 0, 0);
    } else if (second == "Query") {
      // ";; Query time: 789 usec" (dig -u reports microseconds)
      skip(words, 1);
      int microseconds = 0;
      if (!(words >> microseconds) || microseconds < 1) {
        logger_.write(LEVEL_WARNING, "WARNING",
                      "Query time found invalid: using wrapper time instead");
      } else {
        measurement_time = microseconds / 1000;
        measurement_us = microseconds;
        write_duration(0);
      }
    } else if (second == "QUESTION") {
      if (!std::getline(lines, line)) break;
      std::istringstream question(line);
      std::string name, question_class, type;
      if (!(question >> name >> question_class >> type)) {
        logger_.write(LEVEL_WARNING, "WARNING", "Missing entries in QUESTION [" + line + "]");
        continue;
      }
      if (name.front() != ';') {
        end_internally("Parsing error. Weird host found: [" + name + "] in line [" + line + "]");
      }
      test_result_.add_other_data("qv-dns.results.question.class", question_class, 0, 0);
      test_result_.add_other_data("qv-dns.results.question.type", type, 0, 0);
      test_result_.add_other_data("qv-dns.results.question.name", name.substr(1), 0, 0);
    } else if (second == "ANSWER" || second == "AUTHORITY" || second == "ADDITIONAL") {
      const std::string section_key = to_lower_case(second);
      while (std::getline(lines, line) && !line.empty()) {
        add_record("qv-dns.results." + section_key, second, line);
      }
      record_section_seen = true;
    } else if (second == "SERVER:") {
      // ";; SERVER: 127.53.0.53#53(127.53.0.53) (UDP)"
      std::string server, transport;
      words >> server >> transport;
      const std::size_t hash = server.find('#');
      test_result_.add_other_data("qv-dns.results.server.address", server.substr(0, hash), 0, 0);
      if (hash != std::string::npos) {
        unsigned port = 0;
        std::size_t i = hash + 1;
        // Held at 65536 once over the limit, so that a long number cannot wrap into a port.
        for (; i < server.size() && server[i] >= '0' && server[i] <= '9'; ++i) {
          port = std::min(port * 10 + static_cast<unsigned>(server[i] - '0'), 65536U);
        }
        if (i > hash + 1 && port <= 65535) {
          test_result_.add_other_data("qv-dns.results.server.port", port, 0, 0);
        }
      }
      if (transport.size() < 2 || transport.front() != '(' || transport.back() != ')') {
        end_internally("Parsing error. Weird protocol found: [" + transport + "] in line [" + line +
                       "]");
      }
      test_result_.add_other_data("qv-dns.results.protocol",
                                  transport.substr(1, transport.size() - 2), 0, 0);
    } else if (second == "MSG" || second == "XFR") {
      // ";; MSG SIZE  rcvd: 85", ";; XFR size: 5 records (messages 1, bytes 300)"
      skip(words, second == "MSG" ? 2 : 6);
      int bytes = 0;
      if (words >> bytes) test_result_.add_other_data("qv-dns.results.received-bytes", bytes, 0, 0);
    } else if (line.find("connection refused") != std::string::npos) {
      throw_exception(err_t::nameserver_unreachable,
                      "Cannot reach name server: " + server_in_messages(), "Connection refused");
    }
  }

  if (parameters_.has_EDNS_client_subnet()) {
    test_result_.add_other_data("qv-dns.results.edns-client-subnet",
                                parameters_.get_EDNS_client_subnet().to_string(), 0, 0);
  }
  if (code == err_t::none && !record_section_seen) {
    test_result_.add_other_data("common.results.error-code",
                                err_to_string(err_t::no_answers_or_authorities), 0, -1);
  } else if (code != err_t::none) {
    test_result_.add_other_data("common.results.error-code", err_to_string(code), 0, -1);
  }
  if (hostname_bind_) merge_hostname_bind();
  merge_DNSSEC(measurement_time, measurement_us);
}

void Wrapper::write_microseconds(std::int64_t measured_us, int result, int step) {
  const std::int64_t total = measured_us + std::int64_t{elapsed_time_} * 1000;
  test_result_.add_other_data(duration_us_key, static_cast<unsigned long>(total), result, step);
}

void Wrapper::add_record(const std::string& section_key, const std::string& section,
                         const std::string& line) {
  std::istringstream words(line);
  std::string name, record_class, type;
  int ttl = 0;
  if (!(words >> name >> ttl >> record_class >> type)) {
    end_internally("Parsing error. Missing entries in " + section + " [" + line + "]");
  }
  std::string info;
  std::getline(words, info);
  if (info.find_first_not_of(" \t") == std::string::npos) {
    end_internally("Parsing error. Missing entries in " + section + " RR info [" + line + "]");
  }
  if (info.front() == ' ' || info.front() == '\t') info.erase(0, 1);

  const int index = static_cast<int>(record_counter_);
  test_result_.add_metric_data(section_key + ".name", name, 0, 0, index);
  test_result_.add_metric_data(section_key + ".class", record_class, 0, 0, index);
  test_result_.add_metric_data(section_key + ".type", type, 0, 0, index);
  test_result_.add_metric_data(section_key + ".info", info, 0, 0, index);
  if (parameters_.query_mode != query_mode_t::hostname_bind) {
    test_result_.add_metric_data(section_key + ".ttl", ttl, 0, 0, index);
  }
  ++record_counter_;
}

void Wrapper::merge_hostname_bind() {
  if (!hostname_bind_wrapper_) end_internally("Hostname BIND object not found");
  TestResult& identity = hostname_bind_wrapper_->test_result_;
  const std::string error = identity.retrieve_error("common.results.error-code", 0, -1);
  if (!error.empty()) {
    test_result_.add_other_data("common.results.error-code", error, 0, -1);
    test_result_.add_other_data("common.results.error-details",
                                "Error triggered while querying hostname BIND", 0, -1);
    return;
  }
  const rapidjson::Value* metrics = test_result_access::find_array(
      test_result_access::find_level(identity.document(), 0, 0, -1), "Metrics");
  if (metrics == nullptr) return;
  for (const rapidjson::Value& metric : metrics->GetArray()) {
    const rapidjson::Value* data = test_result_access::find_object(&metric, "MetricData");
    const rapidjson::Value* info =
        test_result_access::find_typed(data, "qv-dns.results.answer.info", rapidjson::kStringType);
    if (info != nullptr) {
      test_result_.add_other_data("qv-dns.results.hostname-bind",
                                  std::string(info->GetString(), info->GetStringLength()), 0, 0);
      return;
    }
  }
}

void Wrapper::merge_DNSSEC(int measurement_time, std::int64_t measurement_us) {
  const int elapsed = static_cast<int>(elapsed_time_);
  if (!parameters_.DNSSEC || !DNSSEC_wrapper_) {
    test_result_.add_other_data("qv-dns.results.duration.ms", measurement_time + elapsed, 0, -1);
    write_microseconds(measurement_us, 0, -1);
    return;
  }
  TestResult& validation = DNSSEC_wrapper_->test_result();
  // delv's own time is kept with its step; the result level is read too, for documents that
  // keep it there.
  const rapidjson::Value* found = nullptr;
  for (const int step : {0, -1}) {
    const rapidjson::Value* other = test_result_access::find_object(
        test_result_access::find_level(validation.document(), 0, step, -1), "OtherData");
    if (other == nullptr) continue;
    const rapidjson::Value* value =
        test_result_access::find_typed(other, "qv-delv.test.duration.ms", rapidjson::kNumberType);
    if (value != nullptr && value->IsInt()) {
      found = value;
      break;
    }
  }
  if (found != nullptr) {
    DNSSEC_duration_ = found->GetInt();
  } else {
    logger_.write(LEVEL_WARNING, "WARNING",
                  "Cannot find qv-delv.test.duration.ms in QV_delv results, using external timer");
  }
  const int DNSSEC_duration = static_cast<int>(DNSSEC_duration_);
  test_result_.add_other_data("qv-dns.results.dnssec-duration.ms", DNSSEC_duration, 0, 0);
  test_result_.add_other_data("qv-dns.results.duration.ms",
                              measurement_time + elapsed + DNSSEC_duration, 0, -1);
  write_microseconds(measurement_us + std::int64_t{DNSSEC_duration} * 1000, 0, -1);

  // Without JSON output delv's text was not parsed: there is nothing to merge.
  if (validation.check_metric_data_presence("qv-delv.test.trace", 0, 0, 0)) {
    test_result_.merge_metric_data(validation, 0, 0, 0, 0, 0, static_cast<int>(record_counter_));
    test_result_.change_option_key_pattern("qv-delv.test.trace", "qv-dns.results.dnssec-trace");
    test_result_.change_option_key_pattern("qv-delv.test.trust-chain",
                                           "qv-dns.results.dnssec-trust-chain");
  }

  const std::string key = validation.retrieve_error("common.results.error-code", 0, 0);
  if (key.empty()) return;
  err_t code = err_t::dnssec_unknown;
  if (key == Delv::err_to_string(Delv::err_t::resolution_failure)) {
    code = err_t::dnssec_resolution_failure;
  } else if (key == Delv::err_to_string(Delv::err_t::answer_unsigned)) {
    code = err_t::dnssec_answer_unsigned;
  }
  for (const int step : {0, -1}) {
    test_result_.add_other_data("common.results.error-code", err_to_string(code), 0, step);
  }
  const std::string details = validation.retrieve_error("common.results.error-details", 0, 0);
  if (!details.empty()) {
    for (const int step : {0, -1}) {
      test_result_.add_other_data("common.results.error-details", details, 0, step);
    }
  }
}

}  // namespace Network_tools::Dig
