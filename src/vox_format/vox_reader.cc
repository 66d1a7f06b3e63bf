#include "vox_format/vox_reader.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace cubewright {
namespace {

// The palette of a file without an RGBA chunk, as 0xRRGGBB by colour index;
// index 0 is never a voxel.
constexpr std::uint32_t default_palette[256] = {
    0x000000, 0xffffff, 0xffffcc, 0xffff99, 0xffff66, 0xffff33, 0xffff00, 0xffccff, 0xffcccc,
    0xffcc99, 0xffcc66, 0xffcc33, 0xffcc00, 0xff99ff, 0xff99cc, 0xff9999, 0xff9966, 0xff9933,
    0xff9900, 0xff66ff, 0xff66cc, 0xff6699, 0xff6666, 0xff6633, 0xff6600, 0xff33ff, 0xff33cc,
    0xff3399, 0xff3366, 0xff3333, 0xff3300, 0xff00ff, 0xff00cc, 0xff0099, 0xff0066, 0xff0033,
    0xff0000, 0xccffff, 0xccffcc, 0xccff99, 0xccff66, 0xccff33, 0xccff00, 0xccccff, 0xcccccc,
    0xcccc99, 0xcccc66, 0xcccc33, 0xcccc00, 0xcc99ff, 0xcc99cc, 0xcc9999, 0xcc9966, 0xcc9933,
    0xcc9900, 0xcc66ff, 0xcc66cc, 0xcc6699, 0xcc6666, 0xcc6633, 0xcc6600, 0xcc33ff, 0xcc33cc,
    0xcc3399, 0xcc3366, 0xcc3333, 0xcc3300, 0xcc00ff, 0xcc00cc, 0xcc0099, 0xcc0066, 0xcc0033,
    0xcc0000, 0x99ffff, 0x99ffcc, 0x99ff99, 0x99ff66, 0x99ff33, 0x99ff00, 0x99ccff, 0x99cccc,
    0x99cc99, 0x99cc66, 0x99cc33, 0x99cc00, 0x9999ff, 0x9999cc, 0x999999, 0x999966, 0x999933,
    0x999900, 0x9966ff, 0x9966cc, 0x996699, 0x996666, 0x996633, 0x996600, 0x9933ff, 0x9933cc,
    0x993399, 0x993366, 0x993333, 0x993300, 0x9900ff, 0x9900cc, 0x990099, 0x990066, 0x990033,
    0x990000, 0x66ffff, 0x66ffcc, 0x66ff99, 0x66ff66, 0x66ff33, 0x66ff00, 0x66ccff, 0x66cccc,
    0x66cc99, 0x66cc66, 0x66cc33, 0x66cc00, 0x6699ff, 0x6699cc, 0x669999, 0x669966, 0x669933,
    0x669900, 0x6666ff, 0x6666cc, 0x666699, 0x666666, 0x666633, 0x666600, 0x6633ff, 0x6633cc,
    0x663399, 0x663366, 0x663333, 0x663300, 0x6600ff, 0x6600cc, 0x660099, 0x660066, 0x660033,
    0x660000, 0x33ffff, 0x33ffcc, 0x33ff99, 0x33ff66, 0x33ff33, 0x33ff00, 0x33ccff, 0x33cccc,
    0x33cc99, 0x33cc66, 0x33cc33, 0x33cc00, 0x3399ff, 0x3399cc, 0x339999, 0x339966, 0x339933,
    0x339900, 0x3366ff, 0x3366cc, 0x336699, 0x336666, 0x336633, 0x336600, 0x3333ff, 0x3333cc,
    0x333399, 0x333366, 0x333333, 0x333300, 0x3300ff, 0x3300cc, 0x330099, 0x330066, 0x330033,
    0x330000, 0x00ffff, 0x00ffcc, 0x00ff99, 0x00ff66, 0x00ff33, 0x00ff00, 0x00ccff, 0x00cccc,
    0x00cc99, 0x00cc66, 0x00cc33, 0x00cc00, 0x0099ff, 0x0099cc, 0x009999, 0x009966, 0x009933,
    0x009900, 0x0066ff, 0x0066cc, 0x006699, 0x006666, 0x006633, 0x006600, 0x0033ff, 0x0033cc,
    0x003399, 0x003366, 0x003333, 0x003300, 0x0000ff, 0x0000cc, 0x000099, 0x000066, 0x000033,
    0xee0000, 0xdd0000, 0xbb0000, 0xaa0000, 0x880000, 0x770000, 0x550000, 0x440000, 0x220000,
    0x110000, 0x00ee00, 0x00dd00, 0x00bb00, 0x00aa00, 0x008800, 0x007700, 0x005500, 0x004400,
    0x002200, 0x001100, 0x0000ee, 0x0000dd, 0x0000bb, 0x0000aa, 0x000088, 0x000077, 0x000055,
    0x000044, 0x000022, 0x000011, 0xeeeeee, 0xdddddd, 0xbbbbbb, 0xaaaaaa, 0x888888, 0x777777,
    0x555555, 0x444444, 0x222222, 0x111111,
};

// Where a read stopped and why; an empty `what` is no damage.
struct damage {
  std::string what;
  std::size_t offset = 0;
};

// A little-endian cursor over one chunk's content. Every read checks the end
// first, so a count or size in the file can never make it read past it.
struct byte_reader {
  std::string_view bytes;  // the whole file, for offsets
  std::size_t pos = 0;
  std::size_t end = 0;

