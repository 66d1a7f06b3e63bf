// Memory the system may back with large pages: advice for big blocks that
// are filled once, where fresh pages cost more than the work done on them.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace cubewright {

/// The large pages advise_large_pages asks for.
inline constexpr std::size_t large_page_size = std::size_t{2} << 20;

/// Asks the system to back the whole large pages inside `data`..`data` +
/// `size`, memory not touched yet, with 2 MiB pages when it is first touched:
/// each fresh page costs a fault, and on the machine the benchmarks ran on
/// small pages took about a millisecond a MiB, large ones a tenth of that.
/// Advice only, for blocks of several MiB: nothing changes where the system
/// has none to give (on Windows large pages need a privilege users lack).
void advise_large_pages(void* data, std::size_t size);

/// The smallest block allocate_in_large_pages puts in large pages: an
/// eighth of one, whose 64 small pages cost more to fault in than one large
/// page (on the machine the benchmarks ran on, about ten microseconds each).
inline constexpr std::size_t min_large_page_block = large_page_size / 8;

/// `size` bytes of uninitialised memory, to be freed with std::free; null
/// when there is none. Where the system has large pages to give (Linux),
/// a block of min_large_page_block or more starts at a large page boundary
/// and is advised to be backed by them throughout, up to whole large pages
/// (a block that started anywhere else would keep small pages up to its
/// first boundary, each costing its own fault).
void* allocate_in_large_pages(std::size_t size);

/// An allocator of allocate_in_large_pages, for vectors filled once. What
/// such a vector grows by with resize(n) is left uninitialised, as `new T`
/// leaves it, rather than cleared: it is written before it is read, and
/// clearing it first would cost a pass over the whole block. A value given
/// (resize(n, value), assign) is written as usual.
template <typename T>
struct large_page_allocator {
  using value_type = T;
  large_page_allocator() = default;
  template <typename U>
  explicit large_page_allocator(const large_page_allocator<U>&) {}
  T* allocate(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
    void* block = allocate_in_large_pages(count * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t) noexcept { std::free(block); }
  template <typename U>
  void construct(U* place) noexcept(std::is_nothrow_default_constructible<U>::value) {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Arguments>
  void construct(U* place, Arguments&&... arguments) {
    ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
  }
  friend bool operator==(const large_page_allocator&, const large_page_allocator&) { return true; }
  friend bool operator!=(const large_page_allocator&, const large_page_allocator&) { return false; }
};

}  // namespace cubewright
