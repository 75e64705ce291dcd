// dns_experience_view: the waterfall of a dns_experience result as one HTML page.
#include <iostream>

#include "view/front_end.h"

int main(int argc, char** argv) {
  return Network_tools::View::run_viewer(argc, argv, std::cout, std::cerr);
}
