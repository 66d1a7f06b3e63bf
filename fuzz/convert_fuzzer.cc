// Feeds arbitrary bytes through the whole in-memory conversion and checks
// the document against a model of the rules written independently here:
// head and tail lines, one voxel line per filled cell token, seven attributes
// in order, colours and positions read back, and line ends that do not matter.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/convert.h"
#include "sproxel_csv/csv_document.h"

namespace {

constexpr std::string_view head = "<model>\n<voxels>\n";
constexpr std::string_view tail = "</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n";

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "property failed: %s: [%.*s]\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

void check(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

// The placement comes from the first bytes without consuming them, so the
// seed files stay plain exports and mutating the header varies the placement.
cubewright::model_placement placement_from(const std::uint8_t* data, std::size_t size) {
  static constexpr std::int32_t offsets[16] = {
      0,      1,        -1,        4,         -2,         100,        -100000,
      999999, 16777216, -16777217, 123456789, -987654321, 2147483647, -2147483647 - 1,
      7,      -7};
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < size && i < 4; ++i) h = (h ^ data[i]) * 16777619u;
  cubewright::model_placement placement;
  placement.axis_factor_x = (h & 1) ? -1.0f : 1.0f;
  placement.axis_factor_y = (h & 2) ? -1.0f : 1.0f;
  placement.axis_factor_z = (h & 4) ? -1.0f : 1.0f;
  placement.offset_x = offsets[(h >> 3) & 15];
  placement.offset_y = offsets[(h >> 7) & 15];
  placement.offset_z = offsets[(h >> 11) & 15];
  return placement;
}

// The fields of an export: a leading UTF-8 byte order mark is dropped, lines
// end at LF with one CR before it belonging to the line end, fields end at
// ","; empty fields do not count.
std::vector<std::string_view> model_tokens(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string_view> tokens;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    for (;;) {
      const std::size_t comma = line.find(',');
      const std::string_view field = line.substr(0, comma);
      if (!field.empty()) tokens.push_back(field);
      if (comma == std::string_view::npos) break;
      line.remove_prefix(comma + 1);
    }
  }
  return tokens;
}

// A colour pair read the way the C library reads base-16 text (white space,
// sign, optional 0x, digits); a pair cut short by the token's end reads what
// is left, and a pair starting past it is 0.
long pair_value(std::string_view token, std::size_t start) {
  if (start >= token.size()) return 0;
  const std::string pair(token.substr(start, 2));
  return std::strtol(pair.c_str(), nullptr, 16);
}

// Header numbers the way atoi reads them, saturated to 32 bits.
std::int64_t header_value(std::string_view token) {
  const std::string text(token);
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return value;
}

// Reads `name="number" ` at the front of `line`; checks the number text has
// the shape six-digit %g output has and returns its value.
double read_attribute(std::string_view& line, std::string_view name) {
  check(line.substr(0, name.size()) == name, "attribute name", line);
  line.remove_prefix(name.size());
  check(line.substr(0, 2) == "=\"", "attribute opening quote", line);
  line.remove_prefix(2);
  const std::size_t close = line.find('"');
  check(close != std::string_view::npos && close > 0, "attribute closing quote", line);
  const std::string text(line.substr(0, close));
  line.remove_prefix(close + 1);
  check(line.substr(0, 1) == " ", "blank after attribute", line);
  line.remove_prefix(1);
  check(text.find_first_not_of("0123456789.e+-") == std::string::npos, "number characters", text);
  check(text != "-0", "negative zero", text);
  std::string mantissa = text.substr(0, text.find('e'));
  const bool has_point = mantissa.find('.') != std::string::npos;
  check(!has_point || (mantissa.back() != '0' && mantissa.back() != '.'), "trailing fraction zero",
        text);
  std::string digits;
  for (char c : mantissa) {
    if (c >= '0' && c <= '9' && !(digits.empty() && c == '0')) digits += c;
  }
  check(digits.size() <= 6, "more than six significant digits", text);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  check(end == text.c_str() + text.size(), "number does not parse", text);
  return value;
}

// Within the rounding to six significant digits (plus the single-precision
// rounding of the value itself, at most `float_error`).
bool close_to(double written, double exact, double float_error) {
  return std::fabs(written - exact) <= 5.000001e-6 * std::fabs(exact) + float_error;
}

