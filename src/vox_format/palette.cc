#include "vox_format/palette.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>

namespace cubewright {
namespace {

constexpr std::size_t palette_size = 255;

std::uint32_t packed_rgb(const cell_voxel& v) {
  return std::uint32_t{v.r} << 16 | std::uint32_t{v.g} << 8 | v.b;
}

int channel(std::uint32_t rgb, int c) { return static_cast<int>(rgb >> (16 - 8 * c) & 0xff); }

int squared_distance(std::uint32_t a, std::uint32_t b) {
  int sum = 0;
  for (int c = 0; c < 3; ++c) {
    const int d = channel(a, c) - channel(b, c);
    sum += d * d;
  }
  return sum;
}

struct colour_count {
  std::uint32_t rgb = 0;
  std::uint64_t count = 0;
};

// Running sums over a set of colours, each weighted by its voxel count. They
// are whole numbers, so they come out the same in whatever order the colours
// are added or taken away.
struct colour_sums {
  std::uint64_t weight = 0;
  std::array<std::uint64_t, 3> sum{};
  std::uint64_t squares = 0;

  void add(const colour_sums& other) {
    weight += other.weight;
    for (std::size_t k = 0; k < 3; ++k) sum[k] += other.sum[k];
    squares += other.squares;
  }
  colour_sums minus(const colour_sums& part) const {
    colour_sums rest = *this;
    rest.weight -= part.weight;
    for (std::size_t k = 0; k < 3; ++k) rest.sum[k] -= part.sum[k];
    rest.squares -= part.squares;
    return rest;
  }
  // The sum of squared distances from the weighted mean.
  double squared_error() const {
    if (weight == 0) return 0;
    double mean_part = 0;
    for (const std::uint64_t s : sum) mean_part += static_cast<double>(s) * static_cast<double>(s);
    return static_cast<double>(squares) - mean_part / static_cast<double>(weight);
  }
  std::uint32_t mean() const {
    std::uint32_t rgb = 0;
    for (const std::uint64_t s : sum)
      rgb = rgb << 8 | static_cast<std::uint32_t>((s + weight / 2) / weight);
    return rgb;
  }
};

// The sums of a set of colours by the value of each channel.
using channel_sums = std::array<std::array<colour_sums, 256>, 3>;

void add_by_value(const std::vector<colour_count>& colours, std::size_t begin, std::size_t end,
                  channel_sums& by_value) {
  for (std::size_t i = begin; i < end; ++i) {
    const std::uint64_t weight = colours[i].count;
    const std::uint32_t rgb = colours[i].rgb;
    const std::uint64_t r = rgb >> 16;
    const std::uint64_t g = rgb >> 8 & 0xff;
    const std::uint64_t b = rgb & 0xff;
    const std::uint64_t sum_r = weight * r;
    const std::uint64_t sum_g = weight * g;
    const std::uint64_t sum_b = weight * b;
    const std::uint64_t squares = sum_r * r + sum_g * g + sum_b * b;
    const auto add = [&](colour_sums& bin) {
      bin.weight += weight;
      bin.sum[0] += sum_r;
      bin.sum[1] += sum_g;
      bin.sum[2] += sum_b;
      bin.squares += squares;
    };
    add(by_value[0][r]);
    add(by_value[1][g]);
    add(by_value[2][b]);
  }
}

// A box of the cut: a range of the distinct colours and their sums.
struct colour_box {
  std::size_t begin = 0;
  std::size_t end = 0;
  colour_sums sums;
  // Its sums by channel value when its parent's split left them, otherwise
  // null until it is split.
  std::unique_ptr<channel_sums> by_value;
};

// Boxes of at least this many colours give their halves their sums by
// value: the smaller half's are added up, and the larger half's are what is
// left. Adding up both halves again would double the work of the cut on
// millions of colours; keeping them for few costs more than it saves.
constexpr std::size_t sums_kept_from = std::size_t{1} << 16;

// Cuts the box in two along the channel and at the value that leave the least
// squared error, the first such channel and value on a tie, reordering its
// colours so that each half is a range. False when it holds a single colour.
bool split_box(std::vector<colour_count>& colours, colour_box& box, colour_box& low,
               colour_box& high) {
  if (!box.by_value) {
    box.by_value = std::make_unique<channel_sums>();
    add_by_value(colours, box.begin, box.end, *box.by_value);
  }
  const channel_sums& by_value = *box.by_value;
  double best_error = std::numeric_limits<double>::infinity();
  int best_channel = -1;
  int best_value = 0;
  colour_sums best_below;
  for (int c = 0; c < 3; ++c) {
    colour_sums below;
    for (int value = 0; value < 255; ++value) {
      below.add(by_value[static_cast<std::size_t>(c)][static_cast<std::size_t>(value)]);
      if (below.weight == 0 || below.weight == box.sums.weight) continue;
      const double error = below.squared_error() + box.sums.minus(below).squared_error();
      if (error < best_error) {
        best_error = error;
        best_channel = c;
        best_value = value;
        best_below = below;
      }
    }
  }
  if (best_channel < 0) return false;
  const auto first = colours.begin() + static_cast<std::ptrdiff_t>(box.begin);
  const auto mid = std::partition(
      first, colours.begin() + static_cast<std::ptrdiff_t>(box.end),
      [&](const colour_count& c) { return channel(c.rgb, best_channel) <= best_value; });
  const auto cut = box.begin + static_cast<std::size_t>(mid - first);
  low = {box.begin, cut, best_below, nullptr};
  high = {cut, box.end, box.sums.minus(best_below), nullptr};
  if (box.end - box.begin >= sums_kept_from) {
    const bool low_smaller = cut - box.begin <= box.end - cut;
    colour_box& smaller = low_smaller ? low : high;
    colour_box& larger = low_smaller ? high : low;
    smaller.by_value = std::make_unique<channel_sums>();
    add_by_value(colours, smaller.begin, smaller.end, *smaller.by_value);
    larger.by_value = std::move(box.by_value);
    for (std::size_t c = 0; c < 3; ++c)
      for (std::size_t v = 0; v < 256; ++v)
        (*larger.by_value)[c][v] = (*larger.by_value)[c][v].minus((*smaller.by_value)[c][v]);
  }
  return true;
}

// Cuts the colours into `palette_size` boxes, always splitting the box with
// the largest squared error (the first such box on a tie) where that error
// falls the most, and gives each box the mean of its colours weighted by how
// many voxels have them. `colours` is reordered.
std::vector<std::uint32_t> reduce_palette(std::vector<colour_count>& colours) {
  colour_box all{0, colours.size(), {}, std::make_unique<channel_sums>()};
  add_by_value(colours, 0, colours.size(), *all.by_value);
  for (const colour_sums& bin : (*all.by_value)[0]) all.sums.add(bin);
  std::vector<double> errors{all.sums.squared_error()};
  std::vector<colour_box> boxes;
  boxes.push_back(std::move(all));
  while (boxes.size() < palette_size) {
    const auto pick =
        static_cast<std::size_t>(std::max_element(errors.begin(), errors.end()) - errors.begin());
    colour_box low;
    colour_box high;
    if (errors[pick] <= 0 || !split_box(colours, boxes[pick], low, high)) break;
    errors[pick] = low.sums.squared_error();
    errors.push_back(high.sums.squared_error());
    boxes[pick] = std::move(low);
    boxes.push_back(std::move(high));
  }
  std::vector<std::uint32_t> palette;
  palette.reserve(boxes.size());
  for (const colour_box& box : boxes) palette.push_back(box.sums.mean());
  return palette;
}

// A voxel's colour and its place in the voxel order in one word: no model
// holds 2^40 voxels.
constexpr int number_bits = 40;
constexpr std::uint64_t number_mask = (std::uint64_t{1} << number_bits) - 1;

std::uint32_t colour_of(std::uint64_t key) {
  return static_cast<std::uint32_t>(key >> number_bits);
}

// The voxels as colour << 40 | number, sorted by colour twelve bits at a
// time, in time linear in their number: models of millions of voxels are
// common.
std::vector<std::uint64_t> voxels_by_colour(const std::vector<cell_voxel>& voxels) {
  std::vector<std::uint64_t> keys(voxels.size());
  for (std::size_t i = 0; i < voxels.size(); ++i)
    keys[i] = std::uint64_t{packed_rgb(voxels[i])} << number_bits | i;
  std::vector<std::uint64_t> other(keys.size());
  constexpr int digit_bits = 12;
  constexpr std::uint64_t digit_mask = (1u << digit_bits) - 1;
  for (int shift = number_bits; shift < 64; shift += digit_bits) {
    std::vector<std::size_t> start(std::size_t{1} << digit_bits | 1);
    for (const std::uint64_t k : keys) ++start[(k >> shift & digit_mask) + 1];
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    for (const std::uint64_t k : keys) other[start[k >> shift & digit_mask]++] = k;
    keys.swap(other);
  }
  return keys;
}

// The cell of the lookup's grid that holds `rgb`.
std::size_t cell_of(const palette_lookup& lookup, std::uint32_t rgb) {
  const int bits = lookup.cell_bits;
  const int shift = 8 - bits;
  const std::uint32_t mask = (1u << bits) - 1;
  return static_cast<std::size_t>((rgb >> (16 + shift) & mask) << (2 * bits) |
                                  (rgb >> (8 + shift) & mask) << bits | (rgb >> shift & mask));
}

// Each entry's squared distance, along one channel, to the nearest and to the
// farthest value of a slab of cells. An entry that repeats an earlier one is
// never the nearest, ties going to the lower index: it and the places past
// the palette are 2^16 off, more than any three distances of entries add up
// to.
struct slab_distances {
  std::array<std::uint32_t, 256> nearest;
  std::array<std::uint32_t, 256> farthest;
};

slab_distances distances_to_slab(const std::vector<std::uint32_t>& palette,
                                 const std::vector<bool>& repeats, int c, int lo, int hi) {
  slab_distances slab;
  slab.nearest.fill(1u << 16);
  slab.farthest.fill(1u << 16);
  for (std::size_t i = 0; i < palette.size(); ++i) {
    if (repeats[i]) continue;
    const int value = channel(palette[i], c);
    const int outside = std::max({lo - value, value - hi, 0});
    const int far = std::max(value - lo, hi - value);
    slab.nearest[i] = static_cast<std::uint32_t>(outside * outside);
    slab.farthest[i] = static_cast<std::uint32_t>(far * far);
  }
  return slab;
}

// Appends the entries that can be nearest a colour of the cell where the
// three slabs meet: an entry whose least distance to the cell exceeds the
// greatest distance from the cell to some entry is farther than that entry
// from every colour of the cell. Every entry at the least distance from a
// colour of the cell is kept.
void add_cell(palette_lookup& lookup, const slab_distances& r, const slab_distances& g,
              const slab_distances& b) {
  std::array<std::uint32_t, 256> least;
  std::uint32_t bound = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t i = 0; i < 256; ++i) {
    least[i] = r.nearest[i] + g.nearest[i] + b.nearest[i];
    bound = std::min(bound, r.farthest[i] + g.farthest[i] + b.farthest[i]);
  }
  const std::size_t begin = lookup.candidates.size();
  for (std::size_t i = 0; i < lookup.palette.size(); ++i)
    if (least[i] <= bound)
      lookup.candidates.push_back(least[i] << 8 | static_cast<std::uint32_t>(i));
  std::sort(lookup.candidates.begin() + static_cast<std::ptrdiff_t>(begin),
            lookup.candidates.end());
  lookup.cell_start.push_back(static_cast<std::uint32_t>(lookup.candidates.size()));
}

// The distinct colours of keys sorted by colour, each with its voxels.
std::vector<colour_count> count_colours(const std::vector<std::uint64_t>& keys) {
  std::size_t distinct = 0;
  for (std::size_t k = 0; k < keys.size(); ++k)
    distinct += k == 0 || colour_of(keys[k]) != colour_of(keys[k - 1]);
  std::vector<colour_count> colours;
  colours.reserve(distinct);
  for (const std::uint64_t key : keys) {
    if (colours.empty() || colours.back().rgb != colour_of(key))
      colours.push_back({colour_of(key), 0});
    ++colours.back().count;
  }
  return colours;
}

}  // namespace