  bool has(std::size_t count) const { return end - pos >= count; }

  bool read_i32(std::int32_t& value) {
    if (!has(4)) return false;
    value = static_cast<std::int32_t>(load_u32(pos));
    pos += 4;
    return true;
  }

  bool read_string(std::string_view& value) {
    std::int32_t size = 0;
    if (!read_i32(size) || size < 0 || !has(static_cast<std::size_t>(size))) return false;
    value = bytes.substr(pos, static_cast<std::size_t>(size));
    pos += static_cast<std::size_t>(size);
    return true;
  }

  std::uint32_t load_u32(std::size_t at) const {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
  }
};

// The values of the keys a reader looks for in a dictionary; a key missing
// from it leaves its value empty.
struct dictionary_values {
  std::string_view hidden;
  std::string_view rotation;
  std::string_view translation;
  std::string_view frame;
};

bool read_dictionary(byte_reader& in, dictionary_values& values) {
  std::int32_t count = 0;
  if (!in.read_i32(count) || count < 0) return false;
  // Each pair takes at least eight bytes, so a huge count ends at the chunk's
  // end after a bounded number of steps.
  for (std::int32_t i = 0; i < count; ++i) {
    std::string_view key;
    std::string_view value;
    if (!in.read_string(key) || !in.read_string(value)) return false;
    if (key == "_hidden") values.hidden = value;
    if (key == "_r") values.rotation = value;
    if (key == "_t") values.translation = value;
    if (key == "_f") values.frame = value;
  }
  return true;
}

// A signed decimal integer in 32 bits, the whole of `text`.
bool parse_int32(std::string_view text, std::int32_t& value) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  if (i == text.size()) return false;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > (std::int64_t{1} << 31)) return false;
  }
  const std::int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(signed_value);
  return true;
}

// A rotation with one non-zero entry, 1 or -1, in every row and column:
// row i has `sign[i]` in column `column[i]`.
struct rotation {
  std::array<int, 3> column = {0, 1, 2};
  std::array<int, 3> sign = {1, 1, 1};
};

bool parse_rotation(std::string_view text, rotation& r) {
  std::int32_t bits = 0;
  if (!parse_int32(text, bits) || bits < 0 || bits > 127) return false;
  const int first = bits & 3;
  const int second = (bits >> 2) & 3;
  if (first == 3 || second == 3 || first == second) return false;
  r.column = {first, second, 3 - first - second};
  for (int row = 0; row < 3; ++row)
    r.sign[static_cast<std::size_t>(row)] = (bits >> (4 + row)) & 1 ? -1 : 1;
  return true;
}

