// Trust-chain lines from delv's trace.
#include "delv/trust_chain.h"

#include <algorithm>
#include <string_view>

#include "delv/algorithm.h"

namespace Network_tools::Delv {
namespace {

// What separates tokens, as for a stream's >>.
constexpr const char* blanks = " \t\n\v\f\r";

// The next token of `text` from `position` on, moving `position` past it; empty at the end.
// Lines are cut this way rather than through a string stream, which costs more than the rest of
// the reading for each of the thousands of lines of a trace.
std::string_view next_token(std::string_view text, std::size_t& position) {
  const std::size_t start = text.find_first_not_of(blanks, position);
  if (start == std::string_view::npos) {
    position = text.size();
    return {};
  }
  position = std::min(text.find_first_of(blanks, start), text.size());
  return text.substr(start, position - start);
}

bool is_number(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The number after "key id = " in a DNSKEY comment ("; KSK; alg = ... ; key id = 30931").
std::string key_id_in(const std::string& comments) {
  const std::string marker = "key id = ";
  const std::size_t position = comments.find(marker);
  if (position == std::string::npos) return "";
  std::string number;
  for (std::size_t i = position + marker.size(); i < comments.size(); ++i) {
    if (comments[i] < '0' || comments[i] > '9') break;
    number += comments[i];
  }
  return number;
}

}  // namespace

void Trust_chain::add_line(const std::string& line) {
  if (reading_record_) {
    // Continuation lines are commented out too: ";\t\t\t\t\t\t20270105074422 ...". Any
    // other line means the record was cut short: describe what there is and go on.
    const std::size_t start = line.find_first_not_of(" \t");
    const bool continuation =
        start != std::string::npos && line[start] == ';' && line.compare(start, 2, ";;") != 0;
    if (continuation) {
      add_record_data(std::string_view(line).substr(start + 1));
      if (record_.open_parentheses <= 0) finish_record();
      return;
    }
    finish_record();
  }

  std::size_t position = 0;
  if (next_token(line, position) == ";;" && next_token(line, position) == "fetch:") {
    // ";; fetch: lab.test/DNSKEY"
    if (const std::string_view fetched = next_token(line, position); !fetched.empty()) {
      const std::size_t slash = fetched.rfind('/');
      if (slash != std::string_view::npos) {
        start_fetch(std::string(fetched.substr(0, slash)), std::string(fetched.substr(slash + 1)));
      }
      return;
    }
  }
  if (start_record(line) && record_.open_parentheses <= 0) finish_record();
}

void Trust_chain::start_fetch(const std::string& name, const std::string& type) {
  if (fetching_ && name != fetch_name_ && !fetch_signed_) {
    text_ += "    RRSIG missing";
    if (!fetch_type_.empty()) text_ += " for record " + fetch_type_;
    text_ += "\n";
  }
  fetching_ = true;
  fetch_name_ = name;
  fetch_type_ = type;
  fetch_signed_ = false;
}

bool Trust_chain::start_record(const std::string& line) {
  // ";owner TTL CLASS TYPE data...": the owner follows the ";" directly.
  if (line.size() < 2 || line[0] != ';' || line[1] == ';' || line[1] == ' ' || line[1] == '\t') {
    return false;
  }
  const std::string_view text = std::string_view(line).substr(1);
  std::size_t position = 0;
  const std::string_view owner = next_token(text, position);
  const std::string_view ttl = next_token(text, position);
  const std::string_view record_class = next_token(text, position);
  const std::string_view type = next_token(text, position);
  if (type.empty() || !is_number(ttl) || record_class != "IN") return false;
  record_ = record{std::string(owner), std::string(type), {}, "", 0};
  reading_record_ = true;
  add_record_data(text.substr(position));
  return true;
}

void Trust_chain::add_record_data(std::string_view text) {
  const std::size_t comment = text.find(';');
  if (comment != std::string_view::npos) {
    record_.comments.append(text.substr(comment + 1)).push_back(';');
  }
  const std::string_view data = text.substr(0, comment);
  std::size_t position = 0;
  for (std::string_view token = next_token(data, position); !token.empty();
       token = next_token(data, position)) {
    if (token == "(") {
      ++record_.open_parentheses;
    } else if (token == ")") {
      --record_.open_parentheses;
    } else {
      record_.fields.emplace_back(token);
    }
  }
}

void Trust_chain::finish_record() {
  reading_record_ = false;
  const record& r = record_;
  const auto field = [&r](std::size_t index) {
    return index < r.fields.size() ? r.fields[index] : std::string("Unknown");
  };
  const auto algorithm = [](const std::string& number) {
    return Algorithm::to_string(number) + " (" + number + ")";
  };

  if (r.type == "DS") {
    // key tag, algorithm, digest type, digest
    const auto name = key_names_.find(field(0));
    text_ += "    DS on " + r.owner + " with digest of key tag " + field(0) + " (" +
             (name != key_names_.end() ? name->second : "Unknown") + ") created with algorithm " +
             algorithm(field(1)) + "\n";
  } else if (r.type == "DNSKEY") {
    // flags, protocol, algorithm, key; delv's comment names the role and the key tag.
    std::string role = r.comments.find("KSK") != std::string::npos   ? "KSK"
                       : r.comments.find("ZSK") != std::string::npos ? "ZSK"
                                                                     : "key";
    std::string tag = key_id_in(r.comments);
    if (tag.empty()) tag = "Unknown";
    key_names_[tag] = r.owner;
    text_ += "    DNSKEY on " + r.owner + " public portion of " + role + " (key tag " + tag +
             ") created with algorithm " + algorithm(field(2)) + " and flags " + field(0) + "\n";
  } else if (r.type == "RRSIG") {
    // type covered, algorithm, labels, original TTL, expiration, inception, key tag, signer
    fetch_signed_ = true;
    text_ += "    RRSIG on " + r.owner + " (" + field(0) + ") signed by " + field(7) +
             " with algorithm " + algorithm(field(1)) + " and key tag " + field(6) +
             " (expiration: " + field(4) + ", injection: " + field(5) + ")\n";
  } else if (r.type == "NSEC") {
    text_ += "    NSEC on " + r.owner + "\n";
  } else if (r.type == "NSEC3") {
    // hash algorithm, flags, iterations, salt, next hashed owner, types
    text_ += "    NSEC3 on " + r.owner + " with hash algorithm " + field(0) + " and SALT field " +
             field(3) + "\n";
  }
}

}  // namespace Network_tools::Delv
