// Memory the system may back with large pages: advice for big blocks that
// are filled once, where fresh pages cost more than the work done on them.
#pragma once

#include <cstddef>

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

}  // namespace cubewright
