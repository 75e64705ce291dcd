// The DNS experience tool: its input, its failures, and the state its resolution driver keeps.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_WRAPPER_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_WRAPPER_H_

#include <rapidjson/document.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "dig/wrapper.h"
#include "dns_experience/cache/cache.h"
#include "dns_experience/errors.h"
#include "dns_experience/parameters.h"
#include "dns_experience/records.h"
#include "dns_experience/results/results.h"
#include "frame/exception.h"
#include "frame/logger.h"
#include "ping/factory.h"
#include "ping/parameters.h"
#include "ping/wrapper.h"
#include "wrapper/wrapper.h"

namespace Network_tools::DNS_experience {

// Measures how long it takes to resolve one host name level by level. Built from the JSON test
// document (no command-line arguments) or from the command line:
//   dns_experience -j -t aaaa www.lab.test
//   {"Capabilities":{"test.common.url":"qv-dns-exp://www.lab.test"},"Settings":{"Tries":2}}
// Bad input ends the process with "Fatal error: MESSAGE (KEY)" on standard error and status 1;
// -h and -V throw the help or version text as a code-0 `Network_tools::exception`.
class Wrapper : public Network_tools::Wrapper {
 public:
  // One uniform draw of an integer in [low, high].
  using random_draw_t = std::function<int(int low, int high)>;
  // Gives the draws of one server selection. By default each selection draws from a new
  // MT19937 engine seeded with one value of the system's random device.
  using random_source_t = std::function<random_draw_t()>;
  // Starts a thread of the ping diagnostics running `work`; throws (std::system_error, as
  // std::thread does) when it cannot.
  using thread_starter_t = std::function<std::thread(std::function<void()> work)>;

  // One server of the last level to ping: where its results go, and its address.
  struct PingWorkItem {
    // The group's document, whose allocator the results are added with.
    rapidjson::Document* document = nullptr;
    // The "MetricData" object of the server's entry in the group's "Metrics".
    rapidjson::Value* metric_data = nullptr;
    std::string address;
  };

  // The outcome of the ping of one work item; only the thread that took the item writes it.
  struct PendingPingResult {
    rapidjson::Document* document = nullptr;
    rapidjson::Value* metric_data = nullptr;
    // The finished ping, whose result holds the outcome; empty after a failure.
    std::unique_ptr<Ping::Wrapper> ping_wrapper;
    std::string address;
    // Why the ping failed; empty on success.
    std::string error;
    std::int32_t duration_ms = 0;
  };

  // From the JSON document on `input`; JSON output is on.
  Wrapper(Logger& logger, const std::string& tool_directory, std::streambuf* input);
  // From the command line: the options of `help_message` and one host operand.
  Wrapper(int argc, char** argv, Logger& logger, const std::string& tool_directory);
  ~Wrapper() override;

  // The engine builds its output in `run`: nothing to do here.
  void output_to_JSON(const std::string& native_output) override;
  std::string help_message() const override;
  // "DnsExperience wrapper 1.16.7.2 for Linux\nQV_dig version: ...\nQV_delv version: ...\n"
  // "QV_traceroute version: ...\n", read from the native tools.
  std::string version_message() const override;
  void handle_option(const JSON_member& member) override;
  void handle_setting(const JSON_member& member) override;
  // The test URL (or the host) and the EDNS client subnet, at the result level.
  void add_min_options() override;
  std::string get_capability_related_to_setting(const std::string& setting) const override;
  // Ends the process when the host or the query type is missing.
  void input_sanity_check() override;
  // Resolves the host level by level and returns the result document, or the raw text without
  // JSON output. DNS failures of the measured servers are results: the levels measured so far
  // are kept and the error is added. A machine without resolver, or unreported levels (root and
  // top-level domain) whose servers all fail, end the process with a fatal error.
  std::string run() override;

  // Milliseconds since the test start. Past the overall timeout it fails the test with
  // `nameserver_resolution_timeout` once a reported level is being resolved; before that it only
  // warns.
  int check_timeout();

