// The base of every tool's parameter set, its exception, and the transport enumeration.
#ifndef NETWORK_TOOLS_WRAPPER_PARAMETERS_H_
#define NETWORK_TOOLS_WRAPPER_PARAMETERS_H_

#include <cstdint>
#include <exception>
#include <string>

namespace Network_tools {

// Transport of a query or probe. Each parameter set accepts its own subset.
enum protocol_t : std::uint8_t {
  protocol_unset = 0,
  protocol_ICMP = 1,
  protocol_TCP = 2,
  protocol_UDP = 3,
  protocol_in_session_TCP = 4,
  protocol_QUIC = 5,
};

// What every tool's parameters have: the native tool to start, the overall time limit and the
// output form. Setters refuse out-of-range values with `Parameters::exception` and keep the old
// value.
class Parameters {
 public:
  // Thrown by setters; the message says what was refused, e.g. "Timeout of 3 under the limit
  // of 5".
  class exception : public std::exception {
   public:
    explicit exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

   private:
    std::string message_;
  };

  // `executable` is the tool's built-in path; a non-empty `tool_folder` (ending in "/")
  // replaces its directory.
  Parameters(std::string executable, std::string tool_folder, std::uint16_t timeout = 10)
      : executable_(std::move(executable)),
        tool_folder_(std::move(tool_folder)),
        timeout_(timeout) {}
  virtual ~Parameters() = default;
  Parameters(const Parameters&) = default;
  Parameters& operator=(const Parameters&) = default;
  Parameters(Parameters&&) = default;
  Parameters& operator=(Parameters&&) = default;

  // The native command line this parameter set describes.
  virtual std::string get_cmd_line() const = 0;

  // The path to start: the built-in path, or the tool folder followed by its file name
  // ("/opt/x/" and "/usr/bin/dig" give "/opt/x/dig").
  std::string get_native_tool_executable() const;

  // Stores `value` seconds when it lies within [minimum, maximum]; otherwise throws
  // "Timeout of 400 over the limit of 300" or "Timeout of 0 under the limit of 1".
  void set_timeout(int value, int minimum, int maximum);
  std::uint16_t get_timeout() const { return timeout_; }

  const std::string& get_executable() const { return executable_; }
  const std::string& get_tool_folder() const { return tool_folder_; }

  // Whether the tool prints its result as JSON (else as raw text).
  bool JSON_output = false;
  // Run mode of a ping: 1 normal, 0 packet-loss violation check, 2 continuation.
  std::uint8_t packet_loss_mode = 1;

 protected:
  std::string executable_;
  std::string tool_folder_;
  std::uint16_t timeout_;
};

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_WRAPPER_PARAMETERS_H_
