// The byte form of a cached answer's servers and outputs, shared by memory and the storage file.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_ANSWER_RECORD_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_ANSWER_RECORD_H_

#include <string>
#include <string_view>
#include <vector>

#include "dns_experience/cache/binary_stream.h"
#include "dns_experience/records.h"

namespace Network_tools::DNS_experience::answer_record {

// A record holds, as in the storage file after an answer's hostname and expiration: each server
// (hostname, 0x00, address type 2 or 10 or 0, 4 or 16 or 0 address bytes in network order,
// resolution time as 4 bytes), 0x0A, then the raw and the JSON output, each as a 4-byte length
// and its bytes.

// True when the storage file can hold `hostname`: at most 256 characters, no 0x00 or 0x0A.
bool is_storable_hostname(const std::string& hostname);

// True when every server has a storable, non-empty hostname and both outputs fit a 4-byte length.
bool is_storable(const std::vector<ServerInfo>& name_servers, const std::string& raw_output,
                 const std::string& json_output);

// The record of a storable answer.
std::string encode(const std::vector<ServerInfo>& name_servers, const std::string& raw_output,
                   const std::string& json_output);

// A record taken apart; the outputs point into the record.
struct Decoded {
  std::vector<ServerInfo> name_servers;
  std::string_view raw_output;
  std::string_view json_output;
};

// Takes apart a record made by `encode` or `read`.
Decoded decode(std::string_view record);

// Reads one record from the storage file, appending it to `record` in the form `encode` gives
// (a hostname ended by 0x0A is stored ended by 0x00, an unknown address type as type 0 without
// address). Throws InternalInputOutError naming the field that could not be read.
void read(Byte_reader& reader, std::string& record);

}  // namespace Network_tools::DNS_experience::answer_record

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_ANSWER_RECORD_H_