  // Queries one level and records it in the results model (querying.cpp). `servers` holds the
  // level's candidates, the one to ask last (it is consumed); `dig` names the server to ask
  // and is left naming the one that answered.
  ParsedResponse query_nameservers(std::vector<ServerInfo>&& servers, Dig::Parameters& dig,
                                   const std::string& target, bool use_cache);
  // Asks one server; on failure moves to the next candidate (always at unreported levels, with
  // `try_next_server_upon_failure` at reported ones, trying at most `tries` servers).
  ParsedResponse query_single_nameserver_with_retry_on_failure(std::vector<ServerInfo>&& servers,
                                                               Dig::Parameters& dig,
                                                               const std::string& target,
                                                               bool use_cache);
  // Asks every server of the level (a traversal test), from the last listed to the first, or,
  // with `parallel_traversal`, all at once (at most `max_parallel_queries` at a time); either
  // way their answers are read, recorded and cached in that order. The level succeeds when one
  // server answered; otherwise it fails with the first failure's code, or ends the process at
  // an unreported level. A "ptr" test asks one server as an experience test does. `dig` is left
  // naming the last server that answered.
  ParsedResponse query_all_nameservers(std::vector<ServerInfo>&& servers, Dig::Parameters& dig,
                                       const std::string& target, bool use_cache);
  // Reads the answer of one server of a traversal level (the dig wrapper's result, `server`
  // named in it) into `answer` and records it in the results model as a group of its own or
  // part of a group that gave the same records; a valid answer also gives the next servers
  // their addresses and updates the cache. A failed query (`query_succeeded` false) is only
  // recorded, with its error as its status.
  void parse_dig_wrapper_response(TestResult& dig_result, const std::string& raw_output, int level,
                                  const Dig::Parameters& dig, const ServerInfo& server,
                                  const std::string& target, ParsedResponse& answer,
                                  bool query_succeeded);
  // Caches the delegation of levels 1 to 3 (see the .cpp for the lifetimes) and, when
  // `server` has a name, its query time.
  void update_cache(const std::string& target, const ServerInfo& server,
                    const ParsedResponse& response, TestResult& dig_result,
                    const std::string& raw_output, int level, int duration_ms);
  // Fits the timeout and the time per try of `dig` into what is left of the overall timeout;
  // fails the test when nothing is left at a reported level.
  void set_direct_timeout(Dig::Parameters& dig);

  // Selection (selection.cpp). Gives the servers of `response` the addresses of the additional
  // records of `metrics`, then resolves the others on the machine.
  void fill_ip_addresses_for_parsed_nameservers(const rapidjson::Value& metrics,
                                                ParsedResponse& response);
  // Resolves `server.hostname` through the host lookup hook and times it.
  void resolve_hostname_to_IP(ServerInfo& server);
  // Drops the servers without address and puts the one to ask last: at random, or the fastest
  // known one with the bias; with `try_next_server_upon_failure` the others are shuffled too.
  // Fails with `nameserver_resolution_failure` when no server is left.
  void sort_name_server_to_query(std::vector<ServerInfo>& servers);
  // Appends "##  nameserver: ADDRESS [HOSTNAME]" for the last server, or the one at `index`.
  void add_nameserver_to_raw_output(const std::vector<ServerInfo>& servers);
  void add_nameserver_to_raw_output(const std::vector<ServerInfo>& servers, unsigned long index);

  // Aliases (aliases.cpp). Decides from the last answer whether an alias target must still be
  // resolved; if so, sets `hostname`, `labels`, `servers` and the level for the new traversal,
  // starting from the longest domain already delegated in this run, and returns true.
  bool need_alias_resolution(std::string& hostname, std::vector<std::string>& labels,
                             std::vector<ServerInfo>& servers);

  // Asks the server named by `dig` for its hostname.bind identity when the test wants it
  // (hostname_bind.cpp). Never fails the test: problems are logged as warnings.
  void query_hostname_BIND(Dig::Parameters& dig);

  // Ping diagnostics (results/ping_diagnostics.cpp). At the end of a traversal test, pings the
  // servers of the last level on up to `max_concurrent_pings` threads (the caller included) and
  // adds each one's figures to its server entry; or, when outage detection is on and the run
  // stopped at the top-level domain's level, declares a network outage once enough of those
  // servers timed out, and pings nothing. A failed ping is only logged: it never fails the
  // test. Nothing for an experience test.
  void apply_ping_diagnostics_if_needed();
  // The parameters of the diagnostics' ping of `address`, its time limit cut to what is left of
  // the test's overall timeout; throws `Parameters::exception` for a probe setting that the
  // ping refuses (a TTL under 32).
  Ping::Parameters ping_parameters(const std::string& address) const;
  // The ping's overall time limit: probes x probe timeout seconds (at least 1, at most 300).
  void set_ping_timeout(Ping::Parameters& ping) const;

  // Fails the test with `code`: records its key as "common.results.error-code" and throws
  // `Network_tools::exception` carrying the result document when JSON output is on.
  [[noreturn]] void throw_exception(err_t code, const std::string& message);
  // Prints "Fatal error: " + message + " (" + key of `code` + ")" and ends with status 1.
  [[noreturn]] static void throw_fatal_error(err_t code, const std::string& message);

