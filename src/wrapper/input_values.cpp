// Input value checks.
#include "wrapper/input_values.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "frame/ip.h"
#include "frame/system.h"
#include "frame/utf8.h"

namespace Network_tools {
namespace {

// The record types dig can ask for by name (IXFR needs a serial, "ixfr=N", and is left out).
constexpr std::array<std::string_view, 90> record_types = {
    "a",          "a6",     "aaaa",  "afsdb",      "amtrelay", "any",      "apl",      "atma",
    "avc",        "axfr",   "caa",   "cdnskey",    "cds",      "cert",     "cname",    "csync",
    "dhcid",      "dlv",    "dname", "dnskey",     "doa",      "ds",       "eid",      "eui48",
    "eui64",      "gid",    "gpos",  "hinfo",      "hip",      "https",    "ipseckey", "isdn",
    "key",        "kx",     "l32",   "l64",        "loc",      "lp",       "maila",    "mailb",
    "mb",         "md",     "mf",    "mg",         "minfo",    "mr",       "mx",       "naptr",
    "nid",        "nimloc", "ninfo", "ns",         "nsap",     "nsap-ptr", "nsec",     "nsec3",
    "nsec3param", "null",   "nxt",   "openpgpkey", "opt",      "ptr",      "px",       "resinfo",
    "rkey",       "rp",     "rrsig", "rt",         "sig",      "sink",     "smimea",   "soa",
    "spf",        "srv",    "sshfp", "svcb",       "ta",       "talink",   "tkey",     "tlsa",
    "tsig",       "txt",    "uid",   "uinfo",      "unspec",   "uri",      "wallet",   "wks",
    "x25",        "zonemd",
};

bool is_label_character(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
}

bool is_label(std::string_view label) {
  if (label == "*") return true;
  return !label.empty() && label.size() <= 63 && label.front() != '-' &&
         std::all_of(label.begin(), label.end(), is_label_character);
}

bool is_DNS_name(std::string_view name) {
  if (name == ".") return true;
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  while (true) {
    const std::size_t dot = name.find('.');
    if (!is_label(name.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    name.remove_prefix(dot + 1);
  }
}

}  // namespace

std::string host_problem(std::string_view value, std::string_view role) {
  std::string_view name = value;
  if (name.size() > 1 && name.back() == '.') name.remove_suffix(1);
  if (name.size() > max_host_name_length) return "Host name too long: " + shown_value(value);
  if (IP::is_address(std::string(value)) || is_DNS_name(value)) return "";
  return "Invalid " + std::string(role) + " [" + shown_value(value) +
         "]: not a DNS name or an IP address";
}

std::string query_type_problem(std::string_view value) {
  if (value.empty()) return "";
  const std::string type = to_lower_case(std::string(value));
  if (std::find(record_types.begin(), record_types.end(), type) != record_types.end()) return "";
  if (type.size() > 4 && type.size() <= 9 && type.compare(0, 4, "type") == 0) {
    unsigned number = 0;
    const char* end = type.data() + type.size();
    const auto [stop, error] = std::from_chars(type.data() + 4, end, number);
    if (error == std::errc() && stop == end && number <= 65535) return "";
  }
  return "Invalid query type [" + shown_value(value) + "]: not a DNS record type";
}

std::string text_problem(std::string_view label, std::string_view value, std::size_t max_length) {
  const std::string start = std::string(label) + " [" + shown_value(value) + "]";
  if (value.size() > max_length) {
    return start + " over the limit of " + std::to_string(max_length) + " bytes";
  }
  if (!is_valid_UTF8(value)) return start + " is not valid UTF-8";
  const bool control = std::any_of(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '\x7f';
  });
  if (control) return start + " holds a control character";
  return "";
}

std::string shown_value(std::string_view value) {
  constexpr std::size_t shown_length = 64;
  std::string shown;
  for (const char c : value.substr(0, shown_length)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      shown += c;
    } else {
      shown += format_text("\\x%02x", byte);
    }
  }
  if (value.size() > shown_length) shown += "...";
  return shown;
}

}  // namespace Network_tools