palette_lookup make_palette_lookup(const std::vector<std::uint32_t>& palette, std::size_t colours) {
  palette_lookup lookup;
  lookup.palette = palette;
  // At most a cell for every 32 colours: making a cell goes through the whole
  // palette, while a search stops at the first entry too far off.
  while (lookup.cell_bits < 5 && std::size_t{32} << (3 * (lookup.cell_bits + 1)) <= colours)
    ++lookup.cell_bits;
  const int cells = 1 << lookup.cell_bits;
  const int side = 256 >> lookup.cell_bits;
  std::vector<bool> repeats(palette.size());
  for (std::size_t i = 0; i < palette.size(); ++i)
    repeats[i] = std::find(palette.begin(), palette.begin() + static_cast<std::ptrdiff_t>(i),
                           palette[i]) != palette.begin() + static_cast<std::ptrdiff_t>(i);
  std::array<std::vector<slab_distances>, 3> slabs;
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < cells; ++k)
      slabs[static_cast<std::size_t>(c)].push_back(
          distances_to_slab(palette, repeats, c, k * side, k * side + side - 1));
  lookup.cell_start.reserve(std::size_t{1} << (3 * lookup.cell_bits) | 1);
  lookup.cell_start.push_back(0);
  for (const slab_distances& r : slabs[0])
    for (const slab_distances& g : slabs[1])
      for (const slab_distances& b : slabs[2]) add_cell(lookup, r, g, b);
  return lookup;
}

