// Micro-benchmarks of the conversion's hot path, on the benchmark model held
// in memory: the field scan, the strict check of an export beside its plain
// byte-by-byte reference, the cell walk, number text, the whole
// document written to a sink that only counts, the document read back, the
// preview picture of the 128-cell model: its cells read, drawn and encoded as
// PNG, and a .vox file of every 24-bit colour, its palette reduced.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion/convert.h"
#include "model_document/model_reader.h"
#include "model_text.h"
#include "preview/png.h"
#include "preview/preview.h"
#include "sproxel_csv/cell_walk.h"
#include "sproxel_csv/csv_document.h"
#include "sproxel_csv/export_cells.h"
#include "sproxel_csv/export_check.h"
#include "sproxel_csv/grid_size.h"
#include "sproxel_csv/plain_export_check.h"
#include "sproxel_csv/token_list.h"
#include "text/format_number.h"
#include "vox_format/vox_writer.h"

namespace {

using namespace cubewright;

const std::string& model(int side) {
  static const std::string text = cubewright_bench::model_text(side);
  return text;
}

constexpr int side = 64;

void token_scan(benchmark::State& state) {
  const std::string& text = model(side);
  for (auto _ : state) {
    std::size_t count = 0;
    for (std::string_view token : read_token_list(text)) count += token.size();
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(token_scan);

// The benchmark model of `cells_a_side` cells a side, made once, with CR LF line
// ends when `crlf`.
const std::string& model_text_of(std::int64_t cells_a_side, bool crlf) {
  static std::map<std::pair<std::int64_t, bool>, std::string> texts;
  std::string& text = texts[{cells_a_side, crlf}];
  if (text.empty()) {
    const std::string lf = cubewright_bench::model_text(static_cast<int>(cells_a_side));
    if (!crlf) {
      text = lf;
    } else {
      for (char c : lf) text += c == '\n' ? "\r\n" : std::string_view(&c, 1);
    }
  }
  return text;
}

// The check before a conversion, over a whole export; the arguments are the
// model's side and whether its lines end in CR LF.
template <typename Check>
void check_export(benchmark::State& state, Check check) {
  const std::string& text = model_text_of(state.range(0), state.range(1) != 0);
  for (auto _ : state) {
    const std::optional<std::string> fault = check(text, "model.csv");
    if (fault) state.SkipWithError(fault->c_str());
    benchmark::DoNotOptimize(fault);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void export_check(benchmark::State& state) { check_export(state, export_fault); }
BENCHMARK(export_check)
    ->Args({128, 0})
    ->Args({256, 0})
    ->Args({128, 1})
    ->Unit(benchmark::kMillisecond);

void plain_export_check(benchmark::State& state) {
  check_export(state, cubewright_test::plain_export_fault);
}
BENCHMARK(plain_export_check)->Args({128, 0})->Args({256, 0})->Unit(benchmark::kMillisecond);

void cell_walk(benchmark::State& state) {
  const std::string& text = model(side);
  const token_list tokens = read_token_list(text);
  const grid_size size = *parse_grid_size(tokens);
  for (auto _ : state) {
    float sum = 0;
    walk_cells(tokens, size, model_placement{},
               [&sum](const voxel_record& record) { sum += record.x + record.r; });
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(cell_walk);

void number_text(benchmark::State& state, const std::vector<float>& values) {
  char text[max_number_text];
  for (auto _ : state) {
    for (float value : values) {
      benchmark::DoNotOptimize(format_number(value, text));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

std::vector<float> colour_fractions() {
  std::vector<float> values;
  for (int k = 0; k < 256; ++k) values.push_back(static_cast<float>(k) / 256.0f);
  return values;
}

std::vector<float> coordinates() {
  std::vector<float> values;
  for (int i = -128; i < 128; ++i) values.push_back(static_cast<float>(i));
  return values;
}

std::vector<float> large_numbers() {
  std::vector<float> values;
  for (int i = 0; i < 256; ++i) values.push_back(1.0e6f + static_cast<float>(i) * 65537.0f);
  return values;
}

BENCHMARK_CAPTURE(number_text, colour_fractions, colour_fractions());
BENCHMARK_CAPTURE(number_text, coordinates, coordinates());
BENCHMARK_CAPTURE(number_text, large_numbers, large_numbers());

void whole_document(benchmark::State& state) {
  const std::string& text = model(side);
  const token_list tokens = read_token_list(text);
  const grid_size size = *parse_grid_size(tokens);
  std::size_t written = 0;
  output_sink sink;
  sink.context = &written;
  sink.write = [](void* context, const char*, std::size_t count) {
    *static_cast<std::size_t*>(context) += count;
    return true;
  };
  for (auto _ : state) {
    benchmark::DoNotOptimize(write_export_document(tokens, size, model_placement{}, "\n", sink));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(whole_document);

// The voxels of the 128-cell benchmark model, as the preview gets them.
const std::vector<cell_voxel>& preview_model() {
  static const std::vector<cell_voxel> voxels = [] {
    const std::string text = cubewright_bench::model_text(128);
    const token_list tokens = read_token_list(text);
    std::vector<cell_voxel> result;
    walk_cells(tokens, *parse_grid_size(tokens), model_placement{},
               [&result](const voxel_record& r) {
                 const auto byte = [](float fraction) {
                   return static_cast<std::uint8_t>(fraction * 256.0f);
                 };
                 result.push_back(
                     cell_voxel{static_cast<std::int32_t>(r.x), static_cast<std::int32_t>(r.y),
                                static_cast<std::int32_t>(r.z), byte(r.r), byte(r.g), byte(r.b)});
               });
    return result;
  }();
  return voxels;
}

// The preview's own reading of the 128-cell export: the cells it draws.
void preview_cells(benchmark::State& state) {
  static const std::string text = cubewright_bench::model_text(128);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        read_model_cells(text, content_kind::sproxel_csv, "model-128.csv", model_placement{}));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(preview_cells)->Unit(benchmark::kMillisecond);

// The same cells gathered into a sketch as they go by, as a picture drawn
// alone takes them.
void preview_sketch_cells(benchmark::State& state) {
  static const std::string text = cubewright_bench::model_text(128);
  const cell_box box = *exported_grid_cells(text, model_placement{});
  for (auto _ : state) {
    preview_sketch sketch(box.low, box.high);
    for_each_exported_cell(
        text, model_placement{},
        [&sketch](const cell_voxel* cells, std::size_t count) { sketch.add(cells, count); });
    benchmark::DoNotOptimize(sketch.added());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(preview_sketch_cells)->Unit(benchmark::kMillisecond);

void preview_render(benchmark::State& state) {
  const preview_request request{&preview_model(), nullptr, "model-128.csv"};
  for (auto _ : state) benchmark::DoNotOptimize(render_preview(request));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(preview_model().size()));
}
BENCHMARK(preview_render)->Unit(benchmark::kMillisecond);

// The picture of the 128-cell export drawn from its sketch, as the run draws it.
void preview_render_sketch(benchmark::State& state) {
  static const std::string text = cubewright_bench::model_text(128);
  const cell_box box = *exported_grid_cells(text, model_placement{});
  preview_sketch sketch(box.low, box.high);
  for_each_exported_cell(
      text, model_placement{},
      [&sketch](const cell_voxel* cells, std::size_t count) { sketch.add(cells, count); });
  preview_request request;
  request.sketch = &sketch;
  request.title = "model-128.csv";
  for (auto _ : state) benchmark::DoNotOptimize(render_preview(request));
}
BENCHMARK(preview_render_sketch)->Unit(benchmark::kMillisecond);

void preview_encode(benchmark::State& state) {
  const rgba_image image = render_preview({&preview_model(), nullptr, "model-128.csv"});
  for (auto _ : state) benchmark::DoNotOptimize(encode_png(image));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.pixels.size()));
}
BENCHMARK(preview_encode)->Unit(benchmark::kMillisecond);

// Drawing with the model itself as the compare model: the most the ghost costs.
void preview_render_and_encode_with_compare(benchmark::State& state) {
  const preview_request request{&preview_model(), &preview_model(), "model-128.csv"};
  for (auto _ : state) benchmark::DoNotOptimize(encode_png(render_preview(request)));
}
BENCHMARK(preview_render_and_encode_with_compare)->Unit(benchmark::kMillisecond);

// The 128-cell model's document exported back to CSV in memory, on one
// thread and reading ahead on a second: what --to csv does short of the
// file system.
void document_to_csv(benchmark::State& state) {
  static const std::string document =
      *export_to_document(cubewright_bench::model_text(128), model_placement{});
  conversion_request request;
  request.text = document;
  request.input = content_kind::model_document;
  request.format = output_format::csv;
  request.plan.read_ahead = state.range(0) != 0;
  std::size_t written = 0;
  output_sink sink;
  sink.context = &written;
  sink.write = [](void* context, const char*, std::size_t count) {
    *static_cast<std::size_t*>(context) += count;
    return true;
  };
  for (auto _ : state) benchmark::DoNotOptimize(convert_model(request, sink));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(document.size()));
}
BENCHMARK(document_to_csv)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The document of the 128-cell model (about 31 MB), read voxel by voxel.
void read_document(benchmark::State& state) {
  static const std::string document =
      *export_to_document(cubewright_bench::model_text(128), model_placement{});
  std::size_t voxels = 0;
  for (auto _ : state) {
    model_reader reader = open_model_reader(document);
    voxel_record voxel;
    float sum = 0;
    voxels = 0;
    while (next_voxel(reader, voxel) == read_step::voxel) {
      sum += voxel.x + voxel.r;
      ++voxels;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["voxels"] = static_cast<double>(voxels);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(document.size()));
}
BENCHMARK(read_document)->Unit(benchmark::kMillisecond);

// 2^24 voxels in a 256-cell cube, each of its own colour: in colour order
// along the rows (0), or scattered over the cube (1).
void vox_every_colour(benchmark::State& state) {
  const bool scattered = state.range(0) == 1;
  std::vector<cell_voxel> voxels(std::size_t{1} << 24);
  for (std::uint32_t i = 0; i < voxels.size(); ++i) {
    // An odd factor sends the colours round the cube once each.
    const std::uint32_t rgb = (scattered ? i * 2654435761u : i) & 0xffffff;
    cell_voxel& v = voxels[i];
    v.x = static_cast<std::int32_t>(i % 256);
    v.y = static_cast<std::int32_t>(i / 65536);
    v.z = static_cast<std::int32_t>(i / 256 % 256);
    v.r = static_cast<std::uint8_t>(rgb >> 16);
    v.g = static_cast<std::uint8_t>(rgb >> 8);
    v.b = static_cast<std::uint8_t>(rgb);
  }
  std::size_t bytes = 0;
  for (auto _ : state) bytes = write_vox(voxels).bytes.size();
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(vox_every_colour)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
