#include "voxel_model/model_writer.h"

#include <cstring>

#include "voxel_model/format_number.h"

namespace cubewright {
namespace {

// Room for the longest voxel line: fixed text, six numbers and a line end.
constexpr std::size_t max_line = 64 + 6 * max_number_text + 16;

// Makes room for one line; returns where it goes.
char* reserve_line(model_writer& writer) { return reserve_output(writer.block, max_line); }

void end_line(model_writer& writer, const char* end) {
  writer.block.used = static_cast<std::size_t>(end - writer.block.data);
}

char* append(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

void write_line(model_writer& writer, std::string_view text) {
  char* out = reserve_line(writer);
  out = append(out, text);
  out = append(out, writer.line_end);
  end_line(writer, out);
}

char* append_attribute(char* out, std::string_view name, float value) {
  out = append(out, name);
  out += format_number(value, out);
  *out++ = '"';
  *out++ = ' ';
  return out;
}

}  // namespace

model_writer open_model_writer(output_sink sink, std::string_view line_end,
                               std::size_t block_size) {
  model_writer writer;
  writer.block = open_output_block(sink, block_size, max_line);
  writer.line_end = line_end;
  return writer;
}

void write_head(model_writer& writer) {
  write_line(writer, "<model>");
  write_line(writer, "<voxels>");
}

void write_voxel(model_writer& writer, const voxel_record& record) {
  char* out = reserve_line(writer);
  out = append(out, "<voxel ");
  out = append_attribute(out, "x=\"", record.x);
  out = append_attribute(out, "y=\"", record.y);
  out = append_attribute(out, "z=\"", record.z);
  out = append_attribute(out, "r=\"", record.r);
  out = append_attribute(out, "g=\"", record.g);
  out = append_attribute(out, "b=\"", record.b);
  out = append(out, "a=\"1.0\" />");
  if (writer.line_end.size() == 1) {
    *out++ = writer.line_end[0];  // LF: a store, where a copy of unknown size is a call
  } else {
    out = append(out, writer.line_end);
  }
  end_line(writer, out);
}

bool write_tail(model_writer& writer) {
  write_line(writer, "</voxels>");
  write_line(writer, "<skeleton />");
  write_line(writer, "<skeletonVoxelBindings />");
  write_line(writer, "</model>");
  flush_output_block(writer.block);
  return !writer.block.failed;
}

}  // namespace cubewright
