#include "model_document/model_writer.h"

#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "text/format_number.h"

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

namespace {

// Slots of fixed size, each ending with the size of the text it holds, so a
// line is put together by copies whose size the compiler knows.
constexpr std::size_t x_slot = 32;       // "<voxel x=\"" number "\" y=\""
constexpr std::size_t colour_slot = 64;  // r's 16 bytes, g's 16, b's 32
constexpr std::size_t r_part = 0;
constexpr std::size_t g_part = 16;
constexpr std::size_t b_part = 32;
constexpr std::size_t row_slot = sizeof(grid_line_writer::row_text);
constexpr std::size_t grid_line_room = x_slot + row_slot + 16 + 16 + 32;
static_assert(grid_line_room <= max_line, "a grid line fits the room a line may take");

// Writes `texts` one after the other into a slot of `slot_size` bytes and
// keeps the total in its last byte; false when they do not fit before it.
bool fill_slot(char* slot, std::size_t slot_size, std::initializer_list<std::string_view> texts) {
  std::size_t size = 0;
  for (std::string_view text : texts) {
    if (text.size() >= slot_size - size) return false;
    std::memcpy(slot + size, text.data(), text.size());
    size += text.size();
  }
  slot[slot_size - 1] = static_cast<char>(size);
  return true;
}

std::string_view number_text(float value, char (&text)[max_number_text]) {
  return {text, format_number(value, text)};
}

// The text of an x index, into its slot. An x index's text never outgrows
// its slot: the fixed text and the longest number fit.
static_assert(10 + max_number_text + 5 < x_slot, "an x index's text fits its slot");
void fill_x_slot(grid_line_writer& lines, char* slot, std::int64_t x) {
  const model_placement& placement = lines.placement;
  char text[max_number_text];
  const float placed = place_index(x, placement.axis_factor_x, placement.offset_x);
  fill_slot(slot, x_slot, {"<voxel x=\"", number_text(placed, text), "\" y=\""});
}

void update_row(grid_line_writer& lines, std::int64_t y, std::int64_t z) {
  const model_placement& placement = lines.placement;
  char y_text[max_number_text];
  char z_text[max_number_text];
  char* out = lines.row_text;
  out =
      append(out, number_text(place_index(y, placement.axis_factor_y, placement.offset_y), y_text));
  out = append(out, "\" z=\"");
  out =
      append(out, number_text(place_index(z, placement.axis_factor_z, placement.offset_z), z_text));
  out = append(out, "\" r=\"");
  lines.row_size = static_cast<std::size_t>(out - lines.row_text);
  lines.row_y = y;
  lines.row_z = z;
  lines.row_known = true;
}

}  // namespace

bool open_grid_line_writer(grid_line_writer& lines, model_writer& writer,
                           const model_placement& placement, std::int64_t x_first,
                           std::int64_t x_count) {
  if (x_count < 1 || x_count > grid_line_max_x_count) return false;
  lines.x_first = x_first;
  lines.writer = &writer;
  lines.placement = placement;
  lines.x_count = x_count;
  lines.row_known = false;
  char text[max_number_text];
  bool fits = true;
  // Each x index's text is made the first time it is used: a slot whose
  // size is still 0 is empty, as no text is.
  lines.x_texts.assign(static_cast<std::size_t>(x_count) * x_slot, '\0');
  lines.colour_texts.assign(256 * colour_slot, '\0');
  for (std::size_t k = 0; k < 256; ++k) {
    const std::string_view fraction = number_text(static_cast<float>(k) * 0.00390625f, text);
    char* slot = &lines.colour_texts[k * colour_slot];
    fits &= fill_slot(slot + r_part, g_part - r_part, {fraction, "\" g=\""});
    fits &= fill_slot(slot + g_part, b_part - g_part, {fraction, "\" b=\""});
    fits &= fill_slot(slot + b_part, colour_slot - b_part,
                      {fraction, "\" a=\"1.0\" />", writer.line_end});
  }
  return fits;
}

void write_grid_voxel(grid_line_writer& lines, std::int64_t x, std::int64_t y, std::int64_t z,
                      std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  if (!lines.row_known || y != lines.row_y || z != lines.row_z) update_row(lines, y, z);
  model_writer& writer = *lines.writer;
  char* out = reserve_output(writer.block, grid_line_room);
  const auto copy_slot = [&out](const char* slot, auto size_constant) {
    constexpr std::size_t size = decltype(size_constant)::value;
    std::memcpy(out, slot, size);
    out += static_cast<unsigned char>(slot[size - 1]);
  };
  char* x_text = &lines.x_texts[static_cast<std::size_t>(x - lines.x_first) * x_slot];
  if (x_text[x_slot - 1] == 0) fill_x_slot(lines, x_text, x);
  copy_slot(x_text, std::integral_constant<std::size_t, x_slot>{});
  std::memcpy(out, lines.row_text, row_slot);
  out += lines.row_size;
  const char* colours = lines.colour_texts.data();
  copy_slot(colours + std::size_t{r} * colour_slot + r_part,
            std::integral_constant<std::size_t, g_part - r_part>{});
  copy_slot(colours + std::size_t{g} * colour_slot + g_part,
            std::integral_constant<std::size_t, b_part - g_part>{});
  copy_slot(colours + std::size_t{b} * colour_slot + b_part,
            std::integral_constant<std::size_t, colour_slot - b_part>{});
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
