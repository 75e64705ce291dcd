// Native executable checks and version queries.
#include "wrapper/native_tool.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "frame/pipes.h"
#include "frame/shell_quote.h"

namespace Network_tools {

std::string errno_text(int error) {
  return std::to_string(error) + " - " + std::generic_category().message(error);
}

std::string native_tool_problem(const std::string& path) {
  struct stat information {};
  if (stat(path.c_str(), &information) == 0) return "";
  return "Native tool " + path + " problem. Error: " + errno_text(errno);
}

std::string run_native_command(const std::string& command,
                               const Wrapper::command_launcher_t& launcher,
                               const Wrapper::command_reader_t& reader, Logger& logger,
                               int& exit_status) {
  FILE* stream = launcher(command, pipes);
  if (stream == nullptr) {
    logger.write(LEVEL_WARNING, "WARNING", "FILE* was nullptr. Error: " + errno_text(errno));
  }
  return reader(stream, exit_status);
}

std::string bind_tool_version(const std::string& path, const Wrapper::command_launcher_t& launcher,
                              const Wrapper::command_reader_t& reader, Logger& logger) {
  if (!native_tool_problem(path).empty()) return "N/A\n";
  int exit_status = 0;
  return run_native_command(shell_quote(path) + " -v 2>&1 | awk '{print $2}'", launcher, reader,
                            logger, exit_status);
}

}  // namespace Network_tools
