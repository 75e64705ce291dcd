// The reported times against the packets: runs dns_experience in the lab while tshark captures
// the lab's DNS traffic, finds each reported server's query and response in the capture (by the
// server's address and port and the message id) and compares the capture's gap between them
// with the server's "qv-dns.results.duration.ms" and "qv-dns.results.duration.us". Also checks
// that a cached level reports 0 and sent nothing, that a failed server's queries went
// unanswered, and that each test's total is the sum of its servers' times.
//
//   packet_truth [--runs N] [--keep]   (inside the lab: lab/dnslab exec build/bin/packet_truth)
//
// Prints the figures; exits 1 when a target is missed: a level that cannot be matched, a
// millisecond figure more than 0.5 ms away from the capture beyond its own rounding down, a
// microsecond figure more than 0.2 ms away.
//
// dig reads its clock in user space: on a busy machine the wake-up of its thread after the
// response arrived can add a fraction of a millisecond or more that the wire never saw. dig
// alone, asked between the runs, shows how much (the control). The tool runs at real-time
// priority when it may, and a run that misses is run again, three times at most: a miss that a
// repeat of the same run does not show again is the machine's, and is counted as such; a fault
// of the tool shows every time.
#include <fcntl.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// How far a figure may be from the capture: dig's clock is not the wire's.
constexpr double ms_tolerance = 0.5;
constexpr double us_tolerance = 200;
// How often a run that missed is run again before its miss counts.
constexpr int repeats = 3;
// The control: dig alone, the command line the tool writes, asked of these servers in turn.
constexpr const char* control_command =
    "/opt/Tarvex/Tools/bind/QV_dig -u +comment +question -4 +cd +tries=1 +timeout=1.500 -t a "
    "www.lab.test @";
const std::vector<std::string> control_servers = {"127.53.2.1", "127.53.2.2", "127.53.4.1",
                                                  "127.53.4.2", "127.53.1.1"};

// One DNS message seen on the lab's loopback.
struct Packet {
  double time = 0;  // seconds, wall clock
  std::string source, destination;
  int source_port = 0, destination_port = 0;
  int id = -1;
  bool response = false;
  std::string name;  // the question, lower case, without the final dot
};

// One server entry of a result: a server asked at a reported level.
struct Server_entry {
  std::string level;  // "level 2 (recursion 0)", for the report
  std::string name, address, question;
  int port = 53;
  std::optional<int> id;
  std::optional<long long> ms, us;
  bool cached = false;
};

// One run of the tool (or of the control) and what came of it.
struct Run {
  std::string arguments;
  bool control = false;
  double start = 0, end = 0;
  std::string output;
  int status = -1;
};

