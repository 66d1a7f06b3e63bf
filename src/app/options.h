// The command line: usage text and conversion options.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "voxel_model/voxel_record.h"

namespace cubewright {

/// The parsed command line. The placement (offsets and axis factors) is what
/// the cell walk reads.
struct conversion_options : model_placement {
  std::string input_csv;
  std::string output_xml;
};

/// The usage text, one entry a line, without line ends.
extern const std::array<std::string_view, 11> usage_lines;

/// True when the arguments (those after the program name) ask for the usage
/// text rather than a conversion: fewer than two of them.
bool wants_usage(const std::vector<std::string>& arguments);

/// Reads the options from at least two arguments: input, output, up to three
/// offsets (atoi rules), then up to three mirror switches that count by their
/// presence alone. Never fails; later arguments are ignored.
conversion_options parse_options(const std::vector<std::string>& arguments);

}  // namespace cubewright
