// The ping tool: one ping through the traceroute build, its failures and its parsed result.
#ifndef NETWORK_TOOLS_PING_WRAPPER_H_
#define NETWORK_TOOLS_PING_WRAPPER_H_

#include <cstdint>
#include <stdexcept>
#include <streambuf>
#include <string>

#include "frame/logger.h"
#include "ping/errors.h"
#include "ping/parameters.h"
#include "wrapper/wrapper.h"

namespace Network_tools::Ping {

// Why an in-session TCP ping fell back (or would have fallen back) to TCP SYN; 0 is none.
enum fall_back_reason_t : std::uint16_t {
  no_fall_back = 0,
  tcp_sack_not_permitted = 1,
  malformed_sack_option = 2,
  unexpected_overlap_of_sack_intervals = 3,
  cannot_complete_initial_tcp_handshake = 4,
  missing_sack_option = 5,
  unknown_sack_problem = 6,
};

// The key of `reason` under "qv-ping.results.", e.g. "fall-back-reason.missing-sack-option".
std::string fall_back_reason_key(fall_back_reason_t reason);

// Runs one ping and turns the tool's text into round-trip times, error codes and the
// counters that let a run stopped by a packet-loss violation be continued. Every wrapper owns
// all of its state, so that many can run at once on different threads.
class Wrapper : public Network_tools::Wrapper {
 public:
  static constexpr const char* version = "1.16.7.2";

  // A wrapper for `parameters`, as the DNS experience's diagnostics create it.
  Wrapper(Logger& logger, const Parameters& parameters);
  // The stand-alone tool from command-line arguments (options as in `help_message`). Bad
  // options end the process; -h and -V throw `Network_tools::exception` with code 0 and the
  // text.
  Wrapper(int argc, char** argv, Logger& logger, const std::string& tool_folder);
  // The stand-alone tool from the JSON test document on `input`; JSON output is on.
  Wrapper(Logger& logger, const std::string& tool_folder, std::basic_streambuf<char>* input);

  // Fills the result from the tool's text (see output_parser.cpp for the lines it reads).
  void output_to_JSON(const std::string& native_output) override;
  std::string help_message() const override;
  // "Ping wrapper 1.16.7.2 for Linux\nQV_traceroute version: " and the tool's version.
  std::string version_message() const override;
  void handle_option(const JSON_member& member) override;
  void handle_setting(const JSON_member& member) override;
  void add_min_options() override;
  std::string get_capability_related_to_setting(const std::string& setting) const override;
  // Checks the destination and the protocol, imports a stopped run's counters and picks the
  // address family that the destination has.
  void input_sanity_check() override;
  // Runs the tool (falling back from in-session TCP when allowed) and returns the JSON result,
  // or the ping-like text when JSON output is off.
  std::string run() override;

  // The first two lines of a traceroute text, made to read like ping's:
  //   "ping to h (a), 128 hops max, ..." / "128  a  0.1 ms" becomes "... 128 ttl, ..." / " a  0.1
  //   ms"
  static std::string pingify(const std::string& text);

  // The meaning of an ICMP unreachable annotation ("H" gives "Host unreachable", "13" gives
  // "ICMP unreachable code 13"); throws std::invalid_argument for anything else.
  static std::string destination_unreachable_details(const std::string& code);

  // Fails the ping: records the error (and, for 12, 1005, 1006, 1008 and 1013, its details) at
  // result 0, step 0 and throws `Network_tools::exception`.
  [[noreturn]] void throw_exception(err_t code, const std::string& message);
  // "Fatal error: " + message + " (" + key + ")" on standard error; exit status 1.
  [[noreturn]] static void throw_fatal_error(err_t code, const std::string& message);

  // Inside another tool, such as the DNS experience's ping diagnostics, a ping that cannot go on
  // must fail that ping only. With this set, what would end the process (a missing or
  // forbidden native tool, an exit status or a text that cannot be interpreted) throws
  // `Network_tools::exception` instead, with the message and key the fatal line would show.
  void set_failures_contained(bool contained) { failures_contained_ = contained; }

  const Parameters& get_parameters() const { return parameters_; }
  fall_back_reason_t get_fall_back_reason() const { return fall_back_reason_; }
  err_t get_error_code() const { return error_code_; }

 private:
  // Applies the command-line options; fatal errors for bad ones.
  void parse_arguments(int argc, char** argv);
  // Fails the capability being applied as a wrong argument value when `problem` is not empty.
  void refuse_if(const std::string& problem);
  // Reads a stopped run's counters back from the imported result.
  void import_partial_results();
  // The destination's address family decides IPv4 or IPv6.
  void check_destination();
  // Runs the command line once; returns its text and exit status.
  std::string launch(int& exit_status);
  // Reads the tool's text into the result; a text it cannot read throws the parser's own
  // failure, which `output_to_JSON` turns into an internal error.
  void read_output(const std::string& native_output);
  // The ends of a run that cannot go on: the fatal or internal error of a stand-alone ping, an
  // exception when failures are contained.
  [[noreturn]] void fail_fatally(err_t code, const std::string& message) const;
  [[noreturn]] void fail_internally(const std::string& message) const;

  Parameters parameters_;
  fall_back_reason_t fall_back_reason_ = no_fall_back;
  err_t error_code_ = err_t::none;
  bool failures_contained_ = false;
};

}  // namespace Network_tools::Ping

#endif  // NETWORK_TOOLS_PING_WRAPPER_H_
