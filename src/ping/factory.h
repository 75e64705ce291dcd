// Creation of ping wrappers for callers that run many pings, such as the DNS experience's
// diagnostics.
#ifndef NETWORK_TOOLS_PING_FACTORY_H_
#define NETWORK_TOOLS_PING_FACTORY_H_

#include <memory>

#include "frame/logger.h"
#include "ping/parameters.h"
#include "ping/wrapper.h"

namespace Network_tools::Ping {

// Builds ping wrappers; tests derive from it to hand out wrappers with replaced hooks. It holds
// no state, so one factory serves any number of threads at once.
class WrapperFactory {
 public:
  WrapperFactory() = default;
  virtual ~WrapperFactory() = default;
  WrapperFactory(const WrapperFactory&) = delete;
  WrapperFactory& operator=(const WrapperFactory&) = delete;

  // Stores in `out` (destroying what it held) a new wrapper on `logger` with a copy of
  // `parameters`; its result names the host ("common.results.host.name") when there is one.
  virtual void create(Logger& logger, const Parameters& parameters,
                      std::unique_ptr<Wrapper>& out) const;
};

}  // namespace Network_tools::Ping

#endif  // NETWORK_TOOLS_PING_FACTORY_H_
