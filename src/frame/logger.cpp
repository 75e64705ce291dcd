// Formatting and writing of log lines.
#include "frame/logger.h"

#include <time.h>

#include <array>

namespace Network_tools {

void Logger::write(level_t level, const std::string& tag, const std::string& message) {
  if (level < minimum_level_) return;

  std::string line;
  line.reserve(message.size() + ID_.size() + tag.size() + 32);
  if (!ID_.empty()) line.append("[ID=").append(ID_).append("] ");
  if (!tag.empty()) line.append("[").append(tag).append("] ");

  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  std::array<char, 32> stamp{};
  const std::size_t length = strftime(stamp.data(), stamp.size(), "%Y-%m-%d %H:%M:%S", &utc);
  line.append(stamp.data(), length).append(" - ").append(message).append("\n");

  // Built first and written once, so that lines of concurrent threads do not mix.
  sink_.write(line.data(), static_cast<std::streamsize>(line.size()));
  sink_.flush();
}

}  // namespace Network_tools
