// The writer of the voxel model document.
#pragma once

#include <cstddef>
#include <string_view>

#include "voxel_model/output_sink.h"
#include "voxel_model/voxel_record.h"

namespace cubewright {

/// Writes the document through a fixed block (its own, or one the sink lends)
/// in large pieces, so memory does not grow with the model. Every line ends
/// with `line_end`. `block.failed` tells that the sink refused bytes.
struct model_writer {
  output_block block;
  std::string_view line_end;
};

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
