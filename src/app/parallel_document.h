// The document of a large model written by two threads: each takes the next
// piece of it that nobody has taken, formats it and writes it in its turn.
#pragma once

#include <cstddef>
#include <string_view>

#include "sproxel_csv/grid_size.h"
#include "sproxel_csv/token_list.h"
#include "io/output_sink.h"
#include "model/voxel_grid.h"
#include "model/voxel_record.h"

namespace cubewright {

/// The cells are cut into pieces of about this many bytes, at line starts.
inline constexpr std::size_t document_piece_size = std::size_t{512} << 10;

/// The smallest input worth two formatting threads. Below it, starting and
/// feeding a second thread costs more than it saves: on the two-core test
/// machine a 2.5 MiB export took 2 to 3 ms longer that way.
inline constexpr std::size_t min_parallel_input = std::size_t{8} << 20;

/// The same for a .vox file, whose voxels take four bytes each.
inline constexpr std::size_t min_parallel_vox_input = std::size_t{1} << 20;

/// Writes the same bytes as write_model, to a sink whose `write` is called
/// from either thread, one call at a time and in document order.
///
/// A piece's cells start where the previous piece's end, and only the walk
/// of that piece knows where that is. So a piece is formatted from where an
/// exported file's regular lines say it starts, and checked when its turn
/// comes: if the previous piece ended elsewhere, the piece is formatted
/// again from there before anything of it is written. Each thread holds one
/// block of `default_block_size` bytes; a piece whose document outgrows it
/// waits for its turn and writes as it goes. The first write the sink refuses
/// stops both threads. With `threads` 1, or when no second thread can be
/// started, the calling thread writes every piece. With `check_nul`, each
/// thread also checks the bytes of its pieces for a NUL before it formats
/// them, so that the check costs no pass of its own, and the run stops at
/// the first piece that holds one. True when the sink took the whole
/// document (and no NUL was found).
bool write_model_in_parallel(const token_list& tokens, const grid_size& size,
                             const model_placement& placement, std::string_view line_end,
                             output_sink sink, bool check_nul = false, int threads = 2);

/// Writes the same bytes as the document of `grid`'s voxels placed by
/// `placement`, in walk order, to a sink as above. The pieces are whole
/// layers of the grid, so where each starts is known.
bool write_grid_in_parallel(const voxel_grid& grid, const model_placement& placement,
                            std::string_view line_end, output_sink sink, int threads = 2);

}  // namespace cubewright
