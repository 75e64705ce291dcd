// The waterfall of a dns_experience result document: its reported levels in order, each with
// the servers asked and what came back, read from the document for drawing.
#ifndef NETWORK_TOOLS_VIEW_WATERFALL_H_
#define NETWORK_TOOLS_VIEW_WATERFALL_H_

#include <rapidjson/document.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Network_tools::View {

// A document that is no dns_experience result; the message says what is missing or wrong,
// and where ("step 3: qv-dns.results.level-id.number is not an integer").
class not_a_result : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One server asked at a level, as its entry in the level's steps tells it.
struct Server_query {
  std::string name;
  std::string address;
  // The server's query time; absent when the failure left none (a refused connection).
  std::optional<int> duration_ms;
  // The same time in microseconds, when the result keeps it.
  std::optional<std::int64_t> duration_us;
  // The answer code or failure key ("qv-dns.results.error.none" for a good answer); "" when
  // the server's answer carried none.
  std::string status;
  bool cached = false;
  std::string nsid;
  std::string hostname_bind;
  // Traversal tests: the round-trip times of the server's ping ("null" for a lost probe), the
  // ping's error key and its duration.
  std::vector<std::string> ping_round_trips;
  std::string ping_error;
  std::optional<double> ping_duration_ms;

  // True when the server answered with a code other than NOERROR, or failed.
  bool failed() const;
};

// One reported level: the question asked, every server asked (in the order of the document:
// failed servers first), and the records that came back.
struct Level {
  int id = 0;
  // 0 for the name tested, n for the n-th alias target.
  int alias_depth = 0;
  std::string question_name;
  std::string question_type;
  std::string protocol;
  std::vector<Server_query> servers;
  // Answer records as "TYPE data" ("A 127.53.100.1", "CNAME www.lab.example."), without repeats.
  std::vector<std::string> answers;
  // A referral: the zone the level's servers delegate to, and its name servers.
  std::string referral_zone;
  std::vector<std::string> name_servers;
  // A negative answer: the zone whose SOA came back.
  std::string negative_zone;

  // The time of the level: the sum of its servers' times.
  std::int64_t duration_ms() const;
  // The same in microseconds, when every server of the level has its time in microseconds.
  std::optional<std::int64_t> duration_us() const;
  // True when every server of the level was taken from the cache.
  bool cached() const;
};

// The whole test, as drawn.
struct Waterfall {
  std::string url;
  // Traversal tests report an outage verdict and ping their servers.
  bool traversal = false;
  std::optional<bool> network_outage;
  std::optional<std::int64_t> duration_ms;
  std::optional<std::int64_t> duration_us;
  std::string error_code;
  std::string error_details;
  std::vector<Level> levels;

  // The time the drawing spans: the test's duration, or the sum of its levels when longer.
  std::int64_t span_ms() const;
};

// Reads the result document `document` printed by dns_experience (a result or an error result).
// Throws not_a_result when it is none: another tool's document, a missing section, a value of
// the wrong type.
Waterfall read_waterfall(const rapidjson::Value& document);

}  // namespace Network_tools::View

#endif  // NETWORK_TOOLS_VIEW_WATERFALL_H_
