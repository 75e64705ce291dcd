// Fuzz target: a level taken from the cache file. The JSON text that a cached entry keeps of its
// step is read into the results model (`Results::add_level`) by the driver in a whole run for
// www.lab.test whose root and top-level-domain levels come from the cache too; the levels after
// it are asked of scripted servers, and the run ends with its result document.
//
// Input: one byte of options, then the cached JSON text; after a NUL byte, the text that dig
// prints for the query of the level after the cached one (by default the lab's answer for
// www.lab.test). Later queries get the lab's recorded answers where there is one, that text
// otherwise. Option bits:
//   0-1 query type (a, https, cname, ns)   2 a traversal test   3 raw text output (the cached
//   raw text is used too)   4 hostname.bind step   5 no answer text: the cached entry has no
//   servers (another build's entry, or one damaged)
#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <utility>

#include "support/engine.h"

using namespace Network_tools;
using DNS_experience::ServerInfo;

namespace {

std::string recorded(const std::string& name) {
  std::ifstream file(std::string(NT_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The lab's answers, by words of the command line; read once.
const std::vector<std::pair<std::string, std::string>>& lab_answers() {
  static const std::vector<std::pair<std::string, std::string>> answers = {
      {"hostname.bind", recorded("dig_hostname_bind.txt")},
      {" -t ns . ", recorded("dig_root_servers.txt")},
      {" -t ns test. ", recorded("dig_referral_root.txt")},
      {" -t ns example. ", recorded("dig_referral_root_example.txt")},
      {"@127.53.3.", recorded("dig_referral_tld_example.txt")},
      {"@127.53.4.3 ", recorded("dig_authoritative_answer_example.txt")},
  };
  return answers;
}

const std::array<const char*, 4> query_types = {"a", "https", "cname", "ns"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t options = data[0];
  const std::vector<std::string> texts = fuzz::split_at_nul(fuzz::as_text(data + 1, size - 1));
  static const std::string default_answer = recorded("dig_authoritative_answer.txt");
  const std::string& answer = texts.size() > 1 ? texts[1] : default_answer;
  const bool JSON_output = (options & 8) == 0;

  std::vector<std::string> words = {"-c", "-t", query_types[options & 3]};
  if ((options & 4) != 0) words.emplace_back("-g");
  if (JSON_output) words.emplace_back("-j");
  if ((options & 16) != 0) words.emplace_back("-H");
  words.emplace_back("www.lab.test");

  fuzz::Silent_logger logger;
  fuzz::Scripted_tools tools;
  tools.answer = [&answer](const std::string& command, int&) {
    for (const auto& [words, text] : lab_answers()) {
      if (command.find(words) != std::string::npos) return text;
    }
    return answer;
  };
  fuzz::run_input([&] {
    fuzz::Engine engine(words, logger.get(), tools);
    engine.start();
    // The choice of the next server is not what is tested here: the last one is always asked.
    engine.set_random_source([] { return [](int, int high) { return high; }; });
    DNS_experience::Cache& cache = engine.cache();
    cache.set_cache_answer(".", {{"a.root-servers.test.", IP::Address("127.53.1.1"), -1}}, 3600, "",
                           "");
    cache.set_cache_answer("test.", {{"ns1.nic.test.", IP::Address("127.53.2.1"), -1}}, 3600, "",
                           "");
    const std::vector<ServerInfo> servers =
        (options & 32) != 0 ? std::vector<ServerInfo>{} : fuzz::lab_test_servers();
    cache.set_cache_answer("www.lab.test.", servers, 3600, "cached raw text", texts[0]);
    const std::string printed = engine.run();
    if (JSON_output) fuzz::check(fuzz::is_JSON(printed), "the result is not JSON");
  });
  return 0;
}