double now() {
  timespec time{};
  clock_gettime(CLOCK_REALTIME, &time);
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

std::string lower_name(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// Runs `command` with /bin/sh and returns its standard output and exit status.
std::string run_shell(const std::string& command, int& status) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string text;
  char chunk[4096];
  while (const std::size_t count = fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, count);
  const int end = pclose(pipe);
  status = WIFEXITED(end) ? WEXITSTATUS(end) : 128;
  return text;
}

// One line of `tshark -T fields` output (the fields of `Capture::packets`) as a packet; false
// for a segment that carries no DNS message.
bool read_packet(const std::string& line, Packet& packet) {
  std::vector<std::string> field;
  std::istringstream cells(line);
  std::string cell;
  while (std::getline(cells, cell, '\t')) field.push_back(cell);
  field.resize(10);
  if (field[7].empty()) return false;
  packet.time = std::stod(field[0]);
  packet.source = field[1];
  packet.destination = field[2];
  packet.source_port = std::stoi(field[3].empty() ? field[5] : field[3]);
  packet.destination_port = std::stoi(field[4].empty() ? field[6] : field[4]);
  packet.id = std::stoi(field[7], nullptr, 16);
  packet.response = field[8] == "1" || field[8] == "True";
  packet.name = lower_name(field[9]);
  return true;
}

// tshark capturing the lab's DNS traffic into a file until `stop`.
class Capture {
 public:
  // Captures into `file` (pcapng) in `folder`.
  Capture(const std::string& folder, const std::string& file) : file_(folder + "/" + file) {
    // A log of its own: an earlier capture's would say at once that this one runs.
    const std::string log = file_ + ".log";
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
      execlp("tshark", "tshark", "-i", "lo", "-n", "-q", "-f", "net 127.53.0.0/16 and port 53",
             "-w", file_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // tshark says so once the capture runs; packets before that would be lost.
    for (int wait = 0; wait < 200; ++wait) {
      std::ifstream text(log);
      const std::string said((std::istreambuf_iterator<char>(text)), {});
      if (said.find("Capturing on") != std::string::npos) return;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = 0;
        throw std::runtime_error("tshark: " + said);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("tshark did not start capturing");
  }
  ~Capture() {
    if (pid_ > 0) stop();
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Ends the capture, its file written whole.
  void stop() {
    // tshark may miss a signal while it is still setting up: asked again until it ends.
    for (int ask = 0; waitpid(pid_, nullptr, WNOHANG) == 0; ++ask) {
      kill(pid_, ask < 50 ? SIGINT : SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    pid_ = 0;
  }

  std::vector<Packet> packets() const {
    int status = 0;
    // Without sequence analysis every segment is read, whatever an earlier connection with the
    // same ports left.
    const std::string text = run_shell(
        "tshark -r " + file_ +
            " -n -o tcp.analyze_sequence_numbers:FALSE -T fields -E separator=/t -E "
            "occurrence=f -e frame.time_epoch -e ip.src -e ip.dst -e udp.srcport -e udp.dstport "
            "-e tcp.srcport -e tcp.dstport -e dns.id -e dns.flags.response -e dns.qry.name "
            "2>/dev/null",
        status);
    std::vector<Packet> packets;
    std::istringstream lines(text);
    std::string line;
    Packet packet;
    while (std::getline(lines, line)) {
      if (read_packet(line, packet)) packets.push_back(packet);
    }
    return packets;
  }

 private:
  std::string file_;
  pid_t pid_ = 0;
};

// The capture's gap in ms between the query with `id` to `address`:`port` and its response:
// the last such response and the last query before it from the port it went to.
std::optional<double> captured_gap(const std::vector<Packet>& window, const std::string& address,
                                   int port, int id) {
  for (auto response = window.rbegin(); response != window.rend(); ++response) {
    if (!response->response || response->source != address || response->source_port != port ||
        response->id != id) {
      continue;
    }
    for (auto query = response; query != window.rend(); ++query) {
      if (!query->response && query->id == id && query->destination == address &&
          query->source_port == response->destination_port) {
        return (response->time - query->time) * 1000;
      }
    }
  }
  return std::nullopt;
}

std::optional<long long> integer(const rapidjson::Value& object, const char* key) {
  if (!object.HasMember(key) || !object[key].IsInt64()) return std::nullopt;
  return object[key].GetInt64();
}

std::string text(const rapidjson::Value& object, const char* key) {
  return object.HasMember(key) && object[key].IsString() ? object[key].GetString() : "";
}

// The server entries of a result document.
std::vector<Server_entry> servers_of(const rapidjson::Value& result) {
  std::vector<Server_entry> entries;
  for (const auto& step : result["StepResults"].GetArray()) {
    const rapidjson::Value& other = step["OtherData"];
    const std::string level =
        "level " + std::to_string(*integer(other, "qv-dns.results.level-id.number")) +
        " (recursion " + std::to_string(*integer(other, "qv-dns.results.recursion-level.number")) +
        ")";
    for (const auto& metric : step["Metrics"].GetArray()) {
      const rapidjson::Value& data = metric["MetricData"];
      if (!data.HasMember("qv-dns.results.server.name")) continue;
      Server_entry entry;
      entry.level = level;
      entry.question = lower_name(text(other, "qv-dns.results.question.name"));
      entry.name = text(data, "qv-dns.results.server.name");
      entry.address = text(data, "qv-dns.results.server.address");
      entry.port = static_cast<int>(integer(data, "qv-dns.results.server.port").value_or(53));
      if (const auto id = integer(data, "qv-dns.results.id")) entry.id = static_cast<int>(*id);
      entry.ms = integer(data, "qv-dns.results.duration.ms");
      entry.us = integer(data, "qv-dns.results.duration.us");
      entry.cached = data.HasMember("qv-dns.results.cached");
      entries.push_back(entry);
    }
  }
  return entries;
}

// "largest 0.884 ms, median 0.184 ms (from 0.115 to 0.884)"
std::string spread(std::vector<double> values, const char* unit) {
  if (values.empty()) return "none";
  std::sort(values.begin(), values.end());
  const double largest = std::max(std::fabs(values.front()), std::fabs(values.back()));
  char line[160];
  std::snprintf(line, sizeof line, "largest %.3f %s, median %.3f %s (from %.3f to %.3f)", largest,
                unit, values[values.size() / 2], unit, values.front(), values.back());
  return line;
}

// What the runs showed against the capture.
class Verdict {
 public:
  void miss(const Run& run, const std::string& what) {
    misses_.push_back(run.arguments + ": " + what);
  }
  std::size_t miss_count() const { return misses_.size(); }
  const std::vector<std::string>& misses() const { return misses_; }
  void matched(double ms_difference, double us_difference) {
    ms_differences.push_back(ms_difference);
    us_differences.push_back(us_difference);
  }
  int cached = 0, silent_failures = 0, totals = 0, levels = 0, runs = 0;
  std::vector<double> ms_differences, us_differences, control;

  // Prints the figures of the first runs, and the misses that every repeat showed again
  // (`confirmed`, run arguments); true when there is none.
  bool print(std::size_t packets, const std::vector<std::string>& confirmed,
             const std::vector<std::string>& last_repeat) const {
    const auto over = std::count_if(control.begin(), control.end(),
                                    [](double value) { return std::fabs(value) > us_tolerance; });
    std::printf("packet truth: %d runs, %zu DNS messages captured\n", runs, packets);
    std::printf("levels matched: %zu of %d\n", ms_differences.size(), levels);
    std::printf("  capture - reported ms: %s\n", spread(ms_differences, "ms").c_str());
    std::printf("  capture - reported us: %s\n", spread(us_differences, "us").c_str());
    std::printf("  dig alone, capture - reported us: %s; over %.1f ms: %td of %zu\n",
                spread(control, "us").c_str(), us_tolerance / 1000, over, control.size());
    std::printf("cached levels (0 ms, no packet): %d\n", cached);
    std::printf("failed servers without an answer (queries seen, no response): %d\n",
                silent_failures);
    std::printf("test totals equal to the sum of their levels: %d of %d\n", totals, runs);
    std::vector<std::string> passing, failing;
    for (const std::string& miss : misses_) {
      const bool again = std::any_of(confirmed.begin(), confirmed.end(), [&](const auto& run) {
        return miss.compare(0, run.size() + 2, run + ": ") == 0;
      });
      (again ? failing : passing).push_back(miss);
    }
    std::printf("missed, but not when run again (the machine, not the tool): %zu\n",
                passing.size());
    for (const std::string& miss : passing) std::printf("  %s\n", miss.c_str());
    std::printf("missed in every repeat: %zu\n", failing.size());
    for (const std::string& miss : failing) std::printf("  %s\n", miss.c_str());
    if (!failing.empty()) std::printf("and in the last repeat:\n");
    for (const std::string& miss : last_repeat) std::printf("  %s\n", miss.c_str());
    return failing.empty();
  }

 private:
  std::vector<std::string> misses_;
};

// Checks a server entry that has no id: it failed without an answer.
void check_silent_server(const Run& run, const Server_entry& entry,
                         const std::vector<Packet>& window, Verdict& verdict) {
  const std::string who = entry.level + " " + entry.name + " " + entry.address;
  const bool asked = std::any_of(window.begin(), window.end(), [&](const Packet& packet) {
    return !packet.response && packet.destination == entry.address &&
           packet.destination_port == entry.port && packet.name == entry.question;
  });
  const bool answered = std::any_of(window.begin(), window.end(), [&](const Packet& packet) {
    return packet.response && packet.source == entry.address && packet.source_port == entry.port &&
           packet.name == entry.question;
  });
  if (entry.cached) {
    ++verdict.cached;
    if (entry.ms != 0 || entry.us != 0) verdict.miss(run, who + ": a cached level took time");
    if (asked) verdict.miss(run, who + ": a cached level was asked");
  } else if (asked && !answered) {
    ++verdict.silent_failures;
  } else {
    verdict.miss(run, who + (asked ? ": answered, but no id reported" : ": never asked"));
  }
}

// Checks one server entry of `run` against the packets of its time window.
void check_server(const Run& run, Server_entry entry, const std::vector<Packet>& window,
                  Verdict& verdict) {
  if (entry.cached) entry.id.reset();  // the id of the run that filled the cache
  if (!entry.id) {
    check_silent_server(run, entry, window, verdict);
    return;
  }
  ++verdict.levels;
  const std::string who = entry.level + " " + entry.name + " " + entry.address;
  const std::optional<double> gap = captured_gap(window, entry.address, entry.port, *entry.id);
  if (!gap) {
    verdict.miss(run, who + ": id " + std::to_string(*entry.id) + " not found in the capture");
    return;
  }
  if (!entry.ms || !entry.us) {
    verdict.miss(run, who + ": no duration reported");
    return;
  }
  const double ms_difference = *gap - static_cast<double>(*entry.ms);
  const double us_difference = *gap * 1000 - static_cast<double>(*entry.us);
  verdict.matched(ms_difference, us_difference);
  // The milliseconds are cut down: up to 1 ms below the time, never above it.
  if (ms_difference < -ms_tolerance || ms_difference > 1 + ms_tolerance ||
      std::fabs(us_difference) > us_tolerance) {
    char line[160];
    std::snprintf(line, sizeof line, ": reported %lld ms / %lld us, captured %.3f ms", *entry.ms,
                  *entry.us, *gap);
    verdict.miss(run, who + line);
  }
}

// dig alone: its query time against the capture, for the record.
void check_control(const Run& run, const std::vector<Packet>& window, Verdict& verdict) {
  std::smatch id, time, server;
  if (!std::regex_search(run.output, id, std::regex(", id: ([0-9]+)")) ||
      !std::regex_search(run.output, time, std::regex("Query time: ([0-9]+) usec")) ||
      !std::regex_search(run.output, server, std::regex("SERVER: ([0-9.]+)#([0-9]+)"))) {
    verdict.miss(run, "dig alone gave no answer");
    return;
  }
  const std::optional<double> gap =
      captured_gap(window, server[1], std::stoi(server[2]), std::stoi(id[1]));
  if (gap) verdict.control.push_back(*gap * 1000 - std::stod(time[1]));
}

void check_run(const Run& run, const std::vector<Packet>& packets, Verdict& verdict) {
  std::vector<Packet> window;
  std::copy_if(packets.begin(), packets.end(), std::back_inserter(window),
               [&](const Packet& p) { return p.time >= run.start && p.time <= run.end; });
  if (run.control) {
    check_control(run, window, verdict);
    return;
  }
  ++verdict.runs;
  rapidjson::Document document;
  document.Parse(run.output.c_str());
  if (run.status != 0 || document.HasParseError() || !document.IsObject()) {
    verdict.miss(run, "exit status " + std::to_string(run.status) + ", no result document");
    return;
  }
  const rapidjson::Value& result = document["MonitorResults"][0];
  long long summed_ms = 0, summed_us = 0;
  for (const Server_entry& entry : servers_of(result)) {
    check_server(run, entry, window, verdict);
    summed_ms += entry.ms.value_or(0);
    summed_us += entry.us.value_or(0);
  }
  const long long total_ms =
      integer(result["OtherData"], "qv-dns.results.duration.ms").value_or(-1);
  const long long total_us =
      integer(result["OtherData"], "qv-dns.results.duration.us").value_or(-1);
  if (total_ms == summed_ms && total_us == summed_us) {
    ++verdict.totals;
  } else {
    verdict.miss(run, "test total " + std::to_string(total_ms) + " ms / " +
                          std::to_string(total_us) + " us, its levels " +
                          std::to_string(summed_ms) + " ms / " + std::to_string(summed_us) + " us");
  }
}

// Runs the tool once per entry of `arguments`, each followed by dig alone, while tshark
// captures; returns the runs and fills `packets` with what the capture saw.
std::vector<Run> run_captured(const std::vector<std::string>& arguments, const std::string& folder,
                              std::vector<Packet>& packets) {
  // Real-time priority keeps other processes' load from delaying dig's reading of its clock.
  int status = 0;
  run_shell("chrt -f 10 true 2>/dev/null", status);
  const std::string priority = status == 0 ? "chrt -f 10 " : "";
  const std::string tool = priority + std::string(NT_BINARY_DIR) + "/dns_experience ";
  static int captures = 0;
  Capture capture(folder, "capture" + std::to_string(++captures) + ".pcapng");
  std::vector<Run> done;
  for (std::size_t at = 0; at < arguments.size(); ++at) {
    for (const bool control : {false, true}) {
      Run run;
      run.control = control;
      run.arguments = control ? control_servers[at % control_servers.size()] : arguments[at];
      const std::string command = control ? priority + control_command : tool;
      run.start = now();
      run.output = run_shell(command + run.arguments + " 2>/dev/null", run.status);
      run.end = now();
      done.push_back(run);
    }
  }
  // The capture reads the wire a little behind it: stopped at once, it would lose the last
  // run's last messages.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  capture.stop();
  packets = capture.packets();
  return done;
}

// The scenarios, cycled through: plain, alias, reverse, TCP, traversal (levels in turn and at
// once), next-server-on-failure, failing servers and a cache (its first run fills it): every
// kind of level the tool reports.
std::vector<std::string> scenarios(const std::string& folder) {
  const std::string traversal = "-j -g -p 1 -P 1 -x 8 ";
  return {
      "-j www.lab.test",
      "-j -t mx lab.test",
      "-j nx.lab.test",
      "-j cname.alias.test",
      "-j to-example.alias.test",
      "-j -t https https.alias.test",
      "-j -t ptr 127.53.4.1",
      "-j -t ptr 1.4.53.127.in-addr.arpa",
      "-j -T www.lab.test",
      "-j -T to-lab.alias.test",
      "-j -f www.halflame.test",
      "-j -f -r 3 -w 1000 www.mixed.test",
      "-j www.refused.test",
      "-j www.closed.test",
      "-j -w 1000 -r 1 www.timeout.test",
      "-j www.glueless.test",
      "-j -H -S www.lab.example",
      "-j -c -C " + folder + "/cache.dat www.lab.example",
      traversal + "www.lab.test",
      traversal + "www.groups.test",
      traversal + "-w 1000 -r 1 www.halflame.test",
      traversal + "-T to-lab.alias.test",
      traversal + "-G www.groups.test",
      traversal + "-G -O -w 1000 -r 1 www.lab.flaky",
  };
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 240;
  bool keep = false;
  for (int at = 1; at < argc; ++at) {
    const std::string option = argv[at];
    if (option == "--runs" && at + 1 < argc) runs = std::max(1, std::atoi(argv[++at]));
    if (option == "--keep") keep = true;  // the captures and the results stay, for a closer look
  }
  try {
    char pattern[] = "/tmp/packet_truth_XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    const std::string folder = pattern;
    const std::vector<std::string> cycle = scenarios(folder);
    std::vector<std::string> first;
    for (int count = 0; count < runs; ++count) {
      first.push_back(cycle[static_cast<std::size_t>(count) % cycle.size()]);
    }

    std::vector<Packet> packets;
    Verdict verdict;
    std::vector<std::string> again;
    std::ofstream kept(keep ? folder + "/runs.txt" : "/dev/null");
    for (const Run& run : run_captured(first, folder, packets)) {
      kept << std::fixed << run.start << " " << run.end << " " << run.arguments << "\n"
           << run.output << "\n";
      const std::size_t before = verdict.miss_count();
      check_run(run, packets, verdict);
      if (verdict.miss_count() > before && !run.control) again.push_back(run.arguments);
    }
    const std::size_t captured = packets.size();
    std::vector<std::string> last_repeat;
    for (int repeat = 0; repeat < repeats && !again.empty(); ++repeat) {
      std::vector<std::string> still;
      Verdict repeated;
      for (const Run& run : run_captured(again, folder, packets)) {
        const std::size_t before = repeated.miss_count();
        check_run(run, packets, repeated);
        if (repeated.miss_count() > before && !run.control) still.push_back(run.arguments);
      }
      again = still;
      last_repeat = repeated.misses();
    }
    if (keep) {
      std::printf("captures kept in %s\n", folder.c_str());
    } else {
      std::filesystem::remove_all(folder);
    }
    return verdict.print(captured, again, last_repeat) ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "packet_truth: " << error.what() << "\n";
    return 1;
  }
}