// Three integers separated by single spaces.
bool parse_translation(std::string_view text, std::array<std::int64_t, 3>& t) {
  for (std::size_t axis = 0; axis < 3; ++axis) {
    const std::size_t space = axis < 2 ? text.find(' ') : std::string_view::npos;
    if (axis < 2 && space == std::string_view::npos) return false;
    std::int32_t value = 0;
    if (!parse_int32(text.substr(0, space), value)) return false;
    t[axis] = value;
    text.remove_prefix(axis < 2 ? space + 1 : text.size());
  }
  return true;
}

// A model: its size and its XYZI records, still in the file's bytes.
struct vox_model {
  std::array<std::int32_t, 3> size = {0, 0, 0};
  std::size_t records = 0;  // offset of the first (x, y, z, index) record
  std::uint32_t record_count = 0;
  std::uint32_t voxel_count = 0;  // records with a colour index other than 0
};

enum class node_kind { transform, group, shape };

// A scene node. Its children (node ids, or model ids for a shape) are the
// range [first_child, first_child + child_count) of the scene's reference list.
struct scene_node {
  std::int32_t id = 0;
  node_kind kind = node_kind::group;
  std::size_t offset = 0;
  std::uint32_t first_child = 0;
  std::uint32_t child_count = 0;
  bool hidden = false;
  std::int32_t layer = -1;
  rotation turn;
  std::array<std::int64_t, 3> translation = {0, 0, 0};
};

// A reference from a node to a node or model, with where it stands in the
// file; `target` becomes an index into the nodes once they are all read.
struct reference {
  std::int32_t target = 0;
  std::size_t offset = 0;
};

// What the walk needs of a node besides the node itself, found once per
// node however often the scene references it.
struct node_totals {
  std::uint64_t voxels = 0;
  std::uint64_t visits = 0;
  enum { unseen, on_path, done } state = unseen;
};

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

struct vox_file {
  std::string_view bytes;
  std::vector<vox_model> models;
  std::vector<scene_node> nodes;
  std::vector<reference> references;
  std::vector<std::int32_t> hidden_layers;  // ids of layers whose nodes are left out
  std::array<std::array<std::uint8_t, 3>, 256> palette{};
  bool has_transform = false;
  std::vector<std::int32_t> frames_seen;    // every frame number a node names
  std::vector<std::int32_t> frames_placed;  // those a node places
};

// A frame's number: its `_f`, 0 without one. False when `_f` is no number.
bool frame_number(const dictionary_values& values, std::int32_t& number) {
  number = 0;
  return values.frame.empty() || parse_int32(values.frame, number);
}

damage read_model_size(byte_reader in, std::size_t chunk_offset, vox_model& model) {
  for (std::size_t axis = 0; axis < 3; ++axis) {
    if (!in.read_i32(model.size[axis])) return {"model size past its chunk", chunk_offset};
    // The sizes are unsigned in the file: one past 2^31 - 1 reads negative.
    if (model.size[axis] < 0) return {"model size too large", in.pos - 4};
    if (model.size[axis] == 0) return {"model size of 0", in.pos - 4};
  }
  return {};
}

damage read_model_voxels(byte_reader in, vox_model& model) {
  std::int32_t count = 0;
  if (!in.read_i32(count)) return {"voxel count past its chunk", in.pos};
  if (count < 0 || !in.has(std::size_t{4} * static_cast<std::uint32_t>(count)))
    return {"voxel count past its chunk", in.pos - 4};
  model.records = in.pos;
  model.record_count = static_cast<std::uint32_t>(count);
  const auto* p = reinterpret_cast<const unsigned char*>(in.bytes.data()) + in.pos;
  const auto sx = static_cast<unsigned>(model.size[0]);
  const auto sy = static_cast<unsigned>(model.size[1]);
  const auto sz = static_cast<unsigned>(model.size[2]);
  std::uint32_t voxels = 0;
  for (std::uint32_t i = 0; i < model.record_count; ++i, p += 4) {
    if (p[0] >= sx || p[1] >= sy || p[2] >= sz)
      return {"voxel outside its model size", in.pos + std::size_t{4} * i};
    if (p[3] != 0) ++voxels;
  }
  model.voxel_count = voxels;
  return {};
}

