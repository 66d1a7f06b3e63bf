// The conversion itself, on memory: tokens in, document out through a sink.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "csv_input/grid_size.h"
#include "csv_input/token_list.h"
#include "voxel_model/model_writer.h"

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

}  // namespace cubewright
