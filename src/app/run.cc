#include "app/run.h"

#include <optional>

#include "app/conversion.h"
#include "app/options.h"
#include "app/platform.h"

namespace cubewright {
namespace {

bool print_usage(io_failure& failure) {
  std::string text;
  for (std::string_view line : usage_lines) {
    text += line;
    text += native_line_end;
  }
  return write_standard_output(text, failure);
}

int report(const io_failure& failure, const std::string& path) {
  print_error_line("cubewright: " + failure.what + ": " + path + ": " + failure.reason);
  return 1;
}

struct file_sink_state {
  output_file* file;
  io_failure* failure;
};

bool write_to_file(void* context, const char* data, std::size_t size) {
  auto* state = static_cast<file_sink_state*>(context);
  return write_output_file(*state->file, data, size, *state->failure);
}

// Converts the text of the whole input into the output file.
int convert_input(const conversion_options& options, std::string_view text) {
  const token_list tokens = read_token_list(text);
  const std::optional<grid_size> size = parse_grid_size(tokens);
  if (!size) {
    return report(
        {"cannot read grid size", "fewer than three fields (the header needs x, y and z sizes)"},
        options.input_csv);
  }

  io_failure failure;
  output_file output;
  if (!open_output_file(options.output_xml, output, failure)) {
    return report(failure, options.output_xml);
  }
  file_sink_state state{&output, &failure};
  const output_sink sink{&state, &write_to_file};
  if (!write_model(tokens, *size, options, native_line_end, sink)) {
    discard_output_file(output);
    return report(failure, options.output_xml);
  }
  if (!commit_output_file(output, failure)) return report(failure, options.output_xml);
  return 0;
}

}  // namespace

int run_conversion(const std::vector<std::string>& arguments) {
  if (wants_usage(arguments)) {
    io_failure failure;
    return print_usage(failure) ? 0 : report(failure, "standard output");
  }
  const conversion_options options = parse_options(arguments);

  // The whole input is read before the output is opened, so an output path
  // that names the input converts the file in place.
  input_file input;
  io_failure failure;
  if (!open_input_file(options.input_csv, input, failure)) {
    return report(failure, options.input_csv);
  }
  const int status = convert_input(options, input.text);
  close_input_file(input);
  return status;
}

}  // namespace cubewright
