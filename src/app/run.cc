#include "app/run.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/options.h"
#include "app/platform.h"
#include "conversion/convert.h"
#include "conversion/fit.h"
#include "conversion/picture.h"
#include "io/threaded_sink.h"
#include "model_document/model_reader.h"
#include "sproxel_csv/export_check.h"
#include "text/format_number.h"

namespace cubewright {
namespace {

// How much of an existing output is read to tell what it holds.
constexpr std::size_t recognised_start = std::size_t{1} << 16;

// The lines as one text, each with the platform's line end.
template <typename Lines>
std::string text_of(const Lines& lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += native_line_end;
  }
  return text;
}

int fail(const std::string& message) {
  print_error_line("cubewright: " + message);
  return 1;
}

std::string reported(const io_failure& failure, const std::string& path) {
  return failure.what + ": " + path + ": " + failure.reason;
}

int report(const io_failure& failure, const std::string& path) {
  return fail(reported(failure, path));
}

struct file_sink_state {
  output_file* file;
  io_failure* failure;
};

bool write_to_file(void* context, const char* data, std::size_t size) {
  auto* state = static_cast<file_sink_state*>(context);
  return write_output_file(*state->file, data, size, *state->failure);
}

// "x -11..0 y 0..4 z 0..2"
std::string bounds_text(const placed_bounds& bounds) {
  std::string text;
  for (int axis = 0; axis < 3; ++axis) {
    if (axis != 0) text += ' ';
    text += static_cast<char>('x' + axis);
    text += ' ' + format_number(bounds.min[axis]) + ".." + format_number(bounds.max[axis]);
  }
  return text;
}

// A path as it is typed on a command line: quoted when it holds a blank.
std::string command_word(const std::string& path) {
  if (!path.empty() && path.find_first_of(" \t\"") == std::string::npos) return path;
  return "\"" + path + "\"";
}

// "1 voxel", "2 voxels".
std::string voxels_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " voxel" : " voxels");
}

// What becomes of an existing output.
enum class replacing { go, refused, kept };

// The status of a conversion that left an existing output as the user
// asked, within the run; the program ends with 0 for it.
constexpr int kept_status = -1;

// Whether the existing file at `output` may be replaced by `writing`: only
// when it is empty, the input itself, or a model of the kind written (after
// asking, with --ask), and never when it is read-only. Says why not.
replacing existing_output(const command_line& line, const std::string& output, content_kind writing,
                          std::string_view written_as, std::string& refusal,
                          std::string& skeleton_note) {
  std::string start;
  if (names_standard_stream(output) || !read_file_start(output, recognised_start, start)) {
    return replacing::go;
  }
  if (is_read_only(output)) {
    refusal = "will not replace " + output + ": it is read-only";
    return replacing::refused;
  }
  const std::string& input = line.options.input_path;
  if (start.empty() || same_file(output, input)) return replacing::go;
  const std::optional<content_kind> held = recognise_existing(start);
  if (held == writing) {
    if (line.ask && !ask_yes_no(output + " exists: replace it? [y/N] ")) {
      print_error_line("cubewright: kept " + output + " as it was");
      return replacing::kept;
    }
    // The tool writes no skeleton: a rigged document loses its own.
    std::string old;
    io_failure unread;
    if (writing == content_kind::model_document && read_whole_file(output, old, unread) &&
        holds_skeleton(old)) {
      skeleton_note = output +
                      " held a skeleton; the new model has none (keep a copy of the "
                      "rigged document to put it back)";
    }
    return replacing::go;
  }
  refusal = "will not replace " + output + ": it holds ";
  if (held) {
    refusal += std::string(describe(*held)) + ", not " + std::string(written_as) +
               " (are the input and output swapped?)";
  } else {
    refusal += std::string(describe_other(start)) + ", not " + std::string(written_as);
  }
  return replacing::refused;
}

// The title line of the picture, what was converted and how it was placed,
// before and after its count of voxels.
std::pair<std::string, std::string> picture_title(const command_line& line) {
  const conversion_options& options = line.options;
  std::string mirrored;
  const float factors[3] = {options.axis_factor_x, options.axis_factor_y, options.axis_factor_z};
  for (int axis = 0; axis < 3; ++axis) {
    if (factors[axis] < 0) mirrored += static_cast<char>('x' + axis);
  }
  return {options.input_path + " -> " + options.output_path + ": ",
          " voxels, offsets " + std::to_string(options.offset_x) + " " +
              std::to_string(options.offset_y) + " " + std::to_string(options.offset_z) +
              ", mirrored " + (mirrored.empty() ? std::string("none") : mirrored) +
              (line.compare_path.empty() ? std::string() : ", over " + line.compare_path)};
}