damage read_palette(byte_reader in, std::size_t chunk_offset, vox_file& file) {
  if (!in.has(1024)) return {"palette past its chunk", chunk_offset};
  // Colour index i is entry i - 1; the last entry has no index.
  for (std::size_t i = 1; i < 256; ++i) {
    const std::size_t at = in.pos + 4 * (i - 1);
    for (std::size_t c = 0; c < 3; ++c)
      file.palette[i][c] = static_cast<std::uint8_t>(in.bytes[at + c]);
  }
  return {};
}

damage read_node(byte_reader in, std::size_t chunk_offset, node_kind kind, vox_file& file) {
  scene_node node;
  node.kind = kind;
  node.offset = chunk_offset;
  dictionary_values attributes;
  if (!in.read_i32(node.id)) return {"node id past its chunk", chunk_offset};
  if (node.id < 0) return {"negative node id", in.pos - 4};
  const std::size_t dictionary_offset = in.pos;
  if (!read_dictionary(in, attributes)) return {"bad dictionary", dictionary_offset};
  node.hidden = attributes.hidden == "1";
  node.first_child = static_cast<std::uint32_t>(file.references.size());
  if (kind == node_kind::transform) {
    std::int32_t child = 0;
    std::int32_t reserved = 0;
    std::int32_t frames = 0;
    const std::size_t child_offset = in.pos;
    if (!in.read_i32(child) || !in.read_i32(reserved) || !in.read_i32(node.layer) ||
        !in.read_i32(frames))
      return {"transform node past its chunk", chunk_offset};
    if (frames < 0) return {"negative frame count", in.pos - 4};
    file.references.push_back({child, child_offset});
    // Of several frames, the one of the lowest number, the first on a tie.
    dictionary_values shown;
    std::size_t shown_offset = 0;
    std::int32_t shown_number = 0;
    for (std::int32_t i = 0; i < frames; ++i) {
      dictionary_values frame;
      const std::size_t frame_offset = in.pos;
      if (!read_dictionary(in, frame)) return {"bad dictionary", frame_offset};
      std::int32_t number = 0;
      if (!frame_number(frame, number)) return {"bad frame number", frame_offset};
      file.frames_seen.push_back(number);
      if (i == 0 || number < shown_number) {
        shown = frame;
        shown_offset = frame_offset;
        shown_number = number;
      }
    }
    if (frames > 0) {
      file.frames_placed.push_back(shown_number);
      if (!shown.rotation.empty() && !parse_rotation(shown.rotation, node.turn))
        return {"bad rotation", shown_offset};
      if (!shown.translation.empty() && !parse_translation(shown.translation, node.translation))
        return {"bad translation", shown_offset};
    }
  } else {
    std::int32_t count = 0;
    if (!in.read_i32(count)) return {"child count past its chunk", chunk_offset};
    // A group's children take four bytes each, a shape's models at least eight.
    const std::size_t least = kind == node_kind::group ? 4 : 8;
    if (count < 0 || (in.end - in.pos) / least < static_cast<std::uint32_t>(count))
      return {"child count past its chunk", in.pos - 4};
    // A shape's models each name a frame; those of the lowest number are
    // placed.
    std::vector<std::int32_t> numbers;
    for (std::int32_t i = 0; i < count; ++i) {
      reference child{0, in.pos};
      if (!in.read_i32(child.target)) return {"child past its chunk", in.pos};
      std::int32_t number = 0;
      if (kind == node_kind::shape) {
        dictionary_values model;
        const std::size_t model_dictionary = in.pos;
        if (!read_dictionary(in, model)) return {"bad dictionary", model_dictionary};
        if (!frame_number(model, number)) return {"bad frame number", model_dictionary};
      }
      numbers.push_back(number);
      file.references.push_back(child);
    }
    if (kind == node_kind::shape && count > 0) {
      const std::int32_t lowest = *std::min_element(numbers.begin(), numbers.end());
      std::size_t kept = node.first_child;
      for (std::size_t i = 0; i < numbers.size(); ++i) {
        file.frames_seen.push_back(numbers[i]);
        if (numbers[i] == lowest) file.references[kept++] = file.references[node.first_child + i];
      }
      file.references.resize(kept);
      file.frames_placed.push_back(lowest);
    }
  }
  node.child_count = static_cast<std::uint32_t>(file.references.size()) - node.first_child;
  file.nodes.push_back(node);
  return {};
}

