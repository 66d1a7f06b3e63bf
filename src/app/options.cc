#include "app/options.h"

#include "sproxel_csv/grid_size.h"

namespace cubewright {

const std::array<std::string_view, 11> usage_lines = {
    "cubewright v0.1 - sproxel CSV to ELDERMOOR XML converter. "
    "Copyright (c) 2026 the cubewright developers, MIT licence",
    "Usage:",
    "cubewright input_csv output_xml [offset_x] [offset_y] [offset_z] [flip_x]",
    "    input_csv    a CSV file exported from sproxel",
    "    output_xml   an XML file, to be used to replace an EMR voxel model",
    "    offset_x     optional x coordinate offset, useful for shifting weapon position to fit "
    "the soldier properly",
    "    offset_y     optional y coordinate offset, see offset_x",
    "    offset_z     optional z coordinate offset, see offset_y",
    "    flip_x       optional parameter, reverses the input model x axis",
    "e.g. ",
    "  cubewright shotgun.csv assault_rifle1.xml 4 -2 0 flip",
};

const std::array<std::string_view, 25> option_lines = {
    "",
    "cubewright [options] input output [offset_x] [offset_y] [offset_z] [flip_x] [flip_y] [flip_z]",
    "cubewright [options] --each file...",
    "The input is recognised by its content: a sproxel CSV export, a model document (.xml)",
    "or a MagicaVoxel .vox file. Options may stand anywhere before --:",
    "    --to FORMAT      what to write: xml (the model document, default), csv or vox",
    "    --mirror AXES    mirror along x, y and/or z, e.g. --mirror yz",
    "    --preview FILE   also draw the placed model into FILE (PNG)",
    "    --compare MODEL  draw MODEL over it in the preview, as it stands",
    "    --fit MODEL      move the model onto MODEL's place (the model it replaces):",
    "                     x and z centre to centre, y bottom to bottom; offsets add to it",
    "    --fit-align R    other rules per axis, e.g. x=min,y=centre (min, centre or max)",
    "    --each           convert every file beside itself: .csv and .vox to .xml,",
    "                     .xml to .vox (it keeps its place), or to the kind --to names",
    "    --ask            replace an existing output of the same kind only after asking",
    "    --lenient        read offsets, switches and CSV fields the old way: any text",
    "                     is a number (atoi) or a switch, any field a cell",
    "    -v, --verbose    say what was written: path, voxel count and bounds",
    "    -h, --help       show this text",
    "    --version        show the version",
    "    --               end of options (for an input whose name begins with -)",
    "Offsets are whole numbers; flip_x, flip_y and flip_z mirror x, y and z: any word",
    "but 0, no, false or off does it. Messages go to standard error. An existing file",
    "is only replaced by a model of its own kind. Keep a copy of the game's original",
    "file before you replace it.",
};

#ifndef CUBEWRIGHT_VERSION
#define CUBEWRIGHT_VERSION "0.0.0"
#endif
const std::string_view program_version = CUBEWRIGHT_VERSION;

conversion_options parse_options(const std::vector<std::string>& arguments) {
  conversion_options options;
  options.input_path = arguments.at(0);
  options.output_path = arguments.at(1);
  const std::size_t count = arguments.size();
  if (count > 2) options.offset_x = parse_decimal(arguments[2]);
  if (count > 3) options.offset_y = parse_decimal(arguments[3]);
  if (count > 4) options.offset_z = parse_decimal(arguments[4]);
  if (count > 5) options.axis_factor_x = -1.0f;
  if (count > 6) options.axis_factor_y = -1.0f;
  if (count > 7) options.axis_factor_z = -1.0f;
  return options;
}

std::optional<std::int32_t> whole_number(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{1} << 31) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

namespace {

// True when a switch's text reads as "no": it would mirror all the same.
bool says_no(std::string_view text) {
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    word += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return word.empty() || word == "0" || word == "no" || word == "false" || word == "off";
}

// An argument as a message quotes it.
std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace

bool parse_options_strictly(const std::vector<std::string>& arguments, conversion_options& options,
                            std::string& error) {
  static const char* const offset_names[3] = {"offset_x", "offset_y", "offset_z"};
  static const char* const switch_names[3] = {"flip_x", "flip_y", "flip_z"};
  options = parse_options(arguments);
  for (std::size_t axis = 0; axis < 3 && axis + 2 < arguments.size(); ++axis) {
    const std::string& text = arguments[axis + 2];
    if (!whole_number(text)) {
      error = std::string(offset_names[axis]) + " must be a whole number, not " + quoted(text) +
              " (--lenient reads it as " + std::to_string(parse_decimal(text)) + ")";
      return false;
    }
  }
  for (std::size_t axis = 0; axis < 3 && axis + 5 < arguments.size(); ++axis) {
    const std::string& text = arguments[axis + 5];
    if (says_no(text)) {
      const std::string name(1, static_cast<char>('x' + axis));
      error = switch_names[axis];
      error += " is " + quoted(text);
      error += ", which mirrors " + name + " all the same: any text there mirrors; write flip to ";
      error += "mirror " + name + ", or leave it out (--lenient mirrors)";
      return false;
    }
  }
  return true;
}

bool is_option(std::string_view argument) {
  if (argument.size() < 2 || argument[0] != '-') return false;
  const char second = argument[1];
  return second == '-' || (second >= 'a' && second <= 'z') || (second >= 'A' && second <= 'Z');
}

namespace {

command_line failure(std::string error) {
  command_line line;
  line.action = program_action::fail;
  line.error = std::move(error);
  return line;
}

// Splits "--name=value" into its name and value; `has_value` tells whether
// the "=" was there.
std::string_view option_name(std::string_view argument, std::string_view& value, bool& has_value) {
  const std::size_t equals = argument.rfind("--", 0) == 0 ? argument.find('=') : argument.npos;
  has_value = equals != argument.npos;
  value = has_value ? argument.substr(equals + 1) : std::string_view();
  return has_value ? argument.substr(0, equals) : argument;
}

bool read_format(std::string_view text, output_format& format) {
  if (text == "xml") {
    format = output_format::xml;
  } else if (text == "csv") {
    format = output_format::csv;
  } else if (text == "vox") {
    format = output_format::vox;
  } else {
    return false;
  }
  return true;
}

bool read_axes(std::string_view text, bool mirrored[3]) {
  if (text.empty()) return false;
  for (char axis : text) {
    if (axis < 'x' || axis > 'z') return false;
    mirrored[axis - 'x'] = true;
  }
  return true;
}

}  // namespace

namespace {

// Where the extension of a path's file name begins, or npos.
std::size_t extension_start(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t folder = path.find_last_of("/\\");
  if (dot == path.npos || (folder != path.npos && dot < folder) || dot == folder + 1) {
    return path.npos;
  }
  return dot;
}

}  // namespace

output_format each_output_format(std::string_view input, bool format_given, output_format given) {
  if (format_given) return given;
  const std::size_t dot = extension_start(input);
  std::string extension;
  if (dot != input.npos) {
    for (char c : input.substr(dot)) {
      extension += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
  }
  return extension == ".xml" ? output_format::vox : output_format::xml;
}

std::string each_output_path(const std::string& input, output_format format) {
  const std::size_t dot = extension_start(input);
  const char* extension = format == output_format::csv   ? ".csv"
                          : format == output_format::vox ? ".vox"
                                                         : ".xml";
  return (dot == input.npos ? input : input.substr(0, dot)) + extension;
}

namespace {

// What a command line that cannot run says after what is wrong.
constexpr std::string_view see_help = " (cubewright --help shows how)";

// The options of one command line as they are read, whatever their order.
struct option_reader {
  command_line line;
  bool mirrored[3] = {false, false, false};
  bool fit_aligned = false;
  std::vector<std::string> given;  // the options with a value that were given

  // Reads one option and, from `rest`, its value when it takes one; false
  // with line.error set when it cannot.
  bool read(const std::string& argument, const std::vector<std::string>& arguments,
            std::size_t& next);
  bool read_value(std::string_view name, std::string_view value);
};

bool option_reader::read_value(std::string_view name, std::string_view value) {
  if (name == "--to") {
    line.format_given = true;
    if (read_format(value, line.format)) return true;
    line.error = "unknown format '" + std::string(value) + "' for --to (xml, csv or vox)";
  } else if (name == "--mirror") {
    if (read_axes(value, mirrored)) return true;
    line.error = "unknown axes '" + std::string(value) + "' for --mirror (x, y, z or a mix)";
  } else if (name == "--fit-align") {
    fit_aligned = true;
    if (read_fit_rules(std::string(value), line.fit)) return true;
    line.error = "unknown rules '" + std::string(value) +
                 "' for --fit-align (x=, y= or z= with min, centre or max, e.g. x=min,y=centre)";
  } else if (value.empty()) {
    line.error = "option " + std::string(name) + " needs a file name";
  } else {
    std::string& path = name == "--fit"       ? line.fit_path
                        : name == "--preview" ? line.preview_path
                                              : line.compare_path;
    path = value;
    return true;
  }
  return false;
}

bool option_reader::read(const std::string& argument, const std::vector<std::string>& arguments,
                         std::size_t& next) {
  std::string_view value;
  bool has_value = false;
  const std::string_view name = option_name(argument, value, has_value);
  const auto flag = [&](std::string_view long_name, std::string_view short_name = {}) {
    return !has_value && (name == long_name || (!short_name.empty() && name == short_name));
  };
  if (flag("--help", "-h")) {
    line.action = program_action::help;
  } else if (flag("--version")) {
    if (line.action != program_action::help) line.action = program_action::version;
  } else if (flag("--verbose", "-v")) {
    line.verbose = true;
  } else if (flag("--lenient")) {
    line.lenient = true;
  } else if (flag("--each")) {
    line.each = true;
  } else if (flag("--ask")) {
    line.ask = true;
  } else {
    const bool takes_value = name == "--to" || name == "--mirror" || name == "--preview" ||
                             name == "--compare" || name == "--fit" || name == "--fit-align";
    if (!takes_value) {
      line.error = "unknown option '" + argument +
                   "' (cubewright --help lists them; put -- before an input whose name begins "
                   "with -)";
      return false;
    }
    for (const std::string& before : given) {
      if (before == name) {
        line.error = "option " + std::string(name) + " is given twice; give it once";
        return false;
      }
    }
    given.emplace_back(name);
    if (!has_value) {
      if (next == arguments.size()) {
        line.error = "option " + std::string(name) + " needs a value" + std::string(see_help);
        return false;
      }
      value = arguments[next++];
    }
    return read_value(name, value);
  }
  return true;
}

}  // namespace

namespace {

// Whether an argument names one of the options, with or without "=value".
bool is_known_option(std::string_view argument) {
  std::string_view value;
  bool has_value = false;
  const std::string_view name = option_name(argument, value, has_value);
  for (const std::string_view known :
       {"-h", "--help", "--version", "-v", "--verbose", "--lenient", "--each", "--ask", "--to",
        "--mirror", "--preview", "--compare", "--fit", "--fit-align", "--"}) {
    if (name == known) return true;
  }
  return false;
}

// Whether --lenient stands among the options.
bool asks_for_lenient(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument == "--") return false;
    if (argument == "--lenient") return true;
  }
  return false;
}

}  // namespace

command_line parse_command_line(const std::vector<std::string>& arguments) {
  option_reader reader;
  command_line& line = reader.line;
  if (arguments.empty()) return line;

  // Read the lenient way, a word such as "-x" after the input and the output
  // is an offset or a switch, as it always was; known options stay options.
  const bool lenient = asks_for_lenient(arguments);
  std::vector<std::string> positional;
  std::size_t next = 0;
  bool options_ended = false;
  while (next < arguments.size()) {
    const std::string& argument = arguments[next++];
    const bool old_word = lenient && positional.size() >= 2 && !is_known_option(argument);
    if (options_ended || !is_option(argument) || old_word) {
      positional.push_back(argument);
    } else if (argument == "--") {
      options_ended = true;
    } else if (!reader.read(argument, arguments, next)) {
      return failure(line.error);
    }
  }
  if (line.action == program_action::help || line.action == program_action::version) return line;

  if (line.each) {
    if (positional.empty())
      return failure("--each needs the files to convert" + std::string(see_help));
    line.inputs = positional;
  } else if (positional.size() < 2) {
    if (line.lenient) {
      line.action = program_action::usage;
      return line;
    }
    if (positional.empty()) {
      return failure("give an input and an output: cubewright INPUT OUTPUT" +
                     std::string(see_help));
    }
    return failure("no output given for " + positional[0] + ": cubewright INPUT OUTPUT" +
                   std::string(see_help));
  }
  if (!line.compare_path.empty() && line.preview_path.empty()) {
    return failure("--compare draws into the preview: give --preview FILE too");
  }
  if (reader.fit_aligned && line.fit_path.empty()) {
    return failure("--fit-align says how to fit: give --fit MODEL too");
  }
  if (line.each && !line.preview_path.empty()) {
    return failure("--preview draws one model: give it without --each");
  }
  // The picture of a fitted model shows it over the model it replaces.
  if (!line.fit_path.empty() && !line.preview_path.empty() && line.compare_path.empty()) {
    line.compare_path = line.fit_path;
  }
  line.action = program_action::convert;
  if (!line.each) {
    if (line.lenient) {
      line.options = parse_options(positional);
    } else if (!parse_options_strictly(positional, line.options, line.error)) {
      return failure(line.error);
    }
  }
  if (reader.mirrored[0]) line.options.axis_factor_x = -1.0f;
  if (reader.mirrored[1]) line.options.axis_factor_y = -1.0f;
  if (reader.mirrored[2]) line.options.axis_factor_z = -1.0f;
  return line;
}

}  // namespace cubewright
