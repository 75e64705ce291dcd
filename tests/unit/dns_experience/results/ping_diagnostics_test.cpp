// Ping diagnostics of a traversal test: which servers are pinged or counted for an outage, the
// pool of threads, the order in which results are applied, and pings that fail.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
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
  std::string name;
  std::string address;
  std::string status = "qv-dns.results.error.none";
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

// The traceroute build as seen by many threads at once: each command is recorded, and `answer`
// gives the text for the address pinged.
class Threaded_traceroute {
 public:
  std::function<Reply(const std::string& address)> answer;

  void install(Wrapper& wrapper) {
    wrapper.set_command_launcher([this](const std::string& command, Pipe_registry&) {
      std::lock_guard<std::mutex> lock(mutex_);
      commands_.push_back(command);
      last_command() = command;
      return stdin;  // a token only: the reader below never reads it
    });
    wrapper.set_command_reader([this](FILE*, int& exit_status) {
      // "... -N 1 ADDRESS 2>&1"
      std::string command = last_command();
      command.resize(command.rfind(" 2>&1"));
      const Reply reply = answer(command.substr(command.rfind(' ') + 1));
      exit_status = reply.exit_status;
      return reply.text;
    });
  }
  std::size_t commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_.size();
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.clear();
  }

 private:
  // The command the launcher started last on this thread, which the reader reads next.
  static std::string& last_command() {
    static thread_local std::string command;
    return command;
  }
  std::mutex mutex_;
  std::vector<std::string> commands_;
};

// Five probes answered from `address` in K.5 ms each, K being its last number.
std::string replies(const std::string& address) {
  const std::string time = address.substr(address.rfind('.') + 1) + ".5 ms";
  return "ping to " + address + " (" + address + "), 128 hops max\n128  " + address + "  " + time +
         "  " + time + "\nDuration: 3.25\n";
}

class PingDiagnostics : public Scripted_lab {
 protected:
  PingDiagnostics() { std::ofstream(tools.path() + "QV_traceroute") << ""; }

  // A traversal test for `options` whose run reported `levels` levels, the last one holding one
  // group with `entries`; the traceroute build answers with `replies` unless told otherwise.
  std::unique_ptr<Staged_engine> diagnosed(const std::string& options,
                                           const std::vector<Entry>& entries, int levels = 1) {
    auto wrapper = engine("-g -j " + options + " www.lab.test");
    traceroute.answer = [](const std::string& address) { return Reply{replies(address)}; };
    traceroute.install(*wrapper);
    wrapper->set_thread_starter([this](std::function<void()> work) {
      ++threads_started;
      if (!thread_failure.empty())
        throw std::system_error(EAGAIN, std::generic_category(), thread_failure);
      return std::thread([this, work] {
        worker_thread = std::this_thread::get_id();
        work();
      });
    });
    Results& results = wrapper->get_results();
    results.start_alias_traversal();
    for (int level = 3; level < 3 + levels; ++level) {
      std::string metrics;
      for (const Entry& entry : entries) {
        metrics += std::string(metrics.empty() ? "" : ",") +
                   R"({"MetricData":{"qv-dns.results.server.name":")" + entry.name + "\"" +
                   (entry.address.empty()
                        ? ""
                        : R"(,"qv-dns.results.server.address":")" + entry.address + "\"") +
                   R"(,"qv-dns.results.status":")" + entry.status + "\"}}";
      }
      rapidjson::Document response;
      response.Parse((R"({"Metrics":[)" + metrics + R"(],"OtherData":{}})").c_str());
      results.add_level("", std::move(response), {}, level, false);
    }
    return wrapper;
  }

  // The ping keys of each server entry of the last level, in order:
  // "127.0.0.1 rtt=1.5,1.5 error=- duration=3.25".
  static std::vector<std::string> pinged(Staged_engine& wrapper) {
    std::vector<std::string> found;
    const rapidjson::Value& metrics =
        wrapper.get_results().resolutions.back().levels.back().groups[0].response["Metrics"];
    for (const auto& entry : metrics.GetArray()) {
      const rapidjson::Value& data = entry["MetricData"];
      const auto text = [&](const char* key) -> std::string {
        if (!data.HasMember(key)) return "-";
        return data[key].IsString() ? data[key].GetString() : JSON_to_string(data[key]);
      };
      found.push_back(text("qv-dns.results.server.address") +
                      " rtt=" + text("qv-dns.results.server.ping.round-trip-times") +
                      " error=" + text("qv-dns.results.server.ping.error-code") +
                      " duration=" + text("qv-dns.results.server.ping.duration.ms"));
    }
    return found;
  }

  Threaded_traceroute traceroute;
  std::atomic<int> threads_started{0};
  std::string thread_failure;
  std::thread::id worker_thread;
};

TEST_F(PingDiagnostics, TimedOutTopLevelServersMakeAnOutageOnlyWhenEnoughCount) {
  std::vector<Entry> seven = timed_out(7);
  std::vector<Entry> one_without_address = seven;
  one_without_address[6].address = "";
  struct Case {
    std::string options;
    std::vector<Entry> entries;
    int levels;
    bool outage;
    std::size_t pings;
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
    auto wrapper = diagnosed(c.options, c.entries, c.levels);
    wrapper->apply_ping_diagnostics_if_needed();
    EXPECT_EQ(wrapper->get_results().network_outage_detected, c.outage) << c.options;
    EXPECT_EQ(traceroute.commands(), c.pings) << c.options;
    traceroute.clear();
  }
  EXPECT_TRUE(logged("TLD server ns1.nic.outage. has an outage error but is in the ignore list"));
  EXPECT_TRUE(
      logged("Network outage detected before ping diagnostics. Total timed out TLD "
             "servers: 7."));
}

