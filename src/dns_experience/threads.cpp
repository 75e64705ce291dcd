// The engine's pools of threads: the caller and the threads it starts share one piece of work,
// which takes its items from a shared counter.
#include <exception>
#include <thread>
#include <vector>

#include "dns_experience/wrapper.h"

namespace Network_tools::DNS_experience {

void Wrapper::run_on_threads(std::size_t threads, const std::function<void()>& work,
                             const std::string& tag, const std::string& name,
                             const std::string& fallback) const {
  std::vector<std::thread> workers;
  workers.reserve(threads);
  for (std::size_t started = 1; started < threads; ++started) {
    try {
      std::thread worker = thread_starter_(work);
      if (worker.joinable()) workers.push_back(std::move(worker));
    } catch (const std::exception& failure) {
      // The items are taken from the shared counter, not given to a thread: those this thread
      // would have taken go to the threads already running and to this one.
      logger_.write(LEVEL_WARNING, tag,
                    "Cannot start " + name + " thread " + std::to_string(started + 1) + " of " +
                        std::to_string(threads) + ": " + failure.what() + ". " + fallback);
      break;
    }
  }
  work();
  for (std::thread& worker : workers) worker.join();
}

}  // namespace Network_tools::DNS_experience
