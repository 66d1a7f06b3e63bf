// The writer of the voxel model document.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "voxel_model/voxel_record.h"

namespace cubewright {

/// Where the document's bytes go. `write` is called with each full block and
/// with the rest at the end; it returns false when the bytes could not be
/// stored, and is then never called again for that document.
struct output_sink {
  void* context = nullptr;
  bool (*write)(void* context, const char* data, std::size_t size) = nullptr;
};

/// Writes the document through a fixed buffer in large blocks, so memory does
/// not grow with the model. Every line ends with `line_end`.
struct model_writer {
  output_sink sink;
  std::string_view line_end;
  std::vector<char> buffer;
  std::size_t used = 0;
  bool failed = false;
};

inline constexpr std::size_t default_block_size = std::size_t{1} << 20;

model_writer open_model_writer(output_sink sink, std::string_view line_end,
                               std::size_t block_size = default_block_size);

/// "<model>" and "<voxels>".
void write_head(model_writer& writer);

/// One "<voxel .../>" line.
void write_voxel(model_writer& writer, const voxel_record& record);

/// The four closing lines, then every byte still buffered goes to the sink.
/// True only when the sink took the whole document.
bool write_tail(model_writer& writer);

}  // namespace cubewright
