// The measured thresholds of the speed code, in one place. Each was set from
// bench/run.sh (side by side with and without the trick it governs) on the
// two-core machine the project is built on; docs/performance.md has the
// figures. Change one only with a bench run that shows it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cubewright::tuning {

/// The output is written in blocks of this size...
inline constexpr std::size_t large_block = std::size_t{1} << 20;
/// ...and in blocks of this size for an input smaller than
/// min_two_formatting_csv, which stay in the processor's cache for the
/// system's copy.
inline constexpr std::size_t small_block = std::size_t{256} << 10;

/// The smallest export whose document two threads format in pieces.
inline constexpr std::size_t min_two_formatting_csv = std::size_t{8} << 20;
/// The same for a .vox file, whose voxels take four bytes each.
inline constexpr std::size_t min_two_formatting_vox = std::size_t{1} << 20;
/// An export's document is cut into pieces of about this many bytes of cells.
inline constexpr std::size_t export_piece_bytes = std::size_t{512} << 10;
/// A grid's document is cut into pieces of whole layers of about this many
/// cells.
inline constexpr std::size_t grid_piece_cells = std::size_t{1} << 16;
/// How long a formatting thread waits awake for its turn, in pauses.
inline constexpr int turn_spins = 20000;

/// The shortest document that two threads read when it is exported.
inline constexpr std::size_t min_read_ahead_document = std::size_t{1} << 20;
/// A document read by two threads is cut into pieces of about this many
/// bytes, at least and at most so many of them...
inline constexpr std::size_t read_ahead_piece_bytes = std::size_t{1} << 20;
inline constexpr std::size_t min_read_ahead_pieces = 4;
inline constexpr std::size_t max_read_ahead_pieces = 64;
/// ...and each piece is read through copies of this many bytes at a time.
inline constexpr std::size_t read_ahead_copy_bytes = std::size_t{1} << 16;

/// The smallest .vox grid whose cells two threads fault in and fill.
inline constexpr std::size_t min_two_filling_grid_bytes = std::size_t{8} << 20;

/// A .vox scene or a model to be written as .vox is put in a dense grid
/// when its box holds at most this many cells...
inline constexpr std::uint64_t dense_slack_cells = std::uint64_t{1} << 20;
/// ...or at most this many cells a voxel beyond them; otherwise its voxels
/// are kept on their own and sorted into walk order.
inline constexpr std::uint64_t dense_cells_per_voxel = 8;

}  // namespace cubewright::tuning
