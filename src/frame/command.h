// Starting a shell command (a native tool) and collecting its output and exit status.
#ifndef NETWORK_TOOLS_FRAME_COMMAND_H_
#define NETWORK_TOOLS_FRAME_COMMAND_H_

#include <cstdio>
#include <string>

#include "frame/pipes.h"

namespace Network_tools {

// Runs `command` with /bin/sh -c and returns the stream of its standard output, registered in
// `registry`; callers append " 2>&1" to get the error text too. Returns null (errno set) when
// the command cannot be started. The shell leads a process group of its own, so that the
// whole command can be killed at once, and reads its standard input from /dev/null.
// Every value in `command` that comes from the input must pass through `shell_quote`.
FILE* launch_bash_command(const std::string& command, Pipe_registry& registry = pipes);

// Reads `stream` to its end, closes it, waits for the command and returns everything it
// printed. `exit_status` receives the shell's exit code, or 128 + the signal number when the
// shell itself was killed. For a null stream it returns "" and leaves `exit_status` untouched.
std::string parse_bash_command_output(FILE* stream, int& exit_status,
                                      Pipe_registry& registry = pipes);

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_COMMAND_H_
