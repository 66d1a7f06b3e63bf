// Feeds arbitrary bytes to the model document reader and to expat, and
// checks that they agree: the same verdict on well-formedness, the same
// content faults and the same voxels, bit for bit (tests/support/
// expat_reference.h says what is excused). Then exports the document to
// CSV read by one thread and read in stretches by two, and checks that the
// two give the same bytes, failure, notes and count.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "conversion/convert.h"
#include "model/voxel_grid.h"
#include "support/expat_reference.h"

namespace {

// What an export says: its bytes or its failure, its notes and its count.
std::string export_of(std::string_view document, bool in_stretches) {
  cubewright::conversion_request request;
  request.text = document;
  request.input = cubewright::content_kind::model_document;
  request.input_path = "model.xml";
  request.format = cubewright::output_format::csv;
  request.plan.read_ahead = in_stretches;
  std::string bytes;
  const cubewright::conversion_result result =
      cubewright::convert_model(request, cubewright::string_sink(bytes));
  std::string said =
      result.ok ? bytes + "\n" + std::to_string(result.voxel_count) : "failed: " + result.failure;
  for (const std::string& note : result.notes) said += "\nnote: " + note;
  return said;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  cubewright_test::agreement_counts counts;
  const std::string problem = cubewright_test::compare_with_expat(document, counts);
  if (!problem.empty()) {
    std::fprintf(stderr, "property failed: %s\n", problem.c_str());
    std::abort();
  }
  // Only models whose export stays small: a box of up to 2^28 cells is a
  // valid export, but not one to write a few hundred times a second.
  const cubewright::conversion_result cells =
      cubewright::read_model_cells(document, cubewright::content_kind::model_document, "model.xml");
  if (cells.ok && cubewright::bounding_box_cells(cells.placed) > (std::size_t{1} << 16)) return 0;
  if (export_of(document, false) != export_of(document, true)) {
    std::fprintf(stderr, "property failed: an export read in stretches differs\n");
    std::abort();
  }
  return 0;
}
