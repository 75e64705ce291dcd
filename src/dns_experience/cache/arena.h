// The memory behind the cache's arena: large blocks, backed by huge pages where the system
// offers them.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_ARENA_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_ARENA_H_

#include <cstddef>
#include <memory_resource>

namespace Network_tools::DNS_experience {

// Hands out whole blocks mapped from the system; those of 1 MiB or more are rounded up to 2 MiB
// and advised to use transparent huge pages: loading a large cache then costs a few hundred page
// faults instead of tens of thousands. Meant as the upstream of a monotonic buffer resource that
// starts small (`first_block_size`) and grows. Thread-safe.
class Huge_page_resource : public std::pmr::memory_resource {
 public:
  // Size of one huge page, and of the smallest block worth asking for.
  static constexpr std::size_t block_size = std::size_t{2} << 20;
  // The first block of an arena: a cache of a few hundred entries fits, and it costs a few
  // page faults where a huge page would cost the zeroing of 2 MiB.
  static constexpr std::size_t first_block_size = std::size_t{64} << 10;

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
};

// The one instance; it holds no state.
Huge_page_resource& huge_page_resource();

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_ARENA_H_
