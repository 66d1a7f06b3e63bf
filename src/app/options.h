// The command line: usage text, options and conversion options.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/fit.h"
#include "conversion/recognise.h"
#include "model/placed_model.h"

namespace cubewright {

/// The parsed positional arguments. The placement (offsets and axis factors)
/// is what the cell walk reads.
struct conversion_options : model_placement {
  std::string input_path;
  std::string output_path;
};

/// The usage text, one entry a line, without line ends.
extern const std::array<std::string_view, 11> usage_lines;

/// The lines that --help adds after the usage text.
extern const std::array<std::string_view, 18> option_lines;

/// The program's version, as --version prints it after "cubewright ".
extern const std::string_view program_version;

/// True when the arguments (those after the program name) ask for the usage
/// text rather than a conversion: fewer than two of them.
bool wants_usage(const std::vector<std::string>& arguments);

/// Reads the options from at least two arguments: input, output, up to three
/// offsets (atoi rules), then up to three mirror switches that count by their
/// presence alone. Never fails; later arguments are ignored.
conversion_options parse_options(const std::vector<std::string>& arguments);

/// What the command line asks for.
enum class program_action { usage, help, version, convert, fail };

/// The whole command line: options before the input, then the positional
/// arguments that parse_options reads.
struct command_line {
  program_action action = program_action::usage;
  conversion_options options;
  output_format format = output_format::xml;
  bool verbose = false;
  std::string preview_path;  // empty: no picture
  std::string compare_path;  // empty: nothing to compare with
  std::string fit_path;      // empty: placed by the offsets alone
  fit_rules fit;             // how the model is lined up with the one at fit_path
  std::string error;         // with program_action::fail: what is wrong, one line
};

/// Reads options up to the first argument that does not begin with "-" (or
/// past "--"), then the positional arguments. A command line whose first
/// argument does not begin with "-" means what it meant before options
/// existed. A single argument other than -h, --help or --version asks for
/// the usage text, as do fewer than two positional arguments.
command_line parse_command_line(const std::vector<std::string>& arguments);

}  // namespace cubewright