damage read_layer(byte_reader in, std::size_t chunk_offset, vox_file& file) {
  std::int32_t id = 0;
  dictionary_values attributes;
  if (!in.read_i32(id)) return {"layer id past its chunk", chunk_offset};
  const std::size_t dictionary_offset = in.pos;
  if (!read_dictionary(in, attributes)) return {"bad dictionary", dictionary_offset};
  if (attributes.hidden == "1") file.hidden_layers.push_back(id);
  return {};
}

// Reads the children of MAIN, [begin, end) of the file.
damage read_chunks(std::size_t begin, std::size_t end, vox_file& file) {
  byte_reader in{file.bytes, begin, end};
  bool size_pending = false;
  std::size_t size_offset = 0;
  while (in.pos < end) {
    const std::size_t chunk_offset = in.pos;
    if (!in.has(12)) return {"chunk header past its parent", chunk_offset};
    const std::string_view id = file.bytes.substr(in.pos, 4);
    in.pos += 4;
    std::int32_t content = 0;
    std::int32_t children = 0;
    in.read_i32(content);
    in.read_i32(children);
    if (content < 0 || children < 0) return {"negative chunk size", chunk_offset + 4};
    const auto content_size = static_cast<std::size_t>(content);
    const auto children_size = static_cast<std::size_t>(children);
    if (!in.has(content_size) || !in.has(content_size + children_size))
      return {"chunk past its parent", chunk_offset};
    const byte_reader content_reader{file.bytes, in.pos, in.pos + content_size};
    in.pos += content_size + children_size;

    damage found;
    if (id == "SIZE") {
      if (size_pending) return {"model size without its voxels", size_offset};
      file.models.emplace_back();
      found = read_model_size(content_reader, chunk_offset, file.models.back());
      size_pending = true;
      size_offset = chunk_offset;
    } else if (id == "XYZI") {
      if (!size_pending) return {"voxels without a model size", chunk_offset};
      found = read_model_voxels(content_reader, file.models.back());
      size_pending = false;
    } else if (id == "RGBA") {
      found = read_palette(content_reader, chunk_offset, file);
    } else if (id == "nTRN") {
      file.has_transform = true;
      found = read_node(content_reader, chunk_offset, node_kind::transform, file);
    } else if (id == "nGRP") {
      found = read_node(content_reader, chunk_offset, node_kind::group, file);
    } else if (id == "nSHP") {
      found = read_node(content_reader, chunk_offset, node_kind::shape, file);
    } else if (id == "LAYR") {
      found = read_layer(content_reader, chunk_offset, file);
    }
    if (!found.what.empty()) return found;
  }
  if (size_pending) return {"model size without its voxels", size_offset};
  return {};
}

// One placement of a subtree: the rotation and the translation that the
// nodes above it compose to.
struct placement {
  rotation turn;
  std::array<std::int64_t, 3> translation = {0, 0, 0};
};

placement compose(const placement& parent, const scene_node& child) {
  placement result;
  for (std::size_t row = 0; row < 3; ++row) {
    const auto via = static_cast<std::size_t>(parent.turn.column[row]);
    result.turn.column[row] = child.turn.column[via];
    result.turn.sign[row] = parent.turn.sign[row] * child.turn.sign[via];
    result.translation[row] =
        parent.translation[row] + parent.turn.sign[row] * child.translation[via];
  }
  return result;
}