  // The tag of the driver's log lines ("DNS-E RUN" or "DNS-T RUN").
  const std::string& get_log_tag_prefix() const { return parameters_.run_log_tag; }
  // True when the current level writes raw text: no JSON output, and a "ptr" query or a level
  // that is reported to the user.
  bool need_raw_output() const;
  // "## Level 3", or "## Level 1 (alias resolution 2)" while resolving the second alias.
  std::string raw_output_title() const;

  // The most queries of one traversal level that run at once.
  static constexpr std::size_t max_parallel_queries = 16;

  void set_random_source(random_source_t source) { random_source_ = std::move(source); }
  void set_thread_starter(thread_starter_t starter) { thread_starter_ = std::move(starter); }
  // Replaces the factory of the diagnostics' ping wrappers.
  void set_ping_factory(std::unique_ptr<Ping::WrapperFactory> factory) {
    ping_factory_ = std::move(factory);
  }

  const Parameters& get_parameters() const { return parameters_; }
  Results& get_results() { return results_; }
  const std::string& get_url() const { return url_; }
  TestResult& test_result() { return test_result_; }

 protected:
  // Command-line parsing; fatal errors for bad options.
  void handle_input(int argc, char** argv);
  // Applies the test URL of the document: host, test type and default transport.
  void apply_URL(const std::string& key, const std::string& URL);

  Results results_;
  Parameters parameters_;
  // The test URL as given; empty when none.
  std::string url_;

  // The resolution driver's state. One dig wrapper serves every query of the run.
  std::unique_ptr<Dig::Wrapper> dig_wrapper_;
  // Stored when the wrapper is destroyed.
  std::unique_ptr<Cache> cache_;
  std::ostringstream raw_output_;
  // Queries started so far in this run.
  std::int32_t query_count_ = 0;
  // Level of the current pass within the current traversal; 0 before the first pass.
  std::int32_t level_ = 0;
  // The dig parameters in use are those of the root and top-level-domain levels.
  bool root_parameters_active_ = false;
  random_source_t random_source_;
  thread_starter_t thread_starter_ = [](std::function<void()> work) {
    return std::thread(std::move(work));
  };
  // Created at the first diagnostics; serves every thread at once.
  std::unique_ptr<Ping::WrapperFactory> ping_factory_;
  // The dig wrappers of a traversal level asked at once, one per server; kept for later levels.
  std::vector<std::unique_ptr<Dig::Wrapper>> parallel_dig_wrappers_;

  // One server's query of a traversal level, run and waiting to be read: the dig wrapper that
  // ran it (its result document), the text it returned, or what it threw.
  struct PreparedQuery {
    Dig::Wrapper* wrapper = nullptr;
    std::string raw;
    std::exception_ptr failure;
  };

  // What the level loop carries from one pass to the next.
  struct Walk {
    explicit Walk(Dig::Parameters first) : dig(std::move(first)) {}
    // The name queried in the current pass.
    std::string target;
    // Labels of the host still to be put in front of `target`.
    std::vector<std::string> labels;
    // Candidates of the current level; the one to ask is the last.
    std::vector<ServerInfo> servers;
    Dig::Parameters dig;
    ParsedResponse response;
  };

  // The driver (driver.cpp).
  void start_run();
  std::string direct_reverse_lookup();
  void walk_levels(Walk& walk);
  void begin_pass(Walk& walk, Cache::output_t& cache_output, bool& use_cache);
  bool take_level_from_cache(Walk& walk, Cache::output_t cache_output);
  bool stop_or_move_on(Walk& walk);
  void check_limits();
  void finish_checks();
  void handle_run_error(const exception& error);
  std::string final_steps(Dig::Parameters& dig);

  // Aliases (aliases.cpp): the resolution of `alias_target`, from the root or from the longest
  // domain already delegated in this run.
  bool start_alias_resolution(const std::string& alias_target, std::string& hostname,
                              std::vector<std::string>& labels, std::vector<ServerInfo>& servers);

