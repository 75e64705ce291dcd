// Checks and version queries of the native executables that the wrappers start.
#ifndef NETWORK_TOOLS_WRAPPER_NATIVE_TOOL_H_
#define NETWORK_TOOLS_WRAPPER_NATIVE_TOOL_H_

#include <string>

#include "wrapper/wrapper.h"

namespace Network_tools {

// "2 - No such file or directory" for errno 2; unlike strerror, safe on several threads.
std::string errno_text(int error);

// "" when `path` can be found with stat, otherwise the message for the missing-tool failure:
// "Native tool /opt/x/QV_dig problem. Error: 2 - No such file or directory".
std::string native_tool_problem(const std::string& path);

// Runs `command` through the launcher and reader hooks and returns everything it printed; logs
// the "FILE* was nullptr" warning when the command cannot be started, in which case
// `exit_status` keeps the value the caller gave it.
std::string run_native_command(const std::string& command,
                               const Wrapper::command_launcher_t& launcher,
                               const Wrapper::command_reader_t& reader, Logger& logger,
                               int& exit_status);

// The version of the dig or delv build at `path` ("9.18.49-1~deb12u3-Debian\n"), read from
// `path -v` through the hooks, or "N/A\n" when the executable is missing.
std::string bind_tool_version(const std::string& path, const Wrapper::command_launcher_t& launcher,
                              const Wrapper::command_reader_t& reader, Logger& logger);

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_WRAPPER_NATIVE_TOOL_H_