// The voxels of the model to compare with, as they stand.
bool read_compared_model(const std::string& path, std::vector<cell_voxel>& cells) {
  input_file input;
  io_failure failure;
  if (!open_input_file(path, input, failure)) {
    failure.what = "cannot open the model to compare";
    report(failure, path);
    return false;
  }
  const content_kind kind = recognise_input(input.text);
  conversion_result read;
  if (kind == content_kind::binary) {
    read.failure = binary_input_failure(path);
  } else {
    read = read_model_cells(input.text, kind, path);
  }
  close_input_file(input);
  if (!read.ok) {
    fail(read.failure);
    return false;
  }
  cells = std::move(read.placed);
  return true;
}

// Fits the input to the model --fit names, read whole before the output is
// touched (it may be the output itself, and is not mapped, so that the
// input's mapping stays the one watched): the placement's offsets become
// the fitted ones, and `said` the line that reports them. False after
// saying why not.
bool fit_input(command_line& line, std::string_view text, std::string& said) {
  std::string target;
  io_failure failure;
  if (!read_whole_file(line.fit_path, target, failure)) {
    failure.what = "cannot open the model to fit to";
    report(failure, line.fit_path);
    return false;
  }
  const fitted_placement fitted = fit_placement(text, line.options.input_path, target,
                                                line.fit_path, line.options, line.fit, line.format);
  if (!fitted.ok) {
    fail(fitted.failure);
    return false;
  }
  line.options.offset_x = fitted.offsets[0];
  line.options.offset_y = fitted.offsets[1];
  line.options.offset_z = fitted.offsets[2];
  said = fitted.said;
  return true;
}

// Writes the picture through the same safe replacement as every output. The
// model's own output is committed by the caller only after this succeeded.
bool write_picture(const command_line& line, const picture_bytes& png) {
  if (png.empty()) {
    fail("cannot make the picture: " + line.preview_path + ": out of memory");
    return false;
  }
  io_failure failure;
  output_file picture;
  if (!open_output_file(line.preview_path, picture, failure) ||
      !write_output_file(picture, reinterpret_cast<const char*>(png.data()), png.size(), failure)) {
    discard_output_file(picture);
    report(failure, line.preview_path);
    return false;
  }
  if (!commit_output_file(picture, failure)) {
    report(failure, line.preview_path);
    return false;
  }
  return true;
}

// A picture must not take the place of a model, of the conversion's output
// or of anything but a picture.
std::optional<std::string> wrong_picture_path(const command_line& line) {
  const std::string& path = line.preview_path;
  if (path == line.options.output_path || same_file(path, line.options.output_path) ||
      same_file(path, line.options.input_path)) {
    return "will not draw the picture into " + path + ": it is the input or the output";
  }
  std::string start;
  if (!read_file_start(path, recognised_start, start)) return std::nullopt;
  if (is_read_only(path)) return "will not replace " + path + " with a picture: it is read-only";
  if (start.empty()) return std::nullopt;
  const std::optional<content_kind> held = recognise_existing(start);
  const std::string_view other = describe_other(start);
  if (!held && other == "a PNG picture") return std::nullopt;
  return "will not replace " + path + " with a picture: it holds " +
         std::string(held ? describe(*held) : other) + ", not a PNG picture";
}

// Copies bytes of a mapped input; the context is its input_file.
bool copy_input(const void* context, std::size_t offset, char* out, std::size_t size) {
  return read_input_range(*static_cast<const input_file*>(context), offset, out, size);
}