  // Querying (querying.cpp): one dig query as every level runs it, on the engine's own dig
  // wrapper or on `wrapper`; the text it returned.
  std::string run_dig_query(const Dig::Parameters& dig);
  std::string run_dig_query(Dig::Wrapper& wrapper, const Dig::Parameters& dig) const;
  // Logs the document of a dig query that ran ("DNS direct json").
  void log_dig_result(const TestResult& result);
  // A dig wrapper with this wrapper's hooks.
  std::unique_ptr<Dig::Wrapper> make_dig_wrapper(const Dig::Parameters& dig) const;
  // The answer of a successful query, read and recorded.
  ParsedResponse evaluate_answer(const std::vector<ServerInfo>& servers, const Dig::Parameters& dig,
                                 const std::string& target, const std::string& raw);
  // Names the server that answered in the dig result and adds the answer to the raw text when
  // the level writes raw text; returns whether it does.
  bool record_answering_server(const std::vector<ServerInfo>& servers, const std::string& raw);
  // Traversal (traversal.cpp): asks the server at `index` of `servers` and reads its answer
  // (`read_one_of_all`); returns true when it answered.
  bool query_one_of_all(const std::vector<ServerInfo>& servers, std::size_t index,
                        Dig::Parameters& dig, const std::string& target, ParsedResponse& response,
                        err_t& first_failure_code, std::string& first_failure);
  // Reads the answer or the failure of the server at `index` of `servers`, as `query` left it,
  // and records it; returns true when it answered. The first failure of the level is kept in
  // `first_failure_code` and `first_failure`.
  bool read_one_of_all(const std::vector<ServerInfo>& servers, std::size_t index,
                       const Dig::Parameters& dig, const std::string& target,
                       const PreparedQuery& query, ParsedResponse& response,
                       err_t& first_failure_code, std::string& first_failure);
  // Runs the queries of every server of `servers` that has an address at once, `dig` (fitted
  // into the overall timeout first) asking each; the result has one entry per server, in the
  // list's order (without a wrapper for the others).
  std::vector<PreparedQuery> query_all_at_once(const std::vector<ServerInfo>& servers,
                                               Dig::Parameters& dig);
  // Runs `work` on this thread and on up to `threads` - 1 more (`thread_starter_`), and returns
  // once every one has ended. `work` takes its items from a shared counter, so the items of a
  // thread that cannot start go to the others: that is only logged, at `LEVEL_WARNING` with
  // `tag`, as "Cannot start " + `name` + " thread N of M: REASON. " + `fallback`.
  void run_on_threads(std::size_t threads, const std::function<void()>& work,
                      const std::string& tag, const std::string& name,
                      const std::string& fallback) const;
  // Ping diagnostics (results/ping_diagnostics.cpp): the servers to ping, counting the timed-out
  // top-level-domain servers into `outage_count` when `count_outage` is set.
  std::vector<PingWorkItem> collect_ping_work_items(bool count_outage, int& outage_count);
  // Takes work items by `next` until none is left, pinging each into its pending result.
  void run_ping_work_items(const std::vector<PingWorkItem>& items,
                           std::vector<PendingPingResult>& pending,
                           std::atomic<std::size_t>& next) const;
  // Copies the finished pings into their server entries, in work-item order.
  void apply_ping_results(std::vector<PendingPingResult>& pending);
  // A failed query: moves `dig` to the next candidate and returns, or throws.
  void handle_query_failure(const exception& failure, std::vector<ServerInfo>& servers,
                            Dig::Parameters& dig, std::uint8_t& failure_count,
                            const std::string& raw);
  // Selection (selection.cpp): the addresses of the additional records of `metrics`, and the
  // resolution on the machine of the servers still without one, each logged as "Unable to
  // resolve " + name + `unresolved_suffix` when that fails too.
  void apply_additional_records(const rapidjson::Value& metrics, ParsedResponse& response);
  void resolve_name_servers(ParsedResponse& response, const std::string& unresolved_suffix);
  // Moves the server with the smallest last query time known to the cache to the end.
  void move_fastest_last(std::vector<ServerInfo>& servers);
};

// True for the data of an SVCB or HTTPS record in alias mode: priority 0 and a target name
// other than ".", as in "0 www.lab.test.".
bool is_svcb_compatible_alias(const std::string& rdata);

// Reads one record of `section` ("qv-dns.results.authority" or "qv-dns.results.answer") from
// the metric data of a dig result into `response`: the smallest TTL, the delegation (an NS
// record's owner and target) and whether the answer holds an alias or a record of
// `query_type`. False when the metric data is no record of that section.
bool parse_RR_section(const rapidjson::Value& metric_data, int level, const std::string& section,
                      const std::string& query_type, ParsedResponse& response);

// Reads every record of the dig metrics `metrics` into `response`: each is tried as an
// authority record first, as an answer otherwise.
void read_records(const rapidjson::Value& metrics, int level, const std::string& query_type,
                  ParsedResponse& response);

// Splits "a.test, b.test,,c.test " at the commas into trimmed, non-empty names.
std::vector<std::string> parse_tld_host_ignore_list(const std::string& text);

// "yes" or "no".
std::string ToYesOrNoString(bool value);

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_WRAPPER_H_
