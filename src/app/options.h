// The command line: usage text, options and conversion options.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
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
extern const std::array<std::string_view, 25> option_lines;

/// The program's version, as --version prints it after "cubewright ".
extern const std::string_view program_version;

/// Reads the options from at least two arguments the lenient way: input,
/// output, up to three offsets (atoi rules), then up to three mirror switches
/// that count by their presence alone. Never fails; later arguments are
/// ignored.
conversion_options parse_options(const std::vector<std::string>& arguments);

/// Reads the same arguments strictly: an offset must be a whole number
/// (blanks around it, an optional sign, digits, within 32 bits) and a mirror
/// switch must not say no ("0", "no", "false", "off" or nothing), since any
/// text there mirrors. On a mistake, `error` says which argument and why.
bool parse_options_strictly(const std::vector<std::string>& arguments, conversion_options& options,
                            std::string& error);

/// The whole number an offset argument holds, read strictly (see above).
std::optional<std::int32_t> whole_number(std::string_view text);

/// What the command line asks for.
enum class program_action { usage, help, version, convert, fail };

/// The whole command line: options before the input, then the positional
/// arguments that parse_options reads.
struct command_line {
  program_action action = program_action::usage;
  conversion_options options;
  output_format format = output_format::xml;
  bool verbose = false;
  bool lenient = false;       // the arguments and the CSV input read the old, lenient way
  bool each = false;          // every positional argument is an input, converted beside itself
  bool ask = false;           // replace an existing output of the same kind only after asking
  bool format_given = false;  // --to was given
  std::vector<std::string> inputs;  // with `each`
  std::string preview_path;         // empty: no picture
  std::string compare_path;         // empty: nothing to compare with
  std::string fit_path;             // empty: placed by the offsets alone
  fit_rules fit;                    // how the model is lined up with the one at fit_path
  std::string error;                // with program_action::fail: what is wrong, one line
};

/// True when an argument before "--" is an option: it begins with "--", or
/// with "-" and a letter. A negative number ("-2") is an offset.
bool is_option(std::string_view argument);

/// Reads the options wherever they stand before "--", then the positional
/// arguments. No arguments at all ask for the usage text. With --lenient,
/// fewer than two positional arguments do too; otherwise a command that
/// cannot run (one positional argument, an option without its value, an
/// unknown or repeated option) fails with a line that says what is missing.
command_line parse_command_line(const std::vector<std::string>& arguments);

/// What --each writes for `input`: the format --to gave, or else .vox for a
/// model document (NAME.xml: it keeps its place, where CSV would not) and a
/// model document for anything else.
output_format each_output_format(std::string_view input, bool format_given, output_format given);

/// Where --each writes: beside the input, its extension (if any) replaced by
/// the format's (.xml, .csv or .vox).
std::string each_output_path(const std::string& input, output_format format);

}  // namespace cubewright