TEST_F(PingDiagnostics, ResultsAreAppliedInServerOrderWhateverTheOrderPingsEnd) {
  // The first server's ping ends only after every other one: the other thread did them all.
  std::mutex mutex;
  std::condition_variable others_done;
  int done = 0;
  std::vector<std::string> finished;
  std::vector<Entry> entries;
  for (int k = 1; k <= 5; ++k)
    entries.push_back({"ns" + std::to_string(k), "127.0.0." + std::to_string(k)});
  auto wrapper = diagnosed("-x 2", entries, 2);
  traceroute.answer = [&](const std::string& address) {
    std::unique_lock<std::mutex> lock(mutex);
    if (address == "127.0.0.1") {
      others_done.wait_for(lock, std::chrono::seconds(5), [&] { return done == 4; });
    } else {
      ++done;
      others_done.notify_all();
    }
    finished.push_back(address);
    return Reply{replies(address)};
  };
  wrapper->apply_ping_diagnostics_if_needed();
  EXPECT_EQ(finished.back(), "127.0.0.1");
  // The caller is one of the two threads.
  EXPECT_EQ(threads_started, 1);
  EXPECT_EQ(pinged(*wrapper), (std::vector<std::string>{
                                  "127.0.0.1 rtt=1.5,1.5,null,null,null "
                                  "error=- duration=3.25",
                                  "127.0.0.2 rtt=2.5,2.5,null,null,null error=- duration=3.25",
                                  "127.0.0.3 rtt=3.5,3.5,null,null,null error=- duration=3.25",
                                  "127.0.0.4 rtt=4.5,4.5,null,null,null error=- duration=3.25",
                                  "127.0.0.5 rtt=5.5,5.5,null,null,null error=- duration=3.25"}));
  std::size_t position = 0;
  for (int k = 1; k <= 5; ++k) {
    const std::size_t at =
        log.str().find("Applying ping diagnostics for 127.0.0." + std::to_string(k));
    EXPECT_GT(at, position) << k;
    position = at == std::string::npos ? position : at;
  }
}

TEST_F(PingDiagnostics, NoServerIsLostToTooManyOrTooFewThreads) {
  struct Case {
    std::string options;
    std::string thread_failure;
    int threads_started;
  };
  const std::vector<Case> cases = {
      // More threads than servers: one per server, the caller included.
      {"-x 5", "", 1},
      // Threads that cannot start leave their servers to the caller.
      {"-x 5", "no thread for you", 1},
  };
  for (const Case& c : cases) {
    thread_failure = c.thread_failure;
    threads_started = 0;
    auto wrapper = diagnosed(c.options, {{"ns1", "127.0.0.1"}, {"ns2", "127.0.0.2"}});
    wrapper->apply_ping_diagnostics_if_needed();
    EXPECT_EQ(threads_started, c.threads_started);
    for (const std::string& server : pinged(*wrapper)) {
      EXPECT_EQ(server.find("rtt=-"), std::string::npos) << server;
    }
  }
  EXPECT_TRUE(logged("Cannot start ping diagnostics thread 2 of 2: no thread for you"));
}

TEST_F(PingDiagnostics, AFailedPingIsLoggedForItsServerAndTheOthersKeepTheirs) {
  // Every way a ping can fail, on the worker thread while the calling thread's pings succeed.
  const std::vector<Reply> failures = {
      {"ping to h (127.0.0.9)\n128  !H  1.0 ms\n", 0},  // the parser's internal error
      {"Permission denied", 1},                         // a fatal error of the ping wrapper
      {"odd failure", 3},                               // an exit status it cannot read
      {"connect: Network is unreachable", 2},           // a failure it reports
  };
  for (const Reply& failure : failures) {
    auto wrapper =
        diagnosed("-x 2", {{"ns1", "127.0.0.1"}, {"ns2", "127.0.0.2"}, {"ns3", "127.0.0.3"}});
    // Each thread's first ping waits for the other's, so that both threads take servers.
    std::mutex mutex;
    std::condition_variable started;
    int pings = 0;
    traceroute.answer = [&](const std::string& address) {
      std::unique_lock<std::mutex> lock(mutex);
      ++pings;
      started.notify_all();
      started.wait_for(lock, std::chrono::seconds(5), [&] { return pings >= 2; });
      return std::this_thread::get_id() == worker_thread ? failure : Reply{replies(address)};
    };
    wrapper->apply_ping_diagnostics_if_needed();
    int failed = 0;
    for (const std::string& server : pinged(*wrapper)) {
      const std::string address = server.substr(0, server.find(' '));
      if (logged("Ping diagnostics error for " + address + ": ")) {
        ++failed;
        EXPECT_TRUE(server.ends_with("rtt=- error=- duration=-")) << server;
      } else {
        EXPECT_TRUE(server.find("rtt=-") == std::string::npos) << server;
      }
    }
    EXPECT_TRUE(failed > 0 && failed < 3) << failure.text;
    log.str("");
  }

  // A probe TTL the ping refuses fails every ping with the ping's own message; the run goes on.
  traceroute.clear();
  auto refused = diagnosed("-l 20", {{"ns1", "127.0.0.1"}, {"ns2", "127.0.0.2"}});
  refused->apply_ping_diagnostics_if_needed();
  EXPECT_EQ(traceroute.commands(), 0u);
  EXPECT_TRUE(logged("Ping diagnostics error for 127.0.0.2: TTL of 20 under the limit of 32"));
  EXPECT_EQ(pinged(*refused)[0], "127.0.0.1 rtt=- error=- duration=-");
}

}  // namespace
}  // namespace Network_tools::DNS_experience
