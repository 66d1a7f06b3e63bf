// A model document written in pieces by up to two threads: each takes the
// next piece that nobody has taken, formats it and writes it in its turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "io/output_sink.h"
#include "model/placed_model.h"
#include "model/voxel_grid.h"
#include "model_document/model_writer.h"

namespace cubewright {

/// What a document written in pieces is made of: how many pieces, where each
/// is expected to start, and the lines of each.
class piece_source {
 public:
  virtual ~piece_source() = default;
  virtual std::size_t count() const = 0;
  virtual cell_cursor expected_start(std::size_t index) const = 0;
  // Writes the lines of piece `index` from `cursor` on, through `lines` when
  // `tabled`, else through write_voxel; leaves the cursor where the next
  // piece starts.
  virtual void write(std::size_t index, cell_cursor& cursor, model_writer& writer,
                     grid_line_writer& lines, bool tabled) const = 0;
  // Whether the input of piece `index` is to be refused: it holds a NUL byte
  // that nothing checked before.
  virtual bool refused(std::size_t index) const {
    static_cast<void>(index);
    return false;
  }
};

/// Writes the document of `source`'s pieces to a sink whose `write` is
/// called from either thread, one call at a time and in document order, on
/// `threads` threads (1 or 2; 1 also when no second thread can be started).
///
/// A piece is formatted from where its source expects it to start, and
/// checked when its turn comes: if the previous piece ended elsewhere, the
/// piece is formatted again from there before anything of it is written.
/// Each thread holds one block of `default_block_size` bytes; a piece whose
/// document outgrows it waits for its turn and writes as it goes. The first
/// write the sink refuses, or the first piece the source refuses, stops both
/// threads. The line texts cover `x_count` cells from placed x `x_first`.
/// True when the sink took the whole document.
bool write_in_pieces(const piece_source& source, const model_placement& placement,
                     std::string_view line_end, std::int64_t x_first, std::int64_t x_count,
                     output_sink sink, int threads);

/// Writes the document of `grid`'s voxels placed by `placement`, in walk
/// order, as write_in_pieces does. The pieces are whole layers of the grid,
/// so where each starts is known.
bool write_grid_document_in_pieces(const voxel_grid& grid, const model_placement& placement,
                                   std::string_view line_end, output_sink sink, int threads = 2);

}  // namespace cubewright
