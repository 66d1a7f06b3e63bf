#include "app/run.h"

#include <cstdio>
#include <optional>

#include "app/conversion.h"
#include "app/options.h"
#include "app/platform.h"
#include "app/threaded_sink.h"
#include "voxel_model/format_number.h"

namespace cubewright {
namespace {

// How much of an existing output is read to tell what it holds.
constexpr std::size_t recognised_start = std::size_t{1} << 16;

template <typename Lines>
bool print_lines(const Lines& lines) {
  for (std::string_view line : lines) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0) return false;
  }
  return !std::ferror(stdout);
}

int fail(const std::string& message) {
  print_error_line("cubewright: " + message);
  return 1;
}

int report(const io_failure& failure, const std::string& path) {
  return fail(failure.what + ": " + path + ": " + failure.reason);
}

struct file_sink_state {
  output_file* file;
  io_failure* failure;
};

bool write_to_file(void* context, const char* data, std::size_t size) {
  auto* state = static_cast<file_sink_state*>(context);
  return write_output_file(*state->file, data, size, *state->failure);
}

std::string number_text(float value) {
  char text[max_number_text];
  return std::string(text, format_number(value, text));
}

// "x -11..0 y 0..4 z 0..2"
std::string bounds_text(const placed_bounds& bounds) {
  std::string text;
  for (int axis = 0; axis < 3; ++axis) {
    if (axis != 0) text += ' ';
    text += static_cast<char>('x' + axis);
    text += ' ' + number_text(bounds.min[axis]) + ".." + number_text(bounds.max[axis]);
  }
  return text;
}

// A path as it is typed on a command line: quoted when it holds a blank.
std::string command_word(const std::string& path) {
  if (!path.empty() && path.find_first_of(" \t\"") == std::string::npos) return path;
  return "\"" + path + "\"";
}

// Refuses to replace an existing file that holds a model of another kind
// than the one written: the usual sign of swapped arguments. The input
// itself may be replaced, however it is named.
std::optional<std::string> wrong_kind_of_output(const std::string& output, content_kind writing,
                                                const std::string& input) {
  std::string start;
  if (!read_file_start(output, recognised_start, start)) return std::nullopt;
  const std::optional<content_kind> held = recognise_existing(start);
  if (!held || *held == writing || same_file(output, input)) return std::nullopt;
  return "will not replace " + output + ": it holds " + std::string(describe(*held)) + ", not " +
         std::string(describe(writing)) + " (are the input and output swapped?)";
}

// Converts the text of the whole input into the output file.
int convert_input(const command_line& line, std::string_view text, bool writer_thread) {
  const conversion_options& options = line.options;
  const content_kind input = recognise_input(text);
  if (input == content_kind::binary) {
    return fail("cannot read input: " + options.input_csv +
                ": holds NUL bytes and is no sproxel CSV export, model document or .vox file");
  }
  if (input == content_kind::sproxel_csv && !parse_grid_size(read_token_list(text))) {
    return fail(grid_size_failure(options.input_csv));
  }
  if (const std::optional<std::string> refusal =
          wrong_kind_of_output(options.output_xml, written_kind(line.format), options.input_csv)) {
    return fail(*refusal);
  }

  conversion_request request;
  request.text = text;
  request.input = input;
  request.input_path = options.input_csv;
  request.placement = options;
  request.format = line.format;
  request.line_end = native_line_end;
  request.count = line.verbose;

  io_failure failure;
  output_file output;
  if (!open_output_file(options.output_xml, output, failure)) {
    return report(failure, options.output_xml);
  }
  file_sink_state state{&output, &failure};
  threaded_sink writing;
  start_threaded_sink(writing, output_sink{&state, &write_to_file}, writer_thread);
  const conversion_result result = convert_model(request, sink_of(writing));
  // `failure` is the writing thread's until it has stopped.
  const bool written = finish_threaded_sink(writing);
  if (!result.ok || !written) {
    discard_output_file(output);
    if (result.sink_failed || !written) return report(failure, options.output_xml);
    return fail(result.failure);
  }
  if (!commit_output_file(output, failure)) return report(failure, options.output_xml);

  for (const std::string& note : result.notes) print_error_line("cubewright: " + note);
  bool printed = true;
  if (line.format == output_format::csv) {
    printed = print_output_line(
        "cubewright: wrote " + options.output_xml + " (" + std::to_string(result.grid_size[0]) +
        " x " + std::to_string(result.grid_size[1]) + " x " + std::to_string(result.grid_size[2]) +
        " cells, " + std::to_string(result.voxel_count) +
        " voxels); to convert it back to the same place: cubewright " +
        command_word(options.output_xml) + " OUT.xml " + std::to_string(result.grid_min[0]) + " " +
        std::to_string(result.grid_min[1]) + " " + std::to_string(result.grid_min[2]));
  }
  if (line.verbose && printed) {
    std::string said = "cubewright: wrote " + options.output_xml + ": " +
                       std::to_string(result.voxel_count) + " voxels";
    if (!result.bounds.empty) said += ", " + bounds_text(result.bounds);
    printed = print_output_line(said);
  }
  if (!printed) return fail("cannot write to standard output");
  return 0;
}

}  // namespace

int run_conversion(const std::vector<std::string>& arguments) {
  return run_conversion(arguments, CUBEWRIGHT_WRITER_THREAD != 0);
}

int run_conversion(const std::vector<std::string>& arguments, bool writer_thread) {
  const command_line line = parse_command_line(arguments);
  switch (line.action) {
    case program_action::usage:
      if (!print_lines(usage_lines)) return fail("cannot write the usage text to standard output");
      return 0;
    case program_action::help:
      if (!print_lines(usage_lines) || !print_lines(option_lines)) {
        return fail("cannot write the help text to standard output");
      }
      return 0;
    case program_action::version:
      if (!print_output_line("cubewright " + std::string(program_version))) {
        return fail("cannot write to standard output");
      }
      return 0;
    case program_action::fail:
      return fail(line.error);
    case program_action::convert:
      break;
  }

  // The whole input is read before the output is opened, so an output path
  // that names the input converts the file in place.
  input_file input;
  io_failure failure;
  if (!open_input_file(line.options.input_csv, input, failure)) {
    return report(failure, line.options.input_csv);
  }
  const int status = convert_input(line, input.text, writer_thread);
  close_input_file(input);
  return status;
}

}  // namespace cubewright