std::string with_crlf_line_ends(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

std::string lf_to_crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// A sink that takes at most `budget` bytes: the write that would go past it
// fails, and any write after a failure is itself a fault of the writer.
struct budget_sink_state {
  std::string taken;
  std::size_t budget = 0;
  bool failed = false;
};

bool write_within_budget(void* context, const char* data, std::size_t count) {
  auto* state = static_cast<budget_sink_state*>(context);
  check(!state->failed, "sink written to after it failed");
  check(count != 0, "empty block written");
  if (count > state->budget - state->taken.size()) {
    state->failed = true;
    return false;
  }
  state->taken.append(data, count);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const cubewright::model_placement placement = placement_from(data, size);
  const std::optional<std::string> document = cubewright::export_to_document(text, placement);
  const std::vector<std::string_view> tokens = model_tokens(text);

  check(document.has_value() == (tokens.size() >= 3), "document made iff three header fields");
  if (!document) return 0;
  const std::string_view doc = *document;
  check(doc.size() >= head.size() + tail.size(), "document too short", doc);
  check(doc.substr(0, head.size()) == head, "head lines", doc);
  check(doc.substr(doc.size() - tail.size()) == tail, "tail lines", doc);

  // The walk, modelled: x fastest, then z, then y downward from size_y - 1.
  const std::int64_t size_x = header_value(tokens[0]);
  const std::int64_t size_y = header_value(tokens[1]);
  const std::int64_t size_z = header_value(tokens[2]);
  std::int64_t cell_x = 0;
  std::int64_t cell_y = size_y - 1;
  std::int64_t cell_z = 0;

  std::string_view body = doc.substr(head.size(), doc.size() - head.size() - tail.size());
  for (std::size_t t = 3; t < tokens.size(); ++t) {
    const std::string_view token = tokens[t];
    if (token != "#00000000") {
      const std::size_t lf = body.find('\n');
      check(lf != std::string_view::npos, "fewer voxel lines than filled cells", token);
      std::string_view line = body.substr(0, lf);
      body.remove_prefix(lf + 1);
      check(line.substr(0, 7) == "<voxel ", "voxel line start", line);
      line.remove_prefix(7);
      const double position[3] = {read_attribute(line, "x"), read_attribute(line, "y"),
                                  read_attribute(line, "z")};
      const double colour[3] = {read_attribute(line, "r"), read_attribute(line, "g"),
                                read_attribute(line, "b")};
      check(line == "a=\"1.0\" />", "voxel line end", line);

      const std::int64_t index[3] = {cell_x, cell_y, cell_z};
      const float factor[3] = {placement.axis_factor_x, placement.axis_factor_y,
                               placement.axis_factor_z};
      const std::int32_t offset[3] = {placement.offset_x, placement.offset_y, placement.offset_z};
      for (int a = 0; a < 3; ++a) {
        const double exact = static_cast<double>(index[a]) * factor[a] + offset[a];
        const double float_error =
            0x1p-22 * (std::fabs(static_cast<double>(index[a])) + std::fabs(offset[a]));
        check(close_to(position[a], exact, float_error), "position", token);
      }
      for (int c = 0; c < 3; ++c) {
        const double exact =
            static_cast<double>(pair_value(token, 1 + 2 * static_cast<std::size_t>(c))) / 256.0;
        check(close_to(colour[c], exact, 0.0), "colour", token);
      }
    }
    ++cell_x;
    if (cell_x > size_x - 1) {
      cell_x = 0;
      ++cell_z;
      if (cell_z > size_z - 1) {
        cell_z = 0;
        --cell_y;
      }
    }
  }
  check(body.empty(), "more voxel lines than filled cells", body);

  // Line ends of the input do not matter: every LF that is not already part
  // of a CR LF becomes one. (A CR LF cannot become CR CR LF: only one CR
  // belongs to a line end, so "a\r\r\n" holds the field "a\r".)
  const std::optional<std::string> crlf_document =
      cubewright::export_to_document(with_crlf_line_ends(text), placement);
  check(crlf_document == document, "CR LF input gives another document");

  // The document's own line end is a parameter and changes nothing else.
  const std::optional<std::string> crlf_output =
      cubewright::export_to_document(text, placement, "\r\n");
  check(crlf_output == lf_to_crlf(doc), "CR LF output differs in more than line ends");

  // Block size does not change the document, and a sink that fails stops the
  // writing at once and makes it fail: what it took is a prefix made of whole
  // blocks.
  std::uint32_t h = 0;
  for (std::size_t i = size > 4 ? size - 4 : 0; i < size; ++i) h = h * 31 + data[i];
  const std::size_t block_size = 1 + h % 700;
  const cubewright::token_list token_list = cubewright::read_token_list(text);
  const std::optional<cubewright::grid_size> grid = cubewright::parse_grid_size(token_list);
  check(grid.has_value(), "grid size of a text that converted");
  for (const std::size_t budget : {doc.size(), doc.size() - 1, std::size_t{h % (doc.size() + 1)}}) {
    budget_sink_state state;
    state.budget = budget;
    const cubewright::output_sink sink{&state, &write_within_budget};
    const bool whole =
        cubewright::write_export_document(token_list, *grid, placement, "\n", sink, block_size);
    check(whole == (budget >= doc.size()),
          "write_export_document result against the sink's budget");
    check(whole ? state.taken == doc : doc.substr(0, state.taken.size()) == state.taken,
          "document through small blocks");
  }
  return 0;
}
