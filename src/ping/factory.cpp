// The ping wrapper factory.
#include "ping/factory.h"

namespace Network_tools::Ping {

void WrapperFactory::create(Logger& logger, const Parameters& parameters,
                            std::unique_ptr<Wrapper>& out) const {
  out = std::make_unique<Wrapper>(logger, parameters);
  out->add_min_options();
}

}  // namespace Network_tools::Ping