std::size_t nearest_entry(const palette_lookup& lookup, std::uint32_t rgb) {
  const std::size_t cell = cell_of(lookup, rgb);
  const std::uint32_t* const begin = lookup.candidates.data() + lookup.cell_start[cell];
  const std::uint32_t* const end = lookup.candidates.data() + lookup.cell_start[cell + 1];
  std::uint32_t best = std::numeric_limits<std::uint32_t>::max();
  std::size_t best_index = 0;
  for (const std::uint32_t* at = begin; at != end && *at >> 8 <= best; ++at) {
    const std::size_t i = *at & 0xff;
    const auto d = static_cast<std::uint32_t>(squared_distance(rgb, lookup.palette[i]));
    if (d < best || (d == best && i < best_index)) {
      best = d;
      best_index = i;
    }
  }
  return best_index;
}

colour_mapping map_colours(const std::vector<cell_voxel>& voxels) {
  colour_mapping mapping;
  const std::vector<std::uint64_t> keys = voxels_by_colour(voxels);
  {  // The distinct colours may take as much room as the voxels: gone before the indices.
    std::vector<colour_count> distinct = count_colours(keys);
    mapping.report.colours_in = distinct.size();
    if (distinct.size() > palette_size) {
      mapping.palette = reduce_palette(distinct);
    } else {
      for (const colour_count& c : distinct) mapping.palette.push_back(c.rgb);
    }
  }
  mapping.report.colours_out = mapping.palette.size();
  const bool reduced = mapping.report.colours_in > palette_size;

  // The keys come colour by colour: each distinct colour is looked up once.
  palette_lookup lookup;
  if (reduced) lookup = make_palette_lookup(mapping.palette, mapping.report.colours_in);
  mapping.voxel_index.resize(voxels.size());
  int worst = 0;
  std::size_t rank = 0;
  std::size_t entry = 0;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const std::uint32_t rgb = colour_of(keys[k]);
    if (k == 0 || rgb != colour_of(keys[k - 1])) {
      if (reduced) {
        entry = nearest_entry(lookup, rgb);
        worst = std::max(worst, squared_distance(rgb, mapping.palette[entry]));
      } else {
        entry = rank++;
      }
    }
    mapping.voxel_index[static_cast<std::size_t>(keys[k] & number_mask)] =
        static_cast<std::uint8_t>(entry + 1);
  }
  mapping.report.largest_error = std::sqrt(static_cast<double>(worst));
  return mapping;
}

}  // namespace cubewright
