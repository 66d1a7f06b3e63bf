// The conversions themselves, on memory: an input text in, the output's
// bytes out through a sink, and a report of what was converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "sproxel_csv/grid_size.h"
#include "sproxel_csv/token_list.h"
#include "model/cell_voxel.h"
#include "model_document/model_writer.h"

namespace cubewright {

/// Writes the whole document for the tokens of an input whose header gave
/// `size`, through blocks of `block_size` bytes. True when the sink took every
/// byte.
bool write_model(const token_list& tokens, const grid_size& size, const model_placement& placement,
                 std::string_view line_end, output_sink sink,
                 std::size_t block_size = default_block_size);

/// The document for a whole input text, or nothing when the text holds fewer
/// than three fields.
std::optional<std::string> convert_text(std::string_view csv_text, const model_placement& placement,
                                        std::string_view line_end = "\n");

/// What a text holds, as far as its first bytes tell: a model document
/// begins with "<" after an optional byte order mark and white space, a .vox
/// file with "VOX ". Anything else is read as CSV, unless it holds a NUL
/// byte, which no export does.
enum class content_kind { sproxel_csv, model_document, vox, binary };

content_kind recognise_input(std::string_view text);

/// The same without the pass over the whole text for a NUL byte: CSV for
/// anything that is not a document or a .vox file. For a run that checks
/// the text as it reads it (conversion_request::nul_unchecked).
content_kind recognise_input_unchecked(std::string_view text);

/// Whether the text holds a NUL byte anywhere.
bool holds_nul(std::string_view text);

/// What an existing file that is about to be replaced holds, judged from its
/// start: a sproxel export (see looks_like_sproxel_export), a model document,
/// a .vox file, or something else (nothing).
std::optional<content_kind> recognise_existing(std::string_view start);

/// The name of a kind of content for messages: "a sproxel CSV export", ...
std::string_view describe(content_kind kind);

/// The kind of content a format writes.
content_kind written_kind(output_format format);

/// The smallest and largest placed position along each axis.
struct placed_bounds {
  bool empty = true;
  float min[3] = {0, 0, 0};
  float max[3] = {0, 0, 0};
  void add(float x, float y, float z);
};

/// A way to copy bytes of an input text without touching the text itself:
/// `copy(context, offset, out, size)` copies `size` bytes from `offset` on
/// into `out`, or returns false (nothing can be assumed of `out` then).
struct text_copier {
  const void* context = nullptr;
  bool (*copy)(const void* context, std::size_t offset, char* out, std::size_t size) = nullptr;
};

/// One conversion, from an input text to an output format.
struct conversion_request {
  std::string_view text;
  text_copier copier;  // optional: the threads reading a long document copy
                       // windows of it into small buffers with it; where a
                       // copy fails, the text itself is read
  content_kind input = content_kind::sproxel_csv;
  std::string input_path;  // for messages only
  model_placement placement;
  output_format format = output_format::xml;
  std::string_view line_end = "\n";  // of model documents
  bool count = false;                // fill voxel_count and bounds
  bool parallel = false;             // a CSV or .vox input's document in pieces, formatted
  int piece_threads = 2;             // by this many threads (1: the calling thread alone)
  bool read_ahead = false;           // a document input read by two threads
  bool nul_unchecked = false;        // a CSV input not checked for NUL bytes yet: a
                                     // parallel document checks it and fails on one
};

/// What a conversion did.
struct conversion_result {
  bool ok = false;
  bool sink_failed = false;        // the sink refused bytes; it knows why
  std::string failure;             // otherwise, when not ok: the message, without "cubewright: "
  std::vector<std::string> notes;  // on success: lines for standard error, likewise
  std::size_t voxel_count = 0;     // with `count`, writing CSV or .vox, or read_model_cells
  placed_bounds bounds;            // likewise
  std::int32_t grid_min[3] = {0, 0, 0};   // writing CSV: where the export's first cell lies
  std::int32_t grid_size[3] = {0, 0, 0};  // and its size
  std::vector<cell_voxel> placed;         // read_model_cells: the placed voxels
};

/// How a run shares its work between threads.
enum class thread_plan {
  in_turn,         ///< formats and writes on the calling thread
  writing_thread,  ///< formats while a second thread writes each finished block
  two_formatting,  ///< two threads format pieces of the document and write them in turn
};

/// The plan for `request` (`parallel` aside) when the run may start threads,
/// from what was measured: two formatting threads for a large export or
/// .vox file's document; none for a smaller export's, where starting one
/// cost more than it saved; a writing thread for everything else.
thread_plan plan_threads(const conversion_request& request, std::size_t input_size);

/// A document input this long or longer is read by two threads when it is
/// exported (reads_ahead): the 64-a-side model's 3.9 MiB document took
/// 10.9 ms that way and 14.0 ms on one.
inline constexpr std::size_t min_read_ahead_input = std::size_t{1} << 20;

/// Whether `request` may read its input on two threads when the run may
/// start threads: an export of a long document.
bool reads_ahead(const conversion_request& request, std::size_t input_size);

/// The size of the blocks the output of an input of `input_size` bytes is
/// written in: 256 KiB below min_parallel_input, which stay in the
/// processor's cache for the system's copy and spare the fresh memory a
/// small document would not fill (the 32- and 64-a-side models ran 10 to
/// 20 % faster); 1 MiB above, where fewer hand-overs count for more.
std::size_t output_block_size(std::size_t input_size);

/// Converts as requested. The sink gets the bytes of the output; when the
/// result is not ok, what it got is to be thrown away.
conversion_result convert_model(const conversion_request& request, output_sink sink);

/// The cell a picture draws a placed voxel in: the nearest to its position
/// within 32 bits, and its colour bytes.
cell_voxel drawn_cell(const voxel_record& record);

/// The voxels of an input placed as `placement` says (by default as they
/// stand), each on its nearest cell, for drawing: in `placed`, with their
/// count. Nothing is written; a skeleton does not matter here.
conversion_result read_model_cells(std::string_view text, content_kind input,
                                   const std::string& path,
                                   const model_placement& placement = model_placement());

/// The cells an export's grid covers once placed, inclusive: where the
/// cells of its voxels lie, unless it holds more cells than its grid. None
/// when the text has no grid header.
struct cell_box {
  std::int32_t low[3] = {0, 0, 0};
  std::int32_t high[3] = {0, 0, 0};
};
std::optional<cell_box> exported_grid_cells(std::string_view text,
                                            const model_placement& placement);

/// Hands the cells of an export's voxels, placed and in file order, to
/// `take` a few hundred at a time: what read_model_cells keeps, for a caller
/// that need not keep them. Nothing when the text has no grid header.
void for_each_exported_cell(std::string_view text, const model_placement& placement,
                            const std::function<void(const cell_voxel*, std::size_t)>& take);

/// The message for a CSV input without a grid header.
std::string grid_size_failure(const std::string& path);

/// A colour fraction as a byte: round(v * 256), clamped to 0..255.
std::uint8_t colour_byte(float fraction);

}  // namespace cubewright
