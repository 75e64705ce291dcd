// Prints, for each recording of dig's text named on the command line, the step of the result
// that the Dig wrapper makes of it, as one line: the file's name without folder and extension, a
// tab, and the step as JSON. The seeds of the engine's targets are made of them (fuzz/seeds.py).
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "dig/wrapper.h"
#include "support/harness.h"
#include "wrapper/json_access.h"

using namespace Network_tools;

int main(int argc, char** argv) {
  for (int index = 1; index < argc; ++index) {
    std::ifstream file(argv[index], std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    fuzz::Silent_logger logger;
    Dig::Parameters parameters(fuzz::tool_folder());
    parameters.set_query_type("a");
    parameters.host = "www.lab.test";
    parameters.server = "127.53.4.1";
    parameters.JSON_output = true;
    fuzz::Scripted_tools tools;
    tools.answer = [&text](const std::string&, int&) { return text; };
    Dig::Wrapper wrapper(logger.get(), parameters);
    tools.install(wrapper);
    // A failure's step is a seed as good as an answer's.
    fuzz::run_input([&wrapper] { wrapper.run(); });
    std::cout << std::filesystem::path(argv[index]).stem().string() << '\t'
              << JSON_to_string(*wrapper.test_result().retrieve_data_level_pointer(0, 0, -1))
              << '\n';
  }
  return 0;
}
