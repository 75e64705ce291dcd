// The exception that carries a reportable test failure, or a help or version text, up to the
// process entry.
#ifndef NETWORK_TOOLS_FRAME_EXCEPTION_H_
#define NETWORK_TOOLS_FRAME_EXCEPTION_H_

#include <exception>
#include <string>
#include <utility>

namespace Network_tools {

// A failure on its way to the process entry, which ends the process with status 1 and prints
// the error JSON (the result document that carries the error) when there is one. Code 0 marks
// a failure that a caller is expected to catch and report in its own words (a malformed URL or
// address); help and version texts travel as `requested_text`, with code 0 too.
class exception : public std::exception {
 public:
  exception(std::string message, int error_code, std::string error_JSON)
      : message_(std::move(message)), error_code_(error_code), error_JSON_(std::move(error_JSON)) {}
  ~exception() override = default;

  // The human-readable message.
  const char* what() const noexcept override { return message_.c_str(); }

  // The serialised result document to print on standard output, or empty.
  virtual const std::string& error_message() const noexcept { return error_JSON_; }

  // 0 for help and version texts and for failures their callers report; any other value is
  // the tool's error code.
  virtual int error_code() const noexcept { return error_code_; }

  // True exactly when there is a result document to print.
  virtual bool need_JSON_output() const noexcept { return !error_JSON_.empty(); }

 private:
  std::string message_;
  int error_code_;
  std::string error_JSON_;
};

// A help or version text on its way to standard output: the one code-0 exception that the
// process entry prints with exit status 0. Any other exception that reaches the entry, whatever
// its code, is a failure.
class requested_text : public exception {
 public:
  explicit requested_text(std::string text) : exception(std::move(text), 0, "") {}
};

// What would end the process ("Fatal error: " or "Internal error: " and the text on standard
// error, status 1), raised instead on a thread that must not end the process itself and carried
// to the one that does (`Network_tools::Wrapper::end_process`). It is no `exception`: no handler
// of test failures takes it for one.
class process_end : public std::exception {
 public:
  enum class kind_t { fatal, internal };
  process_end(kind_t kind, std::string text) : kind_(kind), text_(std::move(text)) {}

  kind_t kind() const noexcept { return kind_; }
  // The text after "Fatal error: " or "Internal error: ".
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  kind_t kind_;
  std::string text_;
};

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_EXCEPTION_H_
