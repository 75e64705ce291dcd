// Encoding, decoding and reading of cached answer records.
#include "dns_experience/cache/answer_record.h"

#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace Network_tools::DNS_experience::answer_record {
namespace {

// Address types of the file: the Linux address family numbers.
constexpr std::uint8_t type_IPv4 = 2;
constexpr std::uint8_t type_IPv6 = 10;
constexpr std::uint8_t type_none = 0;
static_assert(AF_INET == type_IPv4 && AF_INET6 == type_IPv6);

constexpr char end_of_servers = '\n';

template <typename T>
void append_value(std::string& record, T value) {
  record.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T take_value(std::string_view record, std::size_t& position) {
  T value;
  std::memcpy(&value, record.data() + position, sizeof value);
  position += sizeof value;
  return value;
}

void append_output(std::string& record, const std::string& output) {
  append_value(record, static_cast<std::uint32_t>(output.size()));
  record.append(output);
}

std::string_view take_output(std::string_view record, std::size_t& position) {
  const auto size = take_value<std::uint32_t>(record, position);
  const std::string_view output(record.data() + position, size);
  position += size;
  return output;
}

void read_output(Byte_reader& reader, std::string& record) {
  const auto size = reader.read_value<std::uint32_t>("serialized string length");
  append_value(record, size);
  reader.append(record, size, "serialized string");
}

}  // namespace

bool is_storable_hostname(const std::string& hostname) {
  return hostname.size() <= max_stored_hostname_length &&
         hostname.find_first_of(std::string_view("\0\n", 2)) == std::string::npos;
}

bool is_storable(const std::vector<ServerInfo>& name_servers, const std::string& raw_output,
                 const std::string& json_output) {
  constexpr std::size_t max_output = std::numeric_limits<std::uint32_t>::max();
  for (const ServerInfo& server : name_servers) {
    // An empty name would read back as the end of the server list.
    if (server.hostname.empty() || !is_storable_hostname(server.hostname)) return false;
  }
  return raw_output.size() <= max_output && json_output.size() <= max_output;
}

std::string encode(const std::vector<ServerInfo>& name_servers, const std::string& raw_output,
                   const std::string& json_output) {
  std::size_t size = 1 + 8 + raw_output.size() + json_output.size();
  for (const ServerInfo& server : name_servers) size += server.hostname.size() + 22;
  std::string record;
  record.reserve(size);
  for (const ServerInfo& server : name_servers) {
    record.append(server.hostname).push_back('\0');
    const int family = server.address.get_family();
    const auto* bytes = reinterpret_cast<const char*>(server.address.get_bytes().data());
    if (family == AF_INET) {
      record.push_back(static_cast<char>(type_IPv4));
      record.append(bytes, 4);
    } else if (family == AF_INET6) {
      record.push_back(static_cast<char>(type_IPv6));
      record.append(bytes, 16);
    } else {
      record.push_back(static_cast<char>(type_none));
    }
    append_value(record, server.resolution_time_ms);
  }
  record.push_back(end_of_servers);
  append_output(record, raw_output);
  append_output(record, json_output);
  return record;
}

Decoded decode(std::string_view record) {
  Decoded decoded;
  std::size_t position = 0;
  while (record[position] != end_of_servers) {
    ServerInfo& server = decoded.name_servers.emplace_back();
    const std::size_t name_end = record.find('\0', position);
    server.hostname.assign(record.substr(position, name_end - position));
    position = name_end + 1;
    const auto type = static_cast<std::uint8_t>(record[position++]);
    if (type == type_IPv4 || type == type_IPv6) {
      server.address = IP::Address(type, record.data() + position);
      position += type == type_IPv4 ? 4 : 16;
    }
    server.resolution_time_ms = take_value<std::int32_t>(record, position);
  }
  ++position;
  decoded.raw_output = take_output(record, position);
  decoded.json_output = take_output(record, position);
  return decoded;
}

void read(Byte_reader& reader, std::string& record) {
  while (reader.append_hostname(record) > 0) {
    record.push_back('\0');
    auto type = reader.read_value<std::uint8_t>("address type");
    if (type == type_IPv4) {
      record.push_back(static_cast<char>(type));
      reader.append(record, 4, "address v4");
    } else if (type == type_IPv6) {
      record.push_back(static_cast<char>(type));
      reader.append(record, 16, "address v6");
    } else {
      record.push_back(static_cast<char>(type_none));
    }
    append_value(record, reader.read_value<std::int32_t>("name resolution time milliseconds"));
  }
  record.push_back(end_of_servers);
  read_output(reader, record);
  read_output(reader, record);
}

}  // namespace Network_tools::DNS_experience::answer_record