class scene_walk {
 public:
  scene_walk(const vox_file& file, const vox_read_limits& limits, vox_scene_visitor& visitor)
      : file_(file), limits_(limits), visitor_(visitor), totals_(file.nodes.size()) {}

  // Resolves node ids, checks the scene below node 0 for cycles and bounds,
  // then places its voxels.
  damage run();
  std::uint64_t placements() const { return placements_; }

 private:
  damage resolve_references();
  damage count(std::uint32_t node, std::uint32_t depth);
  damage place_node(std::uint32_t node, const placement& above);
  damage place_model(const vox_model& model, const placement& where, std::size_t offset);

  const vox_file& file_;
  const vox_read_limits& limits_;
  vox_scene_visitor& visitor_;
  std::vector<node_totals> totals_;
  std::vector<std::uint32_t> targets_;  // resolved index of every reference
  std::uint32_t root_ = 0;
  std::uint64_t placements_ = 0;
};

damage scene_walk::resolve_references() {
  std::vector<std::pair<std::int32_t, std::uint32_t>> by_id;
  by_id.reserve(file_.nodes.size());
  for (std::uint32_t i = 0; i < file_.nodes.size(); ++i) by_id.emplace_back(file_.nodes[i].id, i);
  std::sort(by_id.begin(), by_id.end());
  for (std::size_t i = 1; i < by_id.size(); ++i) {
    if (by_id[i].first == by_id[i - 1].first)
      return {"node " + std::to_string(by_id[i].first) + " defined twice",
              file_.nodes[std::max(by_id[i].second, by_id[i - 1].second)].offset};
  }
  targets_.resize(file_.references.size());
  for (const scene_node& node : file_.nodes) {
    for (std::uint32_t i = node.first_child; i < node.first_child + node.child_count; ++i) {
      const reference& ref = file_.references[i];
      if (node.kind == node_kind::shape) {
        if (ref.target < 0 || static_cast<std::size_t>(ref.target) >= file_.models.size())
          return {"model " + std::to_string(ref.target) + " does not exist", ref.offset};
        targets_[i] = static_cast<std::uint32_t>(ref.target);
        continue;
      }
      const auto found = std::lower_bound(by_id.begin(), by_id.end(),
                                          std::make_pair(ref.target, std::uint32_t{0}));
      if (found == by_id.end() || found->first != ref.target)
        return {"node " + std::to_string(ref.target) + " does not exist", ref.offset};
      targets_[i] = found->second;
    }
  }
  if (by_id.empty() || by_id.front().first != 0) return {"node 0 does not exist", 8};
  root_ = by_id.front().second;
  return {};
}

// Totals voxels and visits below `node` once per node, so that a scene that
// references nodes many times over is measured in time linear in its size.
damage scene_walk::count(std::uint32_t node, std::uint32_t depth) {
  const scene_node& n = file_.nodes[node];
  if (totals_[node].state == node_totals::done) return {};
  if (totals_[node].state == node_totals::on_path) return {"cycle in the scene", n.offset};
  if (depth >= limits_.max_scene_depth) return {"scene nested too deep", n.offset};
  totals_[node].state = node_totals::on_path;
  std::uint64_t voxels = 0;
  std::uint64_t visits = 1;
  if (!n.hidden) {
    for (std::uint32_t i = n.first_child; i < n.first_child + n.child_count; ++i) {
      if (n.kind == node_kind::shape) {
        voxels = saturating_add(voxels, file_.models[targets_[i]].voxel_count);
        continue;
      }
      damage found = count(targets_[i], depth + 1);
      if (!found.what.empty()) return found;
      voxels = saturating_add(voxels, totals_[targets_[i]].voxels);
      visits = saturating_add(visits, totals_[targets_[i]].visits);
    }
  }
  totals_[node].voxels = voxels;
  totals_[node].visits = visits;
  totals_[node].state = node_totals::done;
  return {};
}

