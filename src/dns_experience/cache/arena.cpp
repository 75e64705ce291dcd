// Huge-page-backed blocks for the cache's arena.
#include "dns_experience/cache/arena.h"

#include <sys/mman.h>

#include <new>

namespace Network_tools::DNS_experience {
namespace {

constexpr std::size_t page_size = 4096;

// A block of a huge page or more is made of whole huge pages; a smaller one of whole pages.
std::size_t rounded_up(std::size_t bytes) {
  const std::size_t unit =
      bytes >= Huge_page_resource::block_size / 2 ? Huge_page_resource::block_size : page_size;
  return (bytes + unit - 1) / unit * unit;
}

}  // namespace

void* Huge_page_resource::do_allocate(std::size_t bytes, std::size_t alignment) {
  // Mappings are page aligned, which covers every alignment the arena asks for.
  if (alignment > page_size) throw std::bad_alloc();
  const std::size_t size = rounded_up(bytes);
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::bad_alloc();
  // Only advice: without huge pages the block works the same, with more page faults. A small
  // block stays on small pages: zeroing a huge page for a cache of a few entries would cost
  // more than all its page faults.
  if (size >= block_size) madvise(block, size, MADV_HUGEPAGE);
  return block;
}

void Huge_page_resource::do_deallocate(void* block, std::size_t bytes, std::size_t) {
  munmap(block, rounded_up(bytes));
}

Huge_page_resource& huge_page_resource() {
  static Huge_page_resource resource;
  return resource;
}

}  // namespace Network_tools::DNS_experience
