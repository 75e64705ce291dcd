// Fuzz target: the engine's reading of one server's answer, the step of a dig wrapper result:
// its records (`parse_RR_section`), the addresses of its additional records
// (`fill_ip_addresses_for_parsed_nameservers`), the level it makes in the results model, the
// aliases it holds (`need_alias_resolution`) and the result document written from it all. The
// rest of a query's evaluation (the cache, the raw text) is the business of cached_level, which
// runs whole tests.
//
// Input: one byte of options, then the step as JSON ({"Metrics":[...],"OtherData":{...}}).
// Option bits:
//   0-2 query type (a, aaaa, ns, cname, https, svcb, any, ptr)   3-4 level, 1 to 4
//   5 IPv6   6 a traversal test (every server of a level)   7 the model already holds the
//   levels of www.lab.test (so that an alias target may start from a domain delegated before)
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "dns_experience/results/step_json.h"
#include "support/engine.h"
#include "wrapper/json_access.h"

using namespace Network_tools;
using DNS_experience::ParsedResponse;
using DNS_experience::ServerInfo;

namespace {

const std::array<const char*, 8> query_types = {"a",     "aaaa", "ns",  "cname",
                                                "https", "svcb", "any", "ptr"};

// The root, test. and lab.test. levels of a run for www.lab.test, as the cache gives them.
void add_earlier_levels(DNS_experience::Results& results) {
  std::string root = ".", tld = "test.", domain = "lab.test.";
  results.add_level("", {{"a.root-servers.test.", IP::Address("127.53.1.1"), -1}}, 1, true, root);
  results.add_level("", {{"ns1.nic.test.", IP::Address("127.53.2.1"), -1}}, 2, true, tld);
  results.add_level(
      R"({"Metrics":[{"MetricData":{"qv-dns.results.authority.name":"lab.test."}}],"OtherData":{}})",
      fuzz::lab_test_servers(), 3, true, domain);
}

// What the driver does with an answer holding an alias: decide whether its target must be
// resolved, and from where.
void follow_alias(fuzz::Engine& engine, const std::string& target) {
  std::string hostname = target;
  std::vector<std::string> labels;
  std::vector<ServerInfo> servers;
  if (!engine.need_alias_resolution(hostname, labels, servers)) return;
  // The driver asks the machine's resolvers for the root, and then adds the labels one by one
  // down to a domain below a top-level one; or it asks the servers of a known domain.
  const auto named = std::count_if(labels.begin(), labels.end(),
                                   [](const std::string& label) { return !label.empty(); });
  fuzz::check(hostname == "." ? servers.empty() && named >= 2 : !servers.empty(),
              "an alias resolution that cannot start");
}

// One wrapper per set of options, kept for every input: building one costs more than reading
// an answer. Each input starts from an empty results model.
fuzz::Engine& engine_for(const std::vector<std::string>& words) {
  static fuzz::Silent_logger logger;
  static fuzz::Scripted_tools tools;
  static std::map<std::vector<std::string>, std::unique_ptr<fuzz::Engine>> engines;
  std::unique_ptr<fuzz::Engine>& engine = engines[words];
  if (!engine) {
    tools.answer = [](const std::string&, int&) {
      fuzz::check(false, "reading an answer started a command");
      return std::string();
    };
    engine = std::make_unique<fuzz::Engine>(words, logger.get(), tools);
  }
  return *engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  rapidjson::Document step;
  if (!parse_JSON(step, fuzz::as_text(data + 1, size - 1)).empty()) return 0;

  const std::string query_type = query_types[options & 7];
  const int level = 1 + ((options >> 3) & 3);
  const bool traversal = (options & 64) != 0;
  std::vector<std::string> words = {"-j", "-t", query_type};
  if ((options & 32) != 0) words.emplace_back("-6");
  if (traversal) words.emplace_back("-g");
  words.emplace_back(query_type == "ptr" ? "127.53.4.1" : "www.lab.test");

  fuzz::Silent_logger logger;
  fuzz::run_input([&] {
    fuzz::Engine& engine = engine_for(words);
    engine.restart_at_level(level);
    DNS_experience::Results& results = engine.get_results();
    results.direct_lookup = query_type == "ptr";
    if ((options & 128) != 0) add_earlier_levels(results);
    const std::string target = level < 3 ? "lab.test." : "www.lab.test.";
    const ServerInfo server = fuzz::lab_test_servers().back();
    // The dig result holding the step, as the dig wrapper leaves it.
    TestResult result(logger.get());
    result.initialize_JSON_object();
    result.retrieve_data_level_pointer(0, 0, -1)->Swap(step);
    try {
      const rapidjson::Value& metrics =
          DNS_experience::get_mandatory_json_iterator(*result.retrieve_data_level_pointer(0, 0, -1),
                                                      "Metrics")
              ->value;
      ParsedResponse response;
      DNS_experience::read_records(metrics, level, query_type, response);
      engine.fill_ip_addresses_for_parsed_nameservers(metrics, response);
      if (query_type == "ptr") {
        results.add_ptr(result);
      } else if (traversal) {
        results.add_traversal_level(response, server, result, level, false);
      } else {
        results.add_level(response.relative_authoritative_domain, server, result,
                          response.name_servers, level, false);
      }
      if (response.has_alias) follow_alias(engine, target);
    } catch (const exception& failure) {
      // The driver records the failure and still writes the levels it has.
      fuzz::check(!failure.need_JSON_output() || fuzz::is_JSON(failure.error_message()),
                  "the error document is not valid JSON");
    }
    TestResult written(logger.get());
    written.initialize_JSON_object();
    results.fill_test_results(written, engine.get_parameters());
    fuzz::check(fuzz::is_JSON(written.to_string()), "the result is not JSON");
  });
  return 0;
}
