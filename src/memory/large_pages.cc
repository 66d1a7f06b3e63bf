#include "memory/large_pages.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace cubewright {

void advise_large_pages(void* data, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // The whole large pages inside the block.
  const std::size_t offset = reinterpret_cast<std::uintptr_t>(data) % large_page_size;
  const std::size_t skipped = offset == 0 ? 0 : large_page_size - offset;
  if (size <= skipped) return;
  const std::size_t whole = (size - skipped) / large_page_size * large_page_size;
  if (whole != 0) madvise(static_cast<char*>(data) + skipped, whole, MADV_HUGEPAGE);
#else
  static_cast<void>(data);
  static_cast<void>(size);
#endif
}

void* allocate_in_large_pages(std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (size >= min_large_page_block && size <= SIZE_MAX - large_page_size) {
    const std::size_t whole = (size + large_page_size - 1) / large_page_size * large_page_size;
    void* block = nullptr;
    if (posix_memalign(&block, large_page_size, whole) != 0) return nullptr;
    madvise(block, whole, MADV_HUGEPAGE);
    return block;
  }
#endif
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace cubewright
