// Huge-page-backed blocks for the cache's arena.
#include "dns_experience/cache/arena.h"

#include <sys/mman.h>

#include <new>

namespace Network_tools::DNS_experience {
namespace {

std::size_t rounded_up(std::size_t bytes) {
  return (bytes + Huge_page_resource::block_size - 1) / Huge_page_resource::block_size *
         Huge_page_resource::block_size;
}

}  // namespace

void* Huge_page_resource::do_allocate(std::size_t bytes, std::size_t alignment) {
  // Mappings are page aligned, which covers every alignment the arena asks for.
  if (alignment > 4096) throw std::bad_alloc();
  void* block =
      mmap(nullptr, rounded_up(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::bad_alloc();
  // Only advice: without huge pages the block works the same, with more page faults.
  madvise(block, rounded_up(bytes), MADV_HUGEPAGE);
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
