#include "app/run.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "conversion/convert.h"
#include "app/options.h"
#include "app/platform.h"
#include "io/threaded_sink.h"
#include "preview/png.h"
#include "preview/preview.h"
#include "threads/other_core.h"
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

std::string binary_input_failure(const std::string& path) {
  return "cannot read input: " + path +
         ": holds NUL bytes and is no sproxel CSV export, model document or .vox file";
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

// The title line of the picture: what was converted and how it was placed.
std::string picture_title(const command_line& line, std::size_t voxels) {
  const conversion_options& options = line.options;
  std::string mirrored;
  const float factors[3] = {options.axis_factor_x, options.axis_factor_y, options.axis_factor_z};
  for (int axis = 0; axis < 3; ++axis) {
    if (factors[axis] < 0) mirrored += static_cast<char>('x' + axis);
  }
  return options.input_csv + " -> " + options.output_xml + ": " + std::to_string(voxels) +
         " voxels, offsets " + std::to_string(options.offset_x) + " " +
         std::to_string(options.offset_y) + " " + std::to_string(options.offset_z) + ", mirrored " +
         (mirrored.empty() ? std::string("none") : mirrored);
}

// The voxels of the model to compare with, as they stand.
bool read_compared_model(const std::string& path, std::vector<cell_voxel>& cells) {
  input_file input;
  io_failure failure;
  if (!open_input_file(path, input, failure)) {
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

// The picture of a conversion as PNG bytes, drawn from the input read again
// with the same placement: on a thread of its own while the run goes on
// when one can be started, else when it is asked for. Empty when there was
// no memory for it. The request is copied, so the run may go on changing
// its own; whatever the input turns out to be, reading it is safe.
class picture_drawing {
 public:
  picture_drawing(const command_line& line, const conversion_request& request,
                  const std::vector<cell_voxel>* compared)
      : line_(line), request_(request), compared_(compared) {}
  picture_drawing(const picture_drawing&) = delete;
  picture_drawing& operator=(const picture_drawing&) = delete;
  ~picture_drawing() { finish(); }

  void start() {
    try {
      thread_ = std::thread([this] { draw(2); });
      start_on_another_core(thread_);
    } catch (const std::system_error&) {
      // Drawn when asked for.
    }
  }

  const picture_bytes& png() {
    finish();
    if (!drawn_) draw(1);
    return png_;
  }

 private:
  void finish() {
    if (thread_.joinable()) thread_.join();
  }

  // With `threads` 2, the picture may take a second thread to compress
  // itself: by then the run's own work is mostly done.
  void draw(int threads) {
    drawn_ = true;
    try {
      preview_request picture;
      std::vector<cell_voxel> placed;
      std::size_t count = 0;
      const std::optional<preview_sketch> sketched = sketch();
      if (sketched) {
        picture.sketch = &*sketched;
        count = sketched->added();
      } else {
        placed =
            read_model_cells(request_.text, request_.input, request_.input_path, request_.placement)
                .placed;
        picture.model = &placed;
        picture.compare = compared_;
        count = placed.size();
      }
      picture.title = picture_title(line_, count);
      png_ = encode_png(render_preview(picture), threads);
    } catch (const std::bad_alloc&) {
      png_.clear();
    }
  }

  // Of an export drawn alone, only what the picture shows is kept, found as
  // its cells go by. None when the export cannot be drawn that way.
  std::optional<preview_sketch> sketch() const {
    if (request_.input != content_kind::sproxel_csv || compared_ != nullptr) return std::nullopt;
    const std::optional<cell_box> box = exported_grid_cells(request_.text, request_.placement);
    if (!box || !preview_sketch::fits(box->low, box->high)) return std::nullopt;
    preview_sketch seen(box->low, box->high);
    for_each_exported_cell(request_.text, request_.placement,
                           [&seen](const cell_voxel* cells, std::size_t n) { seen.add(cells, n); });
    if (seen.spoilt()) return std::nullopt;
    return seen;
  }

  const command_line& line_;
  conversion_request request_;  // a copy, never changed
  const std::vector<cell_voxel>* compared_;
  std::thread thread_;
  picture_bytes png_;
  bool drawn_ = false;
};

// Writes the picture through the same safe replacement as every output. The
// model's own output is committed by the caller only after this succeeded.
bool write_picture(const command_line& line, const picture_bytes& png) {
  if (png.empty()) {
    fail("cannot draw preview: " + line.preview_path + ": out of memory");
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

// A picture must not take the place of a model or of the conversion's output.
std::optional<std::string> wrong_picture_path(const command_line& line) {
  const std::string& path = line.preview_path;
  if (path == line.options.output_xml || same_file(path, line.options.output_xml) ||
      same_file(path, line.options.input_csv)) {
    return "will not draw the preview into " + path + ": it is the input or the output";
  }
  std::string start;
  if (!read_file_start(path, recognised_start, start)) return std::nullopt;
  const std::optional<content_kind> held = recognise_existing(start);
  if (!held) return std::nullopt;
  return "will not replace " + path + " with a picture: it holds " + std::string(describe(*held));
}

// Copies bytes of a mapped input; the context is its input_file.
bool copy_input(const void* context, std::size_t offset, char* out, std::size_t size) {
  return read_input_range(*static_cast<const input_file*>(context), offset, out, size);
}

// Converts the text of the whole input into the output file.
int convert_input(const command_line& line, const input_file& source, bool writer_thread) {
  const std::string_view text = source.text;
  const conversion_options& options = line.options;
  const bool drawing = !line.preview_path.empty();
  conversion_request request;
  request.text = text;
  if (source.mapping != nullptr) request.copier = {&source, &copy_input};
  request.input = recognise_input_unchecked(text);
  request.input_path = options.input_csv;
  request.placement = options;
  request.format = line.format;
  request.line_end = native_line_end;
  request.count = line.verbose;
  // A picture is drawn on a thread of its own, which takes the second core:
  // the document is then written in turn (more threads were no faster).
  const thread_plan fitting = plan_threads(request, text.size());
  const thread_plan plan = writer_thread && !drawing ? fitting : thread_plan::in_turn;
  request.parallel = plan == thread_plan::two_formatting;
  if (drawing && writer_thread && line.compare_path.empty() &&
      request.input == content_kind::sproxel_csv && fitting == thread_plan::two_formatting) {
    // In turn, but in the pieces two threads would take, so that the export
    // is checked for NUL bytes as they check it, a piece just before it is
    // read, rather than by a pass of its own: that pass came before the
    // document's first byte, and where the export's pages were not mapped
    // yet, it paid for mapping all of them alone.
    request.parallel = true;
    request.piece_threads = 1;
  }
  request.read_ahead = writer_thread && reads_ahead(request, text.size());
  // An export that two threads format into a file put in place at the end
  // is checked for NUL bytes by those threads, each piece just before it is
  // read, rather than by a pass of its own first. So every failure first
  // finishes the check: the message stays the one the check would have
  // given before anything else, and nothing is left of the output.
  request.nul_unchecked = request.input == content_kind::sproxel_csv && request.parallel &&
                          replaced_at_the_end(options.output_xml);
  // Without a model to compare with, the picture needs nothing that the
  // checks below find out, so it is drawn meanwhile; a run that fails waits
  // for it and throws it away.
  std::vector<cell_voxel> compared;
  picture_drawing picture(line, request, line.compare_path.empty() ? nullptr : &compared);
  if (drawing && writer_thread && line.compare_path.empty()) picture.start();
  if (request.input == content_kind::sproxel_csv && !request.nul_unchecked && holds_nul(text)) {
    request.input = content_kind::binary;
  }
  // Fails with `message`, or with the NUL check's own while it is not done.
  const auto fail_checked = [&](const std::string& message) {
    const bool binary = request.nul_unchecked && holds_nul(text);
    return fail(binary ? binary_input_failure(options.input_csv) : message);
  };
  const content_kind input = request.input;
  if (input == content_kind::binary) {
    return fail(binary_input_failure(options.input_csv));
  }
  if (input == content_kind::sproxel_csv && !parse_grid_size(read_token_list(text))) {
    return fail_checked(grid_size_failure(options.input_csv));
  }
  if (const std::optional<std::string> refusal =
          wrong_kind_of_output(options.output_xml, written_kind(line.format), options.input_csv)) {
    return fail_checked(*refusal);
  }
  if (drawing) {
    if (const std::optional<std::string> refusal = wrong_picture_path(line)) {
      return fail_checked(*refusal);
    }
    if (!line.compare_path.empty()) {
      if (!read_compared_model(line.compare_path, compared)) return 1;
      if (writer_thread) picture.start();
    }
  }

  io_failure failure;
  output_file output;
  if (!open_output_file(options.output_xml, output, failure)) {
    return fail_checked(reported(failure, options.output_xml));
  }
  if (request.nul_unchecked && output.temp_path.empty()) {
    // Something other than a file took the output's place meanwhile: what is
    // written there stays, so the input is checked before anything is.
    if (holds_nul(text)) {
      discard_output_file(output);
      return fail(binary_input_failure(options.input_csv));
    }
    request.nul_unchecked = false;
  }
  file_sink_state state{&output, &failure};
  threaded_sink writing;
  start_threaded_sink(writing, output_sink{&state, &write_to_file},
                      plan == thread_plan::writing_thread, output_block_size(text.size()));
  const conversion_result result = convert_model(request, sink_of(writing));
  // `failure` is the writing thread's until it has stopped.
  const bool written = finish_threaded_sink(writing);
  if (!result.ok || !written) {
    discard_output_file(output);
    return fail_checked(result.sink_failed || !written ? reported(failure, options.output_xml)
                                                       : result.failure);
  }
  if (drawing && !write_picture(line, picture.png())) {
    discard_output_file(output);
    return 1;
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

  // The whole input is read before the output is opened, so an output path
  // that names the input converts the file in place.
  input_file input;
  io_failure failure;
  if (!open_input_file(line.options.input_csv, input, failure)) {
    return report(failure, line.options.input_csv);
  }
  const int status = convert_input(line, input, writer_thread);
  close_input_file(input);
  return status;
}

}  // namespace cubewright
