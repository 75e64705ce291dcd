// The dns_experience_view command: options, the result file, the page on standard output.
#ifndef NETWORK_TOOLS_VIEW_FRONT_END_H_
#define NETWORK_TOOLS_VIEW_FRONT_END_H_

#include <ostream>

namespace Network_tools::View {

inline constexpr const char* version = "1.16.7.2";

// Runs dns_experience_view with the command line `argc`/`argv`: writes the page of the result
// file named there to `out`, or the help or version text. Returns the exit status: 0, or 1
// after one line on `err` saying what went wrong (an unknown option, a missing or second file,
// a file that is no readable dns_experience result, a failed write).
int run_viewer(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace Network_tools::View

#endif  // NETWORK_TOOLS_VIEW_FRONT_END_H_