// The conversion a command line asks for, and its plan.
conversion_request request_for(const command_line& line, const input_file& source,
                               bool writer_thread) {
  const std::string_view text = source.text;
  const conversion_options& options = line.options;
  conversion_request request;
  request.text = text;
  if (source.mapping != nullptr) request.copier = {&source, &copy_input};
  request.input = recognise_input_unchecked(text);
  request.input_path = options.input_path;
  request.placement = options;
  request.format = line.format;
  request.line_end = native_line_end;
  request.count = line.verbose;
  // An export's positions are checked before the output is opened.
  request.exact_positions = !line.lenient && line.format == output_format::xml &&
                            request.input != content_kind::sproxel_csv;
  run_facts facts;
  facts.input = request.input;
  facts.input_size = text.size();
  facts.format = line.format;
  facts.count = line.verbose;
  facts.drawing = !line.preview_path.empty();
  facts.comparing = !line.compare_path.empty();
  facts.threads_allowed = writer_thread;
  facts.replaced_at_the_end = replaced_at_the_end(options.output_path);
  request.plan = plan_run(facts);
  return request;
}

// What a run that succeeded says: its notes on standard error, then the way
// back of an export and, with -v, what was written; a fitted run first
// says how it was fitted.
int report_success(const command_line& line, const conversion_result& result,
                   const std::string& fitted, const std::string& skeleton_note) {
  const conversion_options& options = line.options;
  if (!fitted.empty()) print_error_line("cubewright: " + fitted);
  for (const std::string& note : result.notes) print_error_line("cubewright: " + note);
  if (!skeleton_note.empty()) print_error_line("cubewright: " + skeleton_note);
  if (line.format == output_format::csv) {
    // An output whose name begins with "-" would read as an option.
    const std::string options_end = options.output_path.rfind('-', 0) == 0 ? "-- " : "";
    print_error_line(
        "cubewright: wrote " + options.output_path + " (" + std::to_string(result.grid_size[0]) +
        " x " + std::to_string(result.grid_size[1]) + " x " + std::to_string(result.grid_size[2]) +
        " cells, " + voxels_text(result.voxel_count) +
        "); to convert it back to the same place: cubewright " + options_end +
        command_word(options.output_path) + " OUT.xml " + std::to_string(result.grid_min[0]) + " " +
        std::to_string(result.grid_min[1]) + " " + std::to_string(result.grid_min[2]));
  }
  if (line.verbose) {
    std::string said =
        "cubewright: wrote " + options.output_path + ": " + voxels_text(result.voxel_count);
    if (!result.bounds.empty) said += ", " + bounds_text(result.bounds);
    print_error_line(said);
  }
  return 0;
}

// Converts the text of the whole input into the output file: checks what
// can be checked before the output is opened, converts into a temporary
// output, draws the picture, and puts both in place.
int convert_input(const command_line& line, const input_file& source, bool writer_thread,
                  const std::string& fitted) {
  const std::string_view text = source.text;
  const conversion_options& options = line.options;
  const bool drawing = !line.preview_path.empty();
  conversion_request request = request_for(line, source, writer_thread);
  // Without a model to compare with, the picture needs nothing that the
  // checks below find out, so it is drawn meanwhile; a run that fails waits
  // for it and throws it away.
  std::vector<cell_voxel> compared;
  auto [title_head, title_tail] = picture_title(line);
  picture_drawing picture(request, line.compare_path.empty() ? nullptr : &compared,
                          std::move(title_head), std::move(title_tail));
  if (request.plan.picture_thread && line.compare_path.empty()) picture.start();
  if (request.input == content_kind::sproxel_csv && !request.plan.nul_in_pieces &&
      holds_nul(text)) {
    request.input = content_kind::binary;
  }
  // Fails with `message`, or with the NUL check's own while it is not done.
  const auto fail_checked = [&](const std::string& message) {
    const bool binary = request.plan.nul_in_pieces && holds_nul(text);
    return fail(binary ? binary_input_failure(options.input_path) : message);
  };
  const content_kind input = request.input;
  if (input == content_kind::binary) {
    return fail(binary_input_failure(options.input_path));
  }
  if (input == content_kind::sproxel_csv && !line.lenient) {
    if (const std::optional<std::string> fault = export_fault(text, options.input_path)) {
      return fail_checked("cannot read input: " + *fault + " (--lenient reads it anyway)");
    }
  }
  if (input == content_kind::sproxel_csv && !has_grid_header(text)) {
    return fail_checked(grid_size_failure(options.input_path));
  }
  if (input == content_kind::sproxel_csv && !line.lenient && line.format == output_format::xml) {
    if (const std::optional<std::string> fault =
            inexact_positions(text, options, options.input_path)) {
      return fail_checked(*fault);
    }
  }
  const content_kind made = written_kind(line.format);
  std::string not_replaced;
  std::string skeleton_note;
  switch (existing_output(line, options.output_path, made, describe(made), not_replaced,
                          skeleton_note)) {
    case replacing::go:
      break;
    case replacing::refused:
      return fail_checked(not_replaced);
    case replacing::kept:
      return kept_status;
  }
  if (drawing) {
    if (const std::optional<std::string> refusal = wrong_picture_path(line)) {
      return fail_checked(*refusal);
    }
    if (!line.compare_path.empty()) {
      if (!read_compared_model(line.compare_path, compared)) return 1;
      if (request.plan.picture_thread) picture.start();
    }
  }

  io_failure failure;
  output_file output;
  if (!open_output_file(options.output_path, output, failure)) {
    return fail_checked(reported(failure, options.output_path));
  }
  if (request.plan.nul_in_pieces && output.temp_path.empty()) {
    // Something other than a file took the output's place meanwhile: what is
    // written there stays, so the input is checked before anything is.
    if (holds_nul(text)) {
      discard_output_file(output);
      return fail(binary_input_failure(options.input_path));
    }
    request.plan.nul_in_pieces = false;
  }
  file_sink_state state{&output, &failure};
  threaded_sink writing;
  start_threaded_sink(writing, output_sink{&state, &write_to_file}, request.plan.writing_thread,
                      request.plan.block_size);
  const conversion_result result = convert_model(request, sink_of(writing));
  // `failure` is the writing thread's until it has stopped.
  const bool written = finish_threaded_sink(writing);
  if (!result.ok || !written) {
    discard_output_file(output);
    return fail_checked(result.sink_failed || !written ? reported(failure, options.output_path)
                                                       : result.failure);
  }
  if (drawing && !write_picture(line, picture.png())) {
    discard_output_file(output);
    return 1;
  }
  if (!commit_output_file(output, failure)) return report(failure, options.output_path);

  return report_success(line, result, fitted, skeleton_note);
}

