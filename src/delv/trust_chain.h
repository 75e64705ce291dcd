// The readable trust chain built from the records that delv prints while it validates.
#ifndef NETWORK_TOOLS_DELV_TRUST_CHAIN_H_
#define NETWORK_TOOLS_DELV_TRUST_CHAIN_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace Network_tools::Delv {

// Reads delv's trace line by line and describes every DS, DNSKEY, RRSIG, NSEC and NSEC3 record
// of class IN that it fetched, one indented line each, e.g.
//   DNSKEY on lab.test. public portion of KSK (key tag 30931) created with algorithm
//   ECDSAP256SHA256 (13) and flags 257
// Traced records are commented out (";lab.test. 134 IN DNSKEY 257 3 13 (") and may continue
// over further commented lines up to the closing parenthesis. A fetched record set without any
// signature is reported as "RRSIG missing for record A" once the next name is fetched.
class Trust_chain {
 public:
  // Takes the next line of the trace.
  void add_line(const std::string& line);

  // Ends a record still open at the end of the trace.
  void finish() {
    if (reading_record_) finish_record();
  }

  // The chain so far, one line-end-terminated line per record.
  const std::string& text() const { return text_; }

 private:
  // A record being read: owner, type, its data fields and the text of its comments.
  struct record {
    std::string owner;
    std::string type;
    std::vector<std::string> fields;
    std::string comments;
    int open_parentheses = 0;
  };

  // Starts a record when `line` is a traced record line of class IN.
  bool start_record(const std::string& line);
  // Adds the data and comment of `text` (record data without the leading ";") to the record.
  void add_record_data(std::string_view text);
  // Writes the chain line of the finished record.
  void finish_record();
  // Notes the start of a fetch (";; fetch: lab.test/DNSKEY").
  void start_fetch(const std::string& name, const std::string& type);

  std::string text_;
  bool reading_record_ = false;
  record record_;
  // Owner names of the keys seen so far, by key tag, for the DS lines.
  std::map<std::string, std::string> key_names_;
  bool fetching_ = false;
  std::string fetch_name_;
  std::string fetch_type_;
  bool fetch_signed_ = false;
};

}  // namespace Network_tools::Delv

#endif  // NETWORK_TOOLS_DELV_TRUST_CHAIN_H_
