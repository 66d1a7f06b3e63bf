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

const std::array<std::string_view, 18> option_lines = {
    "",
    "cubewright [options] input output [offset_x] [offset_y] [offset_z] [flip_x] [flip_y] [flip_z]",
    "The input is recognised by its content: a sproxel CSV export, a model document (.xml)",
    "or a MagicaVoxel .vox file. Options come before the input:",
    "    --to FORMAT      what to write: xml (the model document, default), csv or vox",
    "    --mirror AXES    mirror along x, y and/or z, e.g. --mirror yz",
    "    --preview FILE   also draw the placed model into FILE (PNG)",
    "    --compare MODEL  draw MODEL beside it in the preview, as it stands",
    "    --fit MODEL      move the model onto MODEL's place (the model it replaces):",
    "                     x and z centre to centre, y bottom to bottom; offsets add to it",
    "    --fit-align R    other rules per axis, e.g. x=min,y=centre (min, centre or max)",
    "    -v, --verbose    say what was written: path, voxel count and bounds",
    "    -h, --help       show this text",
    "    --version        show the version",
    "    --               end of options (for an input whose name begins with -)",
    "flip_y and flip_z mirror along y and z as flip_x does along x: any seventh or",
    "eighth argument does it. An existing model of another kind is never replaced.",
    "Keep a copy of the game's original file before you replace it.",
};

#ifndef CUBEWRIGHT_VERSION
#define CUBEWRIGHT_VERSION "0.0.0"
#endif
const std::string_view program_version = CUBEWRIGHT_VERSION;

bool wants_usage(const std::vector<std::string>& arguments) { return arguments.size() < 2; }

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

command_line parse_command_line(const std::vector<std::string>& arguments) {
  command_line line;
  if (arguments.size() < 2) {
    if (arguments.size() == 1 && (arguments[0] == "-h" || arguments[0] == "--help")) {
      line.action = program_action::help;
    } else if (arguments.size() == 1 && arguments[0] == "--version") {
      line.action = program_action::version;
    }
    return line;
  }

  bool mirrored[3] = {false, false, false};
  bool fit_aligned = false;
  std::size_t next = 0;
  while (next < arguments.size() && !arguments[next].empty() && arguments[next][0] == '-') {
    const std::string& argument = arguments[next++];
    if (argument == "--") break;
    std::string_view value;
    bool has_value = false;
    const std::string_view name = option_name(argument, value, has_value);
    if (!has_value && (name == "-h" || name == "--help")) {
      line.action = program_action::help;
      return line;
    }
    if (!has_value && name == "--version") {
      line.action = program_action::version;
      return line;
    }
    if (!has_value && (name == "-v" || name == "--verbose")) {
      line.verbose = true;
      continue;
    }
    const bool takes_value = name == "--to" || name == "--mirror" || name == "--preview" ||
                             name == "--compare" || name == "--fit" || name == "--fit-align";
    if (!takes_value) {
      return failure("unknown option '" + argument +
                     "' (put -- before an input whose name begins with -)");
    }
    if (!has_value) {
      if (next == arguments.size())
        return failure("option " + std::string(name) + " needs a value");
      value = arguments[next++];
    }
    if (name == "--to") {
      if (!read_format(value, line.format)) {
        return failure("unknown format '" + std::string(value) + "' for --to (xml, csv or vox)");
      }
    } else if (name == "--mirror") {
      if (!read_axes(value, mirrored)) {
        return failure("unknown axes '" + std::string(value) + "' for --mirror (x, y, z or a mix)");
      }
    } else if (name == "--fit-align") {
      if (!read_fit_rules(std::string(value), line.fit)) {
        return failure(
            "unknown rules '" + std::string(value) +
            "' for --fit-align (x=, y= or z= with min, centre or max, e.g. x=min,y=centre)");
      }
      fit_aligned = true;
    } else if (value.empty()) {
      return failure("option " + std::string(name) + " needs a file name");
    } else if (name == "--fit") {
      line.fit_path = value;
    } else if (name == "--preview") {
      line.preview_path = value;
    } else {
      line.compare_path = value;
    }
  }

  const std::vector<std::string> positional(arguments.begin() + static_cast<std::ptrdiff_t>(next),
                                            arguments.end());
  if (positional.size() < 2) {
    line.action = program_action::usage;
    return line;
  }
  if (!line.compare_path.empty() && line.preview_path.empty()) {
    return failure("--compare draws into the preview: give --preview FILE too");
  }
  if (fit_aligned && line.fit_path.empty()) {
    return failure("--fit-align says how to fit: give --fit MODEL too");
  }
  // The picture of a fitted model shows it over the model it replaces.
  if (!line.fit_path.empty() && !line.preview_path.empty() && line.compare_path.empty()) {
    line.compare_path = line.fit_path;
  }
  line.action = program_action::convert;
  line.options = parse_options(positional);
  if (mirrored[0]) line.options.axis_factor_x = -1.0f;
  if (mirrored[1]) line.options.axis_factor_y = -1.0f;
  if (mirrored[2]) line.options.axis_factor_z = -1.0f;
  return line;
}

}  // namespace cubewright
