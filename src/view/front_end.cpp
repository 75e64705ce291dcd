// The dns_experience_view command line.
#include "view/front_end.h"

#include <getopt.h>

#include <string>

#include "view/page.h"
#include "view/result_file.h"
#include "view/waterfall.h"

namespace Network_tools::View {

namespace {

constexpr const char* tool = "dns_experience_view";

constexpr const char* help_text =
    "Usage: dns_experience_view [ -hV ] RESULT.json\n"
    "  -h, --help      print this help and stop\n"
    "  -V, --version   print the version and stop\n";

int fail(std::ostream& err, const std::string& message) {
  err << tool << ": " << message << "\n";
  return 1;
}

}  // namespace

int run_viewer(int argc, char** argv, std::ostream& out, std::ostream& err) {
  static const option long_options[] = {{"help", no_argument, nullptr, 'h'},
                                        {"version", no_argument, nullptr, 'V'},
                                        {nullptr, 0, nullptr, 0}};
  // Messages are this function's own; a new scan starts at the first argument.
  opterr = 0;
  optind = 0;
  while (true) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any other thread starts
    const int option = getopt_long(argc, argv, "hV", long_options, nullptr);
    if (option == -1) break;
    if (option == 'h') {
      out << help_text;
      return out.flush() ? 0 : 1;
    }
    if (option == 'V') {
      out << "DnsExperience viewer " << version << " for Linux\n";
      return out.flush() ? 0 : 1;
    }
    // A short option is named by its letter (it may sit in a cluster), a long one as written.
    const std::string name =
        optopt != 0 ? std::string("-") + static_cast<char>(optopt) : std::string(argv[optind - 1]);
    return fail(err, "unrecognized option " + name + " (dns_experience_view -h lists the options)");
  }
  if (argc - optind != 1) {
    return fail(err, argc == optind
                         ? "no result file given (usage: dns_experience_view "
                           "RESULT.json > result.html)"
                         : "one result file at a time, not " + std::to_string(argc - optind));
  }
  const std::string path = argv[optind];
  try {
    const rapidjson::Document document = load_result(path);
    const std::string page = render_page(read_waterfall(document));
    out << page;
  } catch (const unreadable_result& error) {
    return fail(err, error.what());
  } catch (const not_a_result& error) {
    return fail(err, (path == "-" ? std::string("standard input") : path) +
                         " is not a dns_experience result: " + error.what());
  }
  if (!out.flush()) return fail(err, "cannot write the page");
  return 0;
}

}  // namespace Network_tools::View
