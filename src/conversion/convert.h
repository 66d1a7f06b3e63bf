// The conversions themselves, on memory: an input text in, the output's
// bytes out through a sink, and a report of what was converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/recognise.h"
#include "conversion/run_plan.h"
#include "io/output_sink.h"
#include "model/placed_model.h"
#include "model_document/document_source.h"

namespace cubewright {

/// One conversion, from an input text to an output format.
struct conversion_request {
  std::string_view text;
  text_copier copier;  // optional: see document_input
  content_kind input = content_kind::sproxel_csv;
  std::string input_path;  // for messages only
  model_placement placement;
  output_format format = output_format::xml;
  std::string_view line_end = "\n";  // of model documents
  bool count = false;                // fill voxel_count and bounds
  bool exact_positions = false;      // writing a document from a document or .vox: refuse
                                     // positions it would round (see inexact_positions)
  run_plan plan;                     // by default on the calling thread alone
};

/// What a conversion did: on failure, `failure` (unless the sink refused
/// bytes: it knows why); on success, `notes`.
struct conversion_result : source_report {
  bool ok = false;
  bool sink_failed = false;
  std::size_t voxel_count = 0;            // with `count`, writing CSV or .vox, or read_model_cells
  placed_bounds bounds;                   // likewise
  std::int32_t grid_min[3] = {0, 0, 0};   // writing CSV: where the export's first cell lies
  std::int32_t grid_size[3] = {0, 0, 0};  // and its size
  std::vector<cell_voxel> placed;         // read_model_cells: the placed voxels
};

/// Converts as requested. The sink gets the bytes of the output; when the
/// result is not ok, what it got is to be thrown away.
conversion_result convert_model(const conversion_request& request, output_sink sink);

/// The voxels of an input placed as `placement` says (by default as they
/// stand), each on its nearest cell, for drawing: in `placed`, with their
/// count. Nothing is written; a skeleton does not matter here.
conversion_result read_model_cells(std::string_view text, content_kind input,
                                   const std::string& path,
                                   const model_placement& placement = model_placement());

/// Whether an export's text begins with its grid header: a CSV input
/// without one is refused before the output is opened...
bool has_grid_header(std::string_view text);

/// ...with this message.
std::string grid_size_failure(const std::string& path);

/// Why a model document cannot hold the positions of an export placed as
/// `placement` exactly, or nothing when it can: it writes six significant
/// digits, so a whole number beyond +-999,999 that it does not write
/// exactly would come out rounded. Judged from the export's grid when all
/// of it lies within those bounds, from its filled cells otherwise. For a
/// well-formed export (it declares as many cells as it holds).
std::optional<std::string> inexact_positions(std::string_view text,
                                             const model_placement& placement,
                                             const std::string& path);

/// The message for an input that holds NUL bytes and is nothing the tool
/// reads.
std::string binary_input_failure(const std::string& path);

}  // namespace cubewright
