// The exception that carries a reportable test failure, or a help or version text, up to the
// process entry.
#ifndef NETWORK_TOOLS_FRAME_EXCEPTION_H_
#define NETWORK_TOOLS_FRAME_EXCEPTION_H_

#include <exception>
#include <string>

namespace Network_tools {

// A failure on its way to the process entry. Code 0 is no error at all: help and version texts
// travel this way and are printed with exit status 0. Any other code ends the process with
// status 1, printing the error JSON (the result document that carries the error) when there is
// one.
class exception : public std::exception {
 public:
  exception(std::string message, int error_code, std::string error_JSON)
      : message_(std::move(message)), error_code_(error_code), error_JSON_(std::move(error_JSON)) {}
  ~exception() override = default;

  // The human-readable message.
  const char* what() const noexcept override { return message_.c_str(); }

  // The serialised result document to print on standard output, or empty.
  virtual const std::string& error_message() const noexcept { return error_JSON_; }

  // 0 for help and version texts; any other value is an error.
  virtual int error_code() const noexcept { return error_code_; }

  // True exactly when there is a result document to print.
  virtual bool need_JSON_output() const noexcept { return !error_JSON_.empty(); }

 private:
  std::string message_;
  int error_code_;
  std::string error_JSON_;
};

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_EXCEPTION_H_
