// The process-wide logger: time-stamped, tagged lines on standard error, filtered by level.
#ifndef NETWORK_TOOLS_FRAME_LOGGER_H_
#define NETWORK_TOOLS_FRAME_LOGGER_H_

#include <cstdint>
#include <iostream>
#include <string>

namespace Network_tools {

// Importance of a log line; a line is written when its level reaches the logger's minimum.
enum level_t : std::uint8_t {
  LEVEL_DEBUG = 1,
  LEVEL_INFO = 2,
  LEVEL_NOTICE = 3,
  LEVEL_WARNING = 4,
  LEVEL_ERROR = 5,
};

// Writes lines such as
//   [ID=abc] [CACHE] 2023-01-31 23:59:07 - Opened cache storage path successfully.
// The test ID part and the tag part are left out when empty; the time is UTC, whole seconds.
// One logger exists per process; it is created by the process entry and passed by reference.
class Logger {
 public:
  // The sink is standard error outside tests.
  explicit Logger(level_t minimum_level = LEVEL_INFO, std::string ID = "",
                  std::ostream& sink = std::cerr)
      : minimum_level_(minimum_level), ID_(std::move(ID)), sink_(sink) {}

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Writes one line when `level` is at least the minimum level. Threads may call this at the
  // same time: each line goes out in one write.
  void write(level_t level, const std::string& tag, const std::string& message);

  level_t get_minimum_level() const { return minimum_level_; }
  void set_minimum_level(level_t level) { minimum_level_ = level; }

  const std::string& get_ID() const { return ID_; }
  void set_ID(std::string ID) { ID_ = std::move(ID); }

 private:
  level_t minimum_level_;
  std::string ID_;
  std::ostream& sink_;
};

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_LOGGER_H_