// Converts the one input of a command line into its output.
int convert_file(const command_line& line, bool writer_thread) {
  // The whole input is read before the output is opened, so an output path
  // that names the input converts the file in place.
  input_file input;
  io_failure failure;
  if (!open_input_file(line.options.input_path, input, failure)) {
    return report(failure, line.options.input_path);
  }
  command_line placed = line;
  std::string fitted;
  if (!line.fit_path.empty() && !fit_input(placed, input.text, fitted)) {
    close_input_file(input);
    return 1;
  }
  const int status = convert_input(placed, input, writer_thread, fitted);
  close_input_file(input);
  return status;
}

// Converts every input of --each beside itself, each as a command line of
// its own would, and sums up; 1 when any of them failed.
int convert_each(const command_line& line, bool writer_thread) {
  std::size_t converted = 0;
  std::size_t kept = 0;
  std::size_t failed = 0;
  for (const std::string& input : line.inputs) {
    command_line one = line;
    one.each = false;
    one.options.input_path = input;
    one.format = each_output_format(input, line.format_given, line.format);
    one.options.output_path = each_output_path(input, one.format);
    const int status = convert_file(one, writer_thread);
    if (status == 0) {
      ++converted;
      print_error_line("cubewright: converted " + input + " to " + one.options.output_path);
    } else if (status == kept_status) {
      ++kept;
    } else {
      ++failed;
    }
  }
  if (line.inputs.size() > 1) {
    std::string summary = "cubewright: " + std::to_string(converted) + " converted";
    if (kept != 0) summary += ", " + std::to_string(kept) + " kept as they were";
    summary += ", " + std::to_string(failed) + " failed";
    print_error_line(summary);
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace

int run_conversion(const std::vector<std::string>& arguments) {
  return run_conversion(arguments, CUBEWRIGHT_WRITER_THREAD != 0);
}

int run_conversion(const std::vector<std::string>& arguments, bool writer_thread) {
  const command_line line = parse_command_line(arguments);
  switch (line.action) {
    case program_action::usage:
    case program_action::help: {
      std::string text = text_of(usage_lines);
      if (line.action == program_action::help) text += text_of(option_lines);
      io_failure failure;
      return write_standard_output(text, failure) ? 0 : report(failure, "standard output");
    }
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

  const int status =
      line.each ? convert_each(line, writer_thread) : convert_file(line, writer_thread);
  return status == kept_status ? 0 : status;
}

}  // namespace cubewright