damage scene_walk::place_node(std::uint32_t node, const placement& above) {
  const scene_node& n = file_.nodes[node];
  if (n.kind == node_kind::transform) {
    if (n.hidden) return {};
    return place_node(targets_[n.first_child], compose(above, n));
  }
  for (std::uint32_t i = n.first_child; i < n.first_child + n.child_count; ++i) {
    damage found = n.kind == node_kind::shape
                       ? place_model(file_.models[targets_[i]], above, n.offset)
                       : place_node(targets_[i], above);
    if (!found.what.empty()) return found;
  }
  return {};
}

// A voxel v of a model of size s has its centre at T + R (v + 1/2 - floor(s/2)),
// so its world cell is W = T + R (v - floor(s/2)) + (R 1 - 1) / 2, and its game
// cell is (-W.x - 1, W.z, W.y): along each game axis a base plus or minus one
// coordinate of v.
damage scene_walk::place_model(const vox_model& model, const placement& where, std::size_t offset) {
  std::array<std::int64_t, 3> world_base{};
  for (std::size_t row = 0; row < 3; ++row) {
    const auto column = static_cast<std::size_t>(where.turn.column[row]);
    const int sign = where.turn.sign[row];
    world_base[row] =
        where.translation[row] - sign * std::int64_t{model.size[column] / 2} + (sign - 1) / 2;
  }
  static constexpr std::size_t game_to_world[3] = {0, 2, 1};
  std::array<std::int64_t, 3> base{};
  std::array<std::int64_t, 3> sign{};
  std::array<std::size_t, 3> column{};
  for (std::size_t axis = 0; axis < 3; ++axis) {
    const std::size_t row = game_to_world[axis];
    const int flip = axis == 0 ? -1 : 1;
    base[axis] = flip * world_base[row] + (axis == 0 ? -1 : 0);
    sign[axis] = std::int64_t{flip} * where.turn.sign[row];
    column[axis] = static_cast<std::size_t>(where.turn.column[row]);
    // Every voxel lies inside the model's size, so the box's corners bound it.
    const std::int64_t reach = sign[axis] * std::int64_t{model.size[column[axis]] - 1};
    const std::int64_t low = std::min(base[axis], base[axis] + reach);
    const std::int64_t high = std::max(base[axis], base[axis] + reach);
    if (low < std::numeric_limits<std::int32_t>::min() ||
        high > std::numeric_limits<std::int32_t>::max())
      return {"voxel placed outside 32-bit positions", offset};
  }
  ++placements_;
  vox_model_placement placed;
  placed.records = reinterpret_cast<const unsigned char*>(file_.bytes.data()) + model.records;
  placed.record_count = model.record_count;
  for (std::size_t axis = 0; axis < 3; ++axis) {
    placed.base[axis] = base[axis];
    placed.sign[axis] = sign[axis];
    placed.column[axis] = column[axis];
  }
  placed.palette = file_.palette.data();
  visitor_.place(placed);
  return {};
}

damage scene_walk::run() {
  damage found = resolve_references();
  if (!found.what.empty()) return found;
  found = count(root_, 0);
  if (!found.what.empty()) return found;
  const node_totals& totals = totals_[root_];
  if (totals.visits > limits_.max_node_visits)
    return {"scene places nodes too many times", file_.nodes[root_].offset};
  if (totals.voxels > limits_.max_placed_voxels)
    return {"scene places too many voxels", file_.nodes[root_].offset};
  visitor_.start(totals.voxels);
  return place_node(root_, placement{});
}

}  // namespace

bool looks_like_vox(std::string_view bytes) { return bytes.substr(0, 4) == "VOX "; }

