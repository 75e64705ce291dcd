// Ping diagnostics of a traversal test: which servers are pinged or counted for an outage, the
// pool of threads, the order in which results are applied, and pings that fail.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include "dns_experience/scripted_lab.h"
#include "wrapper/json_access.h"

namespace Network_tools::DNS_experience {
namespace {

using namespace testing_support;

// A server entry of the last level: its name, address ("" for none) and status.
struct Entry {
  std::string name, address, status = "qv-dns.results.error.none";
};

// `count` servers nsK.nic.outage. at 127.0.0.K whose queries timed out.
std::vector<Entry> timed_out(int count) {
  std::vector<Entry> entries;
  for (int k = 1; k <= count; ++k) {
    entries.push_back({"ns" + std::to_string(k) + ".nic.outage.", "127.0.0." + std::to_string(k),
                       "qv-dns.results.error.timeout"});
  }
  return entries;
}

// Two probes answered from `address` in K.5 ms each, K being its last number.
Reply replies(const std::string& address) {
  const std::string time = "  " + address.substr(address.rfind('.') + 1) + ".5 ms";
  return {"ping to " + address + " (" + address + ")\n128  " + address + time + time +
          "\nDuration: 3.25\n"};
}

class PingDiagnostics : public Scripted_lab {
 protected:
  PingDiagnostics() { std::ofstream(tools.path() + "QV_traceroute") << ""; }

  // A traversal test for `options` whose run reported `levels` levels, the last one holding one
  // group with `entries`. The traceroute build answers as `answer` says for the address pinged,
  // from any thread.
  std::unique_ptr<Staged_engine> diagnosed(const std::string& options,
                                           const std::vector<Entry>& entries, int levels = 1) {
    auto wrapper = engine("-g -j " + options + " www.lab.test");
    wrapper->set_command_launcher([this](const std::string& command, Pipe_registry&) {
      ++pings;
      last_ping = command;
      pinged_host() = command.substr(0, command.rfind(" 2>&1"));
      pinged_host().erase(0, pinged_host().rfind(' ') + 1);
      return stdin;  // a token only: the reader never reads it
    });
    wrapper->set_command_reader([this](FILE*, int& exit_status) {
      const Reply reply = answer(pinged_host());
      exit_status = reply.exit_status;
      return reply.text;
    });
    wrapper->set_thread_starter([this](const std::function<void()>& work) {
      ++threads_started;
      if (!thread_failure.empty()) {
        throw std::system_error(EAGAIN, std::generic_category(), thread_failure);
      }
      return std::thread([this, work] {
        worker = std::this_thread::get_id();
        work();
      });
    });
    std::string metrics;
    for (const Entry& entry : entries) {
      metrics += std::string(metrics.empty() ? "" : ",") +
                 R"({"MetricData":{"qv-dns.results.server.name":")" + entry.name +
                 (entry.address.empty() ? "" : R"(","qv-dns.results.server.address":")") +
                 entry.address + R"(","qv-dns.results.status":")" + entry.status + "\"}}";
    }
    wrapper->get_results().start_alias_traversal();
    for (int level = 3; level < 3 + levels; ++level) {
      rapidjson::Document response;
      response.Parse((R"({"Metrics":[)" + metrics + R"(],"OtherData":{}})").c_str());
      wrapper->get_results().add_level("", std::move(response), {}, level, false);
    }
    return wrapper;
  }

  // The ping keys of each server entry of the last level: "ns1. 1.5,1.5,null - 3.25" gives the
  // round-trip times, the error and the duration ("-" where absent).
  static std::vector<std::string> pinged(Staged_engine& wrapper) {
    std::vector<std::string> found;
    const Results::Level& last = wrapper.get_results().resolutions.back().levels.back();
    for (const auto& entry : last.groups[0].response["Metrics"].GetArray()) {
      const rapidjson::Value& data = entry["MetricData"];
      std::string line = data["qv-dns.results.server.name"].GetString();
      for (const char* key : {"round-trip-times", "error-code", "duration.ms"}) {
        const std::string name = std::string("qv-dns.results.server.ping.") + key;
        line += " " + (data.HasMember(name.c_str()) ? JSON_to_string(data[name.c_str()]) : "-");
      }
      std::erase(line, '"');
      found.push_back(line);
    }
    return found;
  }

  // The host of the command started last on this thread, which its reader answers for.
  static std::string& pinged_host() {
    static thread_local std::string host;
    return host;
  }

