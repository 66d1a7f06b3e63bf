#include "app/conversion.h"

#include "voxel_model/cell_walk.h"

namespace cubewright {

bool write_model(const token_list& tokens, const grid_size& size, const model_placement& placement,
                 std::string_view line_end, output_sink sink, std::size_t block_size) {
  model_writer writer = open_model_writer(sink, line_end, block_size);
  write_head(writer);
  walk_cells(tokens, size, placement,
             [&writer](const voxel_record& record) { write_voxel(writer, record); });
  return write_tail(writer);
}

std::optional<std::string> convert_text(std::string_view csv_text, const model_placement& placement,
                                        std::string_view line_end) {
  const token_list tokens = read_token_list(csv_text);
  const std::optional<grid_size> size = parse_grid_size(tokens);
  if (!size) return std::nullopt;
  std::string document;
  output_sink sink;
  sink.context = &document;
  sink.write = [](void* context, const char* data, std::size_t count) {
    static_cast<std::string*>(context)->append(data, count);
    return true;
  };
  // The string grows anyway, so a small block does as well as a large one and
  // spares zero-filling a megabyte for every document (which made fuzzing
  // a hundred times slower).
  constexpr std::size_t string_block_size = std::size_t{1} << 16;
  write_model(tokens, *size, placement, line_end, sink, string_block_size);
  return document;
}

}  // namespace cubewright