namespace {

// Keeps every voxel placed, in order.
class voxel_keeper final : public vox_scene_visitor {
 public:
  explicit voxel_keeper(std::vector<cell_voxel>& voxels) : voxels_(voxels) {}
  void start(std::uint64_t voxels) override { voxels_.reserve(static_cast<std::size_t>(voxels)); }
  void place(const vox_model_placement& placed) override {
    visit_placed_voxels(placed, [this](const cell_voxel& voxel) { voxels_.push_back(voxel); });
  }

 private:
  std::vector<cell_voxel>& voxels_;
};

}  // namespace

vox_read_result read_vox(std::string_view bytes, const vox_read_limits& limits) {
  std::vector<cell_voxel> voxels;
  voxel_keeper keeper(voxels);
  vox_read_result result = read_vox_scene(bytes, keeper, limits);
  if (result.error.empty()) result.voxels = std::move(voxels);
  return result;
}

vox_read_result read_vox_scene(std::string_view bytes, vox_scene_visitor& visitor,
                               const vox_read_limits& limits) {
  vox_read_result result;
  const auto fail = [&result](damage found) {
    result.voxels.clear();
    result.error = std::move(found.what);
    result.error_offset = found.offset;
    return std::move(result);
  };
  if (bytes.size() < 20 || !looks_like_vox(bytes)) return fail({"short header", 0});
  byte_reader in{bytes, 8, bytes.size()};
  if (bytes.substr(8, 4) != "MAIN") return fail({"first chunk is not MAIN", 8});
  in.pos = 12;
  std::int32_t content = 0;
  std::int32_t children = 0;
  in.read_i32(content);
  in.read_i32(children);
  if (content < 0 || children < 0) return fail({"negative chunk size", 12});
  if (!in.has(static_cast<std::size_t>(content)) ||
      !in.has(static_cast<std::size_t>(content) + static_cast<std::size_t>(children)))
    return fail({"chunk past the file's end", 8});
  const std::size_t begin = in.pos + static_cast<std::size_t>(content);

  vox_file file;
  file.bytes = bytes;
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint32_t rgb = default_palette[i];
    file.palette[i] = {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                       static_cast<std::uint8_t>(rgb)};
  }
  damage found = read_chunks(begin, begin + static_cast<std::size_t>(children), file);
  if (!found.what.empty()) return fail(std::move(found));

  // A node on a hidden layer is hidden itself.
  std::sort(file.hidden_layers.begin(), file.hidden_layers.end());
  for (scene_node& node : file.nodes) {
    if (node.kind == node_kind::transform &&
        std::binary_search(file.hidden_layers.begin(), file.hidden_layers.end(), node.layer))
      node.hidden = true;
  }
  if (!file.has_transform) {
    // Without a scene the models are the frames of an animation. The editor
    // stands the first on the ground, as it writes it when it saves the file
    // again: centred in x and y, from 0 up.
    if (file.models.empty()) return result;
    result.frames_left_out = static_cast<std::uint32_t>(file.models.size() - 1);
    scene_node ground;
    ground.kind = node_kind::transform;
    ground.child_count = 1;
    ground.translation = {0, 0, file.models[0].size[2] / 2};
    scene_node shape;
    shape.kind = node_kind::shape;
    shape.id = 1;
    shape.first_child = 1;
    shape.child_count = 1;
    file.nodes = {ground, shape};
    file.references = {reference{1, 0}, reference{0, 0}};
  }
  std::sort(file.frames_seen.begin(), file.frames_seen.end());
  file.frames_seen.erase(std::unique(file.frames_seen.begin(), file.frames_seen.end()),
                         file.frames_seen.end());
  std::sort(file.frames_placed.begin(), file.frames_placed.end());
  file.frames_placed.erase(std::unique(file.frames_placed.begin(), file.frames_placed.end()),
                           file.frames_placed.end());
  result.key_frames_left_out =
      static_cast<std::uint32_t>(file.frames_seen.size() - file.frames_placed.size());
  scene_walk walk(file, limits, visitor);
  found = walk.run();
  if (!found.what.empty()) return fail(std::move(found));
  result.model_placements = walk.placements();
  return result;
}

}  // namespace cubewright