  std::function<Reply(const std::string& address)> answer = replies;
  std::atomic<int> pings{0};
  // The last ping's command line, when only one thread pings.
  std::string last_ping;
  std::atomic<int> threads_started{0};
  std::string thread_failure;
  std::thread::id worker;
};

TEST_F(PingDiagnostics, TimedOutTopLevelServersMakeAnOutageOnlyWhenEnoughCount) {
  const std::vector<Entry> seven = timed_out(7);
  std::vector<Entry> one_without_address = seven;
  one_without_address[6].address = "";
  struct Case {
    std::string options;
    std::vector<Entry> entries;
    int levels;
    bool outage;
    int pings;
  };
  const std::vector<Case> cases = {
      // Two of seven are ignored: five do not make the minimum of seven, and all are pinged.
      {"-O -m 7 -I ns1.nic.outage.,ns2.nic.outage.", seven, 1, false, 7},
      // A server without address counts, and the outage spares every ping.
      {"-O -m 7", one_without_address, 1, true, 0},
      // Without detection, or past the top-level domain's level, nothing is counted.
      {"-m 7", one_without_address, 1, false, 6},
      {"-O -m 7", seven, 2, false, 7},
  };
  for (const Case& c : cases) {
    pings = 0;
    auto wrapper = diagnosed(c.options, c.entries, c.levels);
    wrapper->apply_ping_diagnostics_if_needed();
    EXPECT_EQ(wrapper->get_results().network_outage_detected, c.outage) << c.options;
    EXPECT_EQ(pings, c.pings) << c.options;
  }
  EXPECT_TRUE(logged("TLD server ns1.nic.outage. has an outage error but is in the ignore list"));
  EXPECT_TRUE(
      logged("Network outage detected before ping diagnostics. Total timed out TLD "
             "servers: 7."));
}

TEST_F(PingDiagnostics, APingNeverRunsPastTheTestsOverallTimeout) {
  // 5 probes of 2 s make 10 s, as long as there is that much left of the 20 s of the test; the
  // whole seconds left are cut down, so a few milliseconds more gone make one second less.
  struct Case {
    int seconds_gone;
    int fewest, most;
  };
  for (const Case& c : std::vector<Case>{{0, 10, 10}, {15, 4, 5}, {25, 1, 1}}) {
    auto wrapper = diagnosed("-Q 20 -p 5 -P 2", timed_out(1));
    wrapper->age(c.seconds_gone);
    wrapper->apply_ping_diagnostics_if_needed();
    const std::size_t at = last_ping.find(" -Q ");
    const int limit = at == std::string::npos ? -1 : std::atoi(last_ping.c_str() + at + 4);
    EXPECT_TRUE(limit >= c.fewest && limit <= c.most) << c.seconds_gone << ": " << last_ping;
  }
}

TEST_F(PingDiagnostics, ResultsAreAppliedInServerOrderWhateverTheOrderPingsEnd) {
  // The first server's ping ends only after every other one: the other thread did them all.
  std::mutex mutex;
  std::condition_variable others_done;
  std::vector<std::string> finished;
  answer = [&](const std::string& address) {
    std::unique_lock<std::mutex> lock(mutex);
    if (address == "127.0.0.1") {
      others_done.wait_for(lock, std::chrono::seconds(5), [&] { return finished.size() == 4; });
    }
    finished.push_back(address);
    others_done.notify_all();
    return replies(address);
  };
  std::vector<Entry> five = timed_out(5);
  auto wrapper = diagnosed("-x 2", five, 2);
  wrapper->apply_ping_diagnostics_if_needed();
  EXPECT_EQ(finished.back(), "127.0.0.1");
  EXPECT_EQ(threads_started, 1);  // the caller is the other one
  std::vector<std::string> expected;
  std::size_t previous = 0;
  for (int k = 1; k <= 5; ++k) {
    const std::string time = std::to_string(k) + ".5";
    expected.push_back(five[k - 1].name + " " + time + "," + time + ",null,null,null - 3.25");
    const std::size_t applied =
        log.str().find("Applying ping diagnostics for 127.0.0." + std::to_string(k));
    EXPECT_TRUE(applied != std::string::npos && applied >= previous) << k;
    previous = applied;
  }
  EXPECT_EQ(pinged(*wrapper), expected);
}

TEST_F(PingDiagnostics, NoServerIsLostToTooManyOrTooFewThreads) {
  // More threads than servers start one per server, the caller included; threads that cannot
  // start leave their servers to the caller.
  for (const std::string failure : {"", "no thread for you"}) {
    thread_failure = failure;
    threads_started = 0;
    auto wrapper = diagnosed("-x 5", timed_out(2));
    wrapper->apply_ping_diagnostics_if_needed();
    EXPECT_EQ(threads_started, 1);
    EXPECT_EQ(pinged(*wrapper),
              (std::vector<std::string>{"ns1.nic.outage. 1.5,1.5,null,null,null - 3.25",
                                        "ns2.nic.outage. 2.5,2.5,null,null,null - 3.25"}));
  }
  EXPECT_TRUE(logged("Cannot start ping diagnostics thread 2 of 2: no thread for you"));
}

TEST_F(PingDiagnostics, AFailedPingIsLoggedForItsServerAndTheOthersKeepTheirs) {
  // On the worker thread, an output whose parsing ends the stand-alone ping (ICMP unreachable
  // before any probe); the caller's pings succeed. Each thread's first ping waits for the
  // other's, so that both take servers.
  std::mutex mutex;
  std::condition_variable started;
  answer = [&](const std::string& address) {
    std::unique_lock<std::mutex> lock(mutex);
    started.notify_all();
    started.wait_for(lock, std::chrono::seconds(5), [&] { return pings >= 2; });
    if (std::this_thread::get_id() != worker) return replies(address);
    return Reply{"ping to h (" + address + ")\n128  !H  1.0 ms\n"};
  };
  auto wrapper = diagnosed("-x 2", timed_out(3));
  wrapper->apply_ping_diagnostics_if_needed();
  int failed = 0;
  for (const std::string& server : pinged(*wrapper)) {
    const std::string address = "127.0.0." + server.substr(2, 1);
    const bool logged_failure = logged("Ping diagnostics error for " + address +
                                       ": Parsing error. ICMP unreachable [!H] before any probe");
    failed += logged_failure ? 1 : 0;
    EXPECT_EQ(server.ends_with(" - - -"), logged_failure) << server;
  }
  EXPECT_TRUE(failed > 0 && failed < 3);

  // A probe TTL the ping refuses fails every ping with the ping's own message; the run goes on.
  pings = 0;
  auto refused = diagnosed("-l 20", timed_out(2));
  refused->apply_ping_diagnostics_if_needed();
  EXPECT_EQ(pings, 0);
  EXPECT_TRUE(logged("Ping diagnostics error for 127.0.0.2: TTL of 20 under the limit of 32"));
  EXPECT_EQ(pinged(*refused)[0], "ns1.nic.outage. - - -");
}

}  // namespace
}  // namespace Network_tools::DNS_experience
