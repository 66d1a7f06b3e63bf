#include "model_document/model_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "model_document/attribute_number.h"
#include "model_document/xml_chars.h"
#include "text/byte_words.h"

namespace cubewright {
namespace {

using stage = model_reader::stage;
using context = model_reader::context;

constexpr std::size_t no_offset = static_cast<std::size_t>(-1);

// Byte classes for the scanning loops: which ASCII bytes need no further look
// in character data, in attribute values and in names.
enum : unsigned char {
  text_plain = 1,   // content character data, not '<', '&' or ']'
  value_plain = 2,  // attribute value, not a quote, '<', '&' or a tab/LF/CR
  name_start = 4,
  name_more = 8,
};

constexpr std::array<unsigned char, 256> byte_classes = [] {
  std::array<unsigned char, 256> classes{};
  for (unsigned c = 0x20; c < 0x80; ++c) {
    if (c != '<' && c != '&' && c != ']') classes[c] |= text_plain;
    if (c != '<' && c != '&' && c != '"' && c != '\'') classes[c] |= value_plain;
    if (is_name_start_char(c)) classes[c] |= name_start;
    if (is_name_char(c)) classes[c] |= name_more;
  }
  classes[']'] |= value_plain;
  classes['\t'] |= text_plain;
  classes['\n'] |= text_plain;
  classes['\r'] |= text_plain;
  return classes;
}();

unsigned char byte_at(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

bool is_space(char32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

std::size_t skip_space(std::string_view text, std::size_t& i) {
  const std::size_t start = i;
  while (i < text.size() && is_space(static_cast<char32_t>(byte_at(text, i)))) ++i;
  return i - start;
}

bool starts_at(std::string_view text, std::size_t i, std::string_view prefix) {
  return text.size() - i >= prefix.size() && text.compare(i, prefix.size(), prefix) == 0;
}

// The character of the well-formed UTF-8 sequence at text[i] (not ASCII) and
// its length; 0 for a malformed, overlong or surrogate sequence.
std::size_t decode_utf8(std::string_view text, std::size_t i, char32_t& c) {
  const unsigned char lead = byte_at(text, i);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = byte_at(text, i + k);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
    c = (c << 6) | (next & 0x3Fu);
  }
  return length;
}

// The length of the name at text[i], 0 when none starts there.
std::size_t name_length(std::string_view text, std::size_t i, bool ascii_only) {
  std::size_t j = i;
  while (j < text.size()) {
    const unsigned char c = byte_at(text, j);
    const unsigned char wanted = j == i ? name_start : name_more;
    if (c < 0x80) {
      if ((byte_classes[c] & wanted) == 0) break;
      ++j;
      continue;
    }
    char32_t decoded = 0;
    const std::size_t length = ascii_only ? 0 : decode_utf8(text, j, decoded);
    if (length == 0) break;
    if (!(j == i ? is_name_start_char(decoded) : is_name_char(decoded))) break;
    j += length;
  }
  return j - i;
}

enum class reference_problem { none, malformed, not_a_char, undefined };

// Parses the reference at text[i] == '&': its length including the ';' and
// the character it stands for, or 0 and why not.
std::size_t parse_reference(std::string_view text, std::size_t i, bool ascii_only, char32_t& value,
                            reference_problem& problem) {
  std::size_t j = i + 1;
  problem = reference_problem::malformed;
  if (j < text.size() && text[j] == '#') {
    ++j;
    const bool hex = j < text.size() && text[j] == 'x';
    if (hex) ++j;
    const std::size_t digits_start = j;
    std::uint32_t code = 0;
    for (; j < text.size(); ++j) {
      const char c = text[j];
      std::uint32_t digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<std::uint32_t>(c - '0');
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        break;
      }
      code = std::min<std::uint32_t>(code * (hex ? 16u : 10u) + digit, 0x110000u);
    }
    if (j == digits_start || j == text.size() || text[j] != ';') return 0;
    value = code;
    if (!is_xml_char(value)) {
      problem = reference_problem::not_a_char;
      return 0;
    }
    problem = reference_problem::none;
    return j + 1 - i;
  }
  const std::size_t length = name_length(text, j, ascii_only);
  if (length == 0 || j + length == text.size() || text[j + length] != ';') return 0;
  const std::string_view name = text.substr(j, length);
  static constexpr std::pair<std::string_view, char32_t> predefined[] = {
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
  for (const auto& entity : predefined) {
    if (name == entity.first) {
      value = entity.second;
      problem = reference_problem::none;
      return length + 2;
    }
  }
  problem = reference_problem::undefined;
  return 0;
}

// At most 40 bytes of a name for a message, cut at a character boundary.
std::string quoted(std::string_view name) {
  std::string text = "'";
  if (name.size() <= 40) {
    text += name;
  } else {
    std::size_t cut = 40;
    while (cut > 0 && is_continuation(byte_at(name, cut))) --cut;
    text += name.substr(0, cut);
    text += "...";
  }
  return text + "'";
}

// An attribute value for a message: in double quotes, at most 40 bytes cut
// at a character boundary, its tabs and line ends shown as spaces.
std::string shown_value(std::string_view raw) {
  std::string text = "\"";
  std::size_t cut = raw.size();
  if (cut > 40) {
    cut = 40;
    while (cut > 0 && is_continuation(byte_at(raw, cut))) --cut;
  }
  for (const char c : raw.substr(0, cut)) text += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
  return text + (cut < raw.size() ? "...\"" : "\"");
}

// Two simple passes, so that the common documents without CR take one that
// the compiler can vectorise.
std::size_t count_line_ends(std::string_view text, std::size_t from, std::size_t to) {
  std::size_t lines = 0;
  for (std::size_t i = from; i < to; ++i) lines += static_cast<std::size_t>(text[i] == '\n');
  if (text.substr(from, to - from).find('\r') == std::string_view::npos) return lines;
  for (std::size_t i = from; i < to; ++i) {
    lines +=
        static_cast<std::size_t>(text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
  }
  return lines;
}

// Counts on from the last offset asked about, so that asking in document
// order costs one pass in all.
std::size_t line_of(const model_reader& reader, std::size_t offset) {
  if (offset < reader.counted_offset) {
    reader.counted_offset = 0;
    reader.counted_line = 1;
  }
  reader.counted_line += count_line_ends(reader.document, reader.counted_offset, offset);
  reader.counted_offset = offset;
  return reader.counted_line;
}

void locate(const model_reader& reader, std::size_t offset, std::size_t& line,
            std::size_t& column) {
  const std::string_view text = reader.document;
  line = line_of(reader, offset);
  std::size_t start = offset;
  while (start > 0) {
    const char c = text[start - 1];
    if (c == '\n' || (c == '\r' && (start == text.size() || text[start] != '\n'))) break;
    --start;
  }
  column = 1;
  for (std::size_t i = start; i < offset; ++i) {
    column += static_cast<std::size_t>(!is_continuation(byte_at(text, i)));
  }
}

bool fail(model_reader& reader, std::size_t offset, read_failure kind, std::string what) {
  reader.at = stage::failed;
  reader.error.kind = kind;
  reader.error.what = std::move(what);
  locate(reader, offset, reader.error.line, reader.error.column);
  return false;
}

bool malformed(model_reader& reader, std::size_t offset, std::string what) {
  return fail(reader, offset, read_failure::not_well_formed, std::move(what));
}

// Checks the non-ASCII character at document[i]; its length, or 0 after
// failing.
std::size_t check_utf8_char(model_reader& reader, std::size_t i) {
  char32_t c = 0;
  const std::size_t length = decode_utf8(reader.document, i, c);
  if (length == 0) {
    malformed(reader, i, "invalid UTF-8");
  } else if (reader.ascii_only) {
    malformed(reader, i, "a character outside US-ASCII, the declared encoding");
  } else if (!is_xml_char(c)) {
    malformed(reader, i, "a character XML does not allow");
  } else {
    return length;
  }
  return 0;
}

// Checks any character at document[i] other than '<' and '&'.
std::size_t check_char(model_reader& reader, std::size_t i) {
  const unsigned char c = byte_at(reader.document, i);
  if (c >= 0x80) return check_utf8_char(reader, i);
  if (c >= 0x20 || is_space(c)) return 1;
  malformed(reader, i, "a character XML does not allow");
  return 0;
}

std::size_t check_reference(model_reader& reader, std::size_t i, char32_t& value) {
  reference_problem problem = reference_problem::none;
  const std::size_t length = parse_reference(reader.document, i, reader.ascii_only, value, problem);
  if (length != 0) return length;
  switch (problem) {
    case reference_problem::not_a_char:
      malformed(reader, i, "a reference to a character XML does not allow");
      break;
    case reference_problem::undefined:
      malformed(reader, i,
                "undefined entity " +
                    quoted(reader.document.substr(
                        i + 1, name_length(reader.document, i + 1, reader.ascii_only))));
      break;
    default:
      malformed(reader, i, "'&' that does not start a reference");
      break;
  }
  return 0;
}

void note_skeleton(model_reader& reader, std::size_t offset) {
  if (!reader.skeleton_found) {
    reader.skeleton_found = true;
    reader.skeleton_offset = offset;
  }
}

bool in_skeleton(const model_reader& reader) {
  return reader.open_elements.size() == 2 && reader.root_child == context::skeleton &&
         !reader.skeleton_found;
}

// Character data from reader.position up to the next '<' or the end.
bool read_text(model_reader& reader) {
  const std::string_view text = reader.document;
  std::size_t i = reader.position;
  if (reader.at != stage::in_root) {
    skip_space(text, i);
    reader.position = i;
    if (i == text.size() || text[i] == '<') return true;
    return malformed(reader, i,
                     reader.at == stage::before_root ? "text before the root element"
                                                     : "text after the root element");
  }
  bool watch = in_skeleton(reader);
  while (i < text.size()) {
    const unsigned char c = byte_at(text, i);
    if ((byte_classes[c] & text_plain) != 0) {
      if (watch && !is_space(c)) {
        note_skeleton(reader, i);
        watch = false;
      }
      ++i;
      continue;
    }
    if (c == '<') break;
    std::size_t length = 0;
    char32_t value = 0;
    if (c == ']') {
      if (starts_at(text, i, "]]>")) return malformed(reader, i, "']]>' in character data");
      length = 1;
    } else if (c == '&') {
      length = check_reference(reader, i, value);
      if (length == 0) return false;
    } else {
      length = check_char(reader, i);
      if (length == 0) return false;
    }
    if (watch && !(c == '&' && is_space(value))) {
      note_skeleton(reader, i);
      watch = false;
    }
    i += length;
  }
  reader.position = i;
  return true;
}

// Everything up to `terminator`, each character checked; `tag` is where the
// construct began, for the message when it never ends. For CDATA sections,
// the first character that is not white space counts as skeleton content.
bool read_until(model_reader& reader, std::size_t i, std::string_view terminator, std::size_t tag,
                const char* unclosed, bool cdata) {
  const std::string_view text = reader.document;
  bool watch = cdata && in_skeleton(reader);
  for (;;) {
    if (i == text.size()) return malformed(reader, tag, unclosed);
    if (text[i] == terminator[0] && starts_at(text, i, terminator)) break;
    const std::size_t length = check_char(reader, i);
    if (length == 0) return false;
    if (watch && !is_space(byte_at(text, i))) {
      note_skeleton(reader, i);
      watch = false;
    }
    i += length;
  }
  reader.position = i + terminator.size();
  return true;
}

bool read_comment(model_reader& reader, std::size_t tag) {
  const std::string_view text = reader.document;
  for (std::size_t i = tag + 4;;) {
    if (i == text.size()) return malformed(reader, tag, "unclosed comment");
    if (text[i] == '-' && starts_at(text, i, "--")) {
      if (!starts_at(text, i, "-->")) return malformed(reader, i, "'--' inside a comment");
      reader.position = i + 3;
      ++reader.left_out.comments;
      return true;
    }
    const std::size_t length = check_char(reader, i);
    if (length == 0) return false;
    i += length;
  }
}

bool equals_ignoring_case(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// One `name = "value"` of the XML declaration, after at least one space;
// false without failing when `name` is not next.
bool read_declaration_field(model_reader& reader, std::size_t& i, std::string_view name,
                            std::string_view& value) {
  const std::string_view text = reader.document;
  std::size_t j = i;
  if (skip_space(text, j) == 0 || !starts_at(text, j, name)) return false;
  j += name.size();
  skip_space(text, j);
  if (j == text.size() || text[j] != '=') return false;
  ++j;
  skip_space(text, j);
  if (j == text.size() || (text[j] != '"' && text[j] != '\'')) return false;
  const std::size_t end = text.find(text[j], j + 1);
  if (end == std::string_view::npos) return false;
  value = text.substr(j + 1, end - j - 1);
  i = end + 1;
  return true;
}

bool is_encoding_name(std::string_view name) {
  if (name.empty() || !((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z')))
    return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

// The XML declaration, its "<?xml" already read up to `i`.
bool read_declaration(model_reader& reader, std::size_t i) {
  const std::string_view text = reader.document;
  std::string_view value;
  if (!read_declaration_field(reader, i, "version", value))
    return malformed(reader, i, "xml declaration without a version");
  // Any version is read as 1.0, as long as it is made of these characters.
  if (!std::all_of(value.begin(), value.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
      }))
    return malformed(reader, i, "invalid xml version");
  const std::size_t encoding_at = i;
  if (read_declaration_field(reader, i, "encoding", value)) {
    if (!is_encoding_name(value)) return malformed(reader, encoding_at, "invalid encoding name");
    reader.ascii_only = equals_ignoring_case(value, "us-ascii");
    if (!reader.ascii_only && !equals_ignoring_case(value, "utf-8")) {
      return fail(reader, encoding_at, read_failure::not_supported,
                  "encoding " + quoted(value) + " is not supported, only UTF-8");
    }
  }
  const std::size_t standalone_at = i;
  if (read_declaration_field(reader, i, "standalone", value) && value != "yes" && value != "no")
    return malformed(reader, standalone_at, "standalone must be 'yes' or 'no'");
  skip_space(text, i);
  if (!starts_at(text, i, "?>")) return malformed(reader, i, "malformed xml declaration");
  reader.position = i + 2;
  return true;
}

bool read_processing_instruction(model_reader& reader, std::size_t tag) {
  const std::string_view text = reader.document;
  std::size_t i = tag + 2;
  const std::size_t length = name_length(text, i, reader.ascii_only);
  if (length == 0) return malformed(reader, i, "invalid processing instruction target");
  const std::string_view target = text.substr(i, length);
  i += length;
  if (equals_ignoring_case(target, "xml")) {
    if (target == "xml" && tag == 0) return read_declaration(reader, i);
    return malformed(reader, tag,
                     target == "xml" ? "xml declaration not at the start of the document"
                                     : "reserved processing instruction target");
  }
  ++reader.left_out.processing_instructions;
  if (starts_at(text, i, "?>")) {
    reader.position = i + 2;
    return true;
  }
  if (skip_space(text, i) == 0)
    return malformed(reader, i, "expected white space after the processing instruction target");
  return read_until(reader, i, "?>", tag, "unclosed processing instruction", false);
}

bool has_duplicate(model_reader& reader) {
  auto& names = reader.sorted_names;
  names.clear();
  for (const model_reader::attribute& a : reader.attributes) {
    names.emplace_back(a.name, static_cast<std::size_t>(a.name.data() - reader.document.data()));
  }
  std::sort(names.begin(), names.end());
  std::size_t first = no_offset;
  for (std::size_t k = 1; k < names.size(); ++k) {
    if (names[k].first == names[k - 1].first && (k < 2 || names[k - 2].first != names[k].first))
      first = std::min(first, names[k].second);
  }
  if (first == no_offset) return false;
  const std::size_t length = name_length(reader.document, first, reader.ascii_only);
  malformed(reader, first, "duplicate attribute " + quoted(reader.document.substr(first, length)));
  return true;
}

// The start tag at `tag`, into reader.attributes; `name` and `empty` say what
// it was.
bool read_start_tag(model_reader& reader, std::size_t tag, std::string_view& name, bool& empty) {
  const std::string_view text = reader.document;
  std::size_t i = tag + 1;
  const std::size_t length = name_length(text, i, reader.ascii_only);
  if (length == 0) return malformed(reader, i, "invalid element name");
  name = text.substr(i, length);
  i += length;
  reader.attributes.clear();
  empty = false;
  for (;;) {
    const std::size_t space = skip_space(text, i);
    if (i == text.size()) return malformed(reader, tag, "unclosed start tag");
    const char c = text[i];
    if (c == '>') {
      ++i;
      break;
    }
    if (c == '/') {
      if (!starts_at(text, i, "/>")) return malformed(reader, i + 1, "expected '>' after '/'");
      i += 2;
      empty = true;
      break;
    }
    if (space == 0) return malformed(reader, i, "expected white space before an attribute");
    const std::size_t name_at = i;
    const std::size_t name_size = name_length(text, i, reader.ascii_only);
    if (name_size == 0) return malformed(reader, i, "invalid attribute name");
    i += name_size;
    skip_space(text, i);
    if (i == text.size() || text[i] != '=')
      return malformed(reader, i, "expected '=' after the attribute name");
    ++i;
    skip_space(text, i);
    if (i == text.size() || (text[i] != '"' && text[i] != '\''))
      return malformed(reader, i, "expected a quoted attribute value");
    const char quote = text[i++];
    const std::size_t value_at = i;
    bool needs_decoding = false;
    for (;;) {
      if (i == text.size()) return malformed(reader, value_at - 1, "unclosed attribute value");
      const unsigned char b = byte_at(text, i);
      if ((byte_classes[b] & value_plain) != 0) {
        ++i;
        continue;
      }
      if (b == static_cast<unsigned char>(quote)) break;
      std::size_t step = 1;
      if (b == '&') {
        char32_t value = 0;
        step = check_reference(reader, i, value);
        needs_decoding = true;
      } else if (b == '<') {
        return malformed(reader, i, "'<' in an attribute value");
      } else if (b != '"' && b != '\'') {
        needs_decoding = needs_decoding || is_space(b);
        step = check_char(reader, i);
      }
      if (step == 0) return false;
      i += step;
    }
    const std::string_view attribute_name = text.substr(name_at, name_size);
    if (reader.attributes.size() < 16) {
      for (const model_reader::attribute& a : reader.attributes) {
        if (a.name[0] == attribute_name[0] && a.name == attribute_name)
          return malformed(reader, name_at, "duplicate attribute " + quoted(attribute_name));
      }
    } else if (reader.attributes.size() == max_attribute_count) {
      return fail(reader, name_at, read_failure::over_limit, "too many attributes");
    }
    reader.attributes.push_back(
        {attribute_name, text.substr(value_at, i - value_at), needs_decoding});
    ++i;
  }
  if (reader.attributes.size() > 16 && has_duplicate(reader)) return false;
  reader.position = i;
  return true;
}

// The value of a voxel attribute, normalised and decoded when it has to be.
number_status read_value(const model_reader& reader, const model_reader::attribute& a,
                         float& value) {
  if (!a.needs_decoding) return read_number(a.value, value);
  std::array<char, max_number_text_length> decoded;
  std::size_t used = 0;
  bool too_long = false;
  const auto add = [&](char c) {
    const bool blank = is_space(static_cast<unsigned char>(c));
    if (used == 0 && blank) return;
    if (used < decoded.size()) {
      decoded[used++] = c;
    } else if (!blank) {
      too_long = true;
    }
  };
  const std::string_view raw = a.value;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '&') {
      char32_t code = 0;
      reference_problem problem = reference_problem::none;
      const std::size_t length = parse_reference(raw, i, reader.ascii_only, code, problem);
      i += length - 1;
      if (code < 0x80) {
        add(static_cast<char>(code));
      } else {
        // Not part of any number: one byte stands for the whole character.
        add('?');
      }
    } else if (c == '\r') {
      add(' ');
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
    } else if (c == '\t' || c == '\n') {
      add(' ');
    } else {
      add(c);
    }
  }
  if (too_long) return number_status::too_long;
  return read_number(std::string_view(decoded.data(), used), value);
}

void note_other_attribute(left_out_content& left_out, std::string_view name) {
  if (left_out.other_attributes++ == 0) left_out.first_other = name;
}

// Whether a voxel's `a` is the number the written document gives every voxel.
bool is_alpha_one(const model_reader& reader, const model_reader::attribute& a) {
  float value = 0;
  return read_value(reader, a, value) == number_status::ok && value == 1.0f;
}

bool read_voxel(model_reader& reader, std::size_t tag, voxel_record& voxel) {
  static constexpr char names[] = {'x', 'y', 'z', 'r', 'g', 'b'};
  const model_reader::attribute* found[6] = {};
  for (const model_reader::attribute& a : reader.attributes) {
    if (a.name.size() != 1) {
      note_other_attribute(reader.left_out, a.name);
      continue;
    }
    switch (a.name[0]) {
      case 'x':
        found[0] = &a;
        break;
      case 'y':
        found[1] = &a;
        break;
      case 'z':
        found[2] = &a;
        break;
      case 'r':
        found[3] = &a;
        break;
      case 'g':
        found[4] = &a;
        break;
      case 'b':
        found[5] = &a;
        break;
      case 'a':
        if (!is_alpha_one(reader, a)) ++reader.left_out.alpha_not_one;
        break;
      default:
        note_other_attribute(reader.left_out, a.name);
        break;
    }
  }
  float* const values[6] = {&voxel.x, &voxel.y, &voxel.z, &voxel.r, &voxel.g, &voxel.b};
  for (int k = 0; k < 6; ++k) {
    if (found[k] == nullptr) {
      return fail(reader, tag, read_failure::not_a_model,
                  std::string("voxel without the '") + names[k] + "' attribute");
    }
    const number_status status = read_value(reader, *found[k], *values[k]);
    if (status == number_status::ok) continue;
    const auto at = static_cast<std::size_t>(found[k]->value.data() - reader.document.data());
    if (status == number_status::not_a_number) {
      return fail(reader, at, read_failure::not_a_model,
                  std::string("the '") + names[k] + "' attribute is not a number");
    }
    if (status == number_status::not_finite) {
      return fail(reader, at, read_failure::not_a_model,
                  std::string("the '") + names[k] +
                      "' attribute is not a finite number: " + shown_value(found[k]->value));
    }
    return fail(reader, at, read_failure::over_limit,
                std::string("the '") + names[k] + "' attribute is too long to read as a number");
  }
  return true;
}

enum class plain_voxel { read, not_plain };

float* voxel_field(voxel_record& voxel, char name) {
  switch (name) {
    case 'x':
      return &voxel.x;
    case 'y':
      return &voxel.y;
    case 'z':
      return &voxel.z;
    case 'r':
      return &voxel.r;
    case 'g':
      return &voxel.g;
    case 'b':
      return &voxel.b;
    default:
      return nullptr;
  }
}

// The voxel element as the tool writes it, read in one pass: `<voxel`, then
// one-letter attribute names each directly followed by `=`, quoted values
// (decimals of the fast path for the coordinates and colours, nothing to
// decode in the others), white space between, and `/>` or `>`. Anything else is
// not_plain, with nothing changed, and the general path reads the element
// and gives any error its message.
plain_voxel read_plain_voxel(model_reader& reader, std::size_t tag, voxel_record& voxel) {
  const std::string_view text = reader.document;
  const std::size_t size = text.size();
  std::size_t i = tag + 6;
  if (i >= size || text.compare(tag + 1, 5, "voxel") != 0) return plain_voxel::not_plain;
  constexpr std::uint32_t wanted = (1u << ('x' - 'a')) | (1u << ('y' - 'a')) | (1u << ('z' - 'a')) |
                                   (1u << ('r' - 'a')) | (1u << ('g' - 'a')) | (1u << ('b' - 'a'));
  std::uint32_t seen = 0;
  bool empty = false;
  // What it leaves out, kept until the element is read.
  bool alpha_not_one = false;
  std::size_t others = 0;
  std::size_t first_other = 0;
  for (;;) {
    const std::size_t space = skip_space(text, i);
    if (i + 1 >= size) return plain_voxel::not_plain;
    const char c = text[i];
    if (c == '>') {
      ++i;
      break;
    }
    if (c == '/') {
      if (text[i + 1] != '>') return plain_voxel::not_plain;
      i += 2;
      empty = true;
      break;
    }
    if (space == 0 || c < 'a' || c > 'z' || text[i + 1] != '=') return plain_voxel::not_plain;
    const std::uint32_t bit = 1u << (c - 'a');
    if ((seen & bit) != 0) return plain_voxel::not_plain;
    seen |= bit;
    const std::size_t name_at = i;
    i += 2;
    if (i >= size || (text[i] != '"' && text[i] != '\'')) return plain_voxel::not_plain;
    const char quote = text[i++];
    float* const value = voxel_field(voxel, c);
    if (value != nullptr) {
      const char* p = text.data() + i;
      double read = 0;
      if (!read_decimal_prefix(p, text.data() + size, read)) return plain_voxel::not_plain;
      *value = static_cast<float>(read);
      i = static_cast<std::size_t>(p - text.data());
      if (i == size || text[i] != quote) return plain_voxel::not_plain;
    } else {
      const std::size_t value_at = i;
      while (i < size && (byte_classes[byte_at(text, i)] & value_plain) != 0) ++i;
      if (i == size || text[i] != quote) return plain_voxel::not_plain;
      // Nothing to decode in the value: it is as the general path reads it.
      const std::string_view raw = text.substr(value_at, i - value_at);
      float alpha = 0;
      if (c != 'a') {
        if (others++ == 0) first_other = name_at;
      } else if (raw != "1.0") {
        alpha_not_one = read_number(raw, alpha) != number_status::ok || alpha != 1.0f;
      }
    }
    ++i;
  }
  if ((seen & wanted) != wanted) return plain_voxel::not_plain;
  if (!empty) reader.open_elements.push_back(text.substr(tag + 1, 5));
  reader.position = i;
  left_out_content& left_out = reader.left_out;
  left_out.alpha_not_one += alpha_not_one ? 1 : 0;
  if (others != 0) {
    if (left_out.other_attributes == 0) left_out.first_other = text.substr(first_other, 1);
    left_out.other_attributes += others;
  }
  return plain_voxel::read;
}

// The fast path's colour texts are remembered in this many places.
constexpr std::size_t read_colour_places = 1024;

// How many of the eight bytes at `at` are digits before the first that is
// not, with their value (0 when none).
inline unsigned leading_digits(const char* at, std::uint64_t& value) {
  constexpr std::uint64_t zeros = 0x3030303030303030u;
  const std::uint64_t word = load_word(at);
  // A byte below '0' sets its high bit in the difference and one above '9' in
  // the sum; borrows and carries only run upward, past the first non-digit.
  const std::uint64_t flags = ((word - zeros) | (word + 0x4646464646464646u)) & 0x8080808080808080u;
  const unsigned count = flags == 0 ? 8 : first_flagged_byte(flags);
  if (count == 0) {
    value = 0;
    return 0;
  }
  // The digits to the top bytes, with zeros below them as leading zeros;
  // then pairs, fours and the eight together.
  std::uint64_t digits = (word - zeros) << (8 * (8 - count));
  digits = digits * 10 + (digits >> 8);
  digits = ((digits & 0x000000FF000000FFu) * (100 + (std::uint64_t{1000000} << 32)) +
            ((digits >> 16) & 0x000000FF000000FFu) * (1 + (std::uint64_t{10000} << 32))) >>
           32;
  value = digits;
  return count;
}

// The exact fast path of read_decimal_prefix for the numbers the tool
// writes: [-]digits for a coordinate, digits[.digits] for a colour, each
// ended by '"', with at most seven digits before the point and eight after
// it, read eight bytes at a time. Reads up to 17 bytes from `p`, which the
// caller makes sure are there. Where the number ends, or null for anything
// else.
inline const char* read_written_number(const char* p, bool coordinate, float& value) {
  const bool negative = coordinate && *p == '-';
  p += negative ? 1 : 0;
  std::uint64_t mantissa = 0;
  const unsigned whole = leading_digits(p, mantissa);
  if (whole == 0 || whole == 8) return nullptr;
  p += whole;
  unsigned fraction = 0;
  if (!coordinate && *p == '.') {
    ++p;
    std::uint64_t decimals = 0;
    fraction = leading_digits(p, decimals);
    if (fraction == 8 && static_cast<unsigned char>(p[8] - '0') <= 9) return nullptr;
    static constexpr std::uint64_t scale[] = {1,      10,      100,      1000,     10000,
                                              100000, 1000000, 10000000, 100000000};
    mantissa = mantissa * scale[fraction] + decimals;
    p += fraction;
  }
  if (*p != '"') return nullptr;
  static constexpr double powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
  // Under 10^15, so the mantissa is exact and one division rounds as strtod
  // does.
  const double read = static_cast<double>(mantissa) / powers[fraction];
  value = static_cast<float>(negative ? -read : read);
  return p;
}

// The first `count` (at most 8) bytes of `word`.
inline std::uint64_t low_bytes(std::uint64_t word, unsigned count) {
  return count >= 8 ? word : word & ((std::uint64_t{1} << (8 * count)) - 1);
}

// The bytes of a literal of at most eight as load_word reads them.
constexpr std::uint64_t word_of(std::string_view text) {
  std::uint64_t word = 0;
  for (std::size_t i = text.size(); i-- > 0;)
    word = word << 8 | static_cast<unsigned char>(text[i]);
  return word;
}

// Whether the bytes at `at` begin with `literal` (at most eight bytes).
template <std::size_t size>
inline bool bytes_are(const char* at, const char (&literal)[size]) {
  static_assert(size >= 2 && size <= 9, "a literal of one to eight bytes");
  const std::uint64_t expected = word_of(std::string_view(literal, size - 1));
  return low_bytes(load_word(at), size - 1) == expected;
}

// The index of the first '"' among the eight bytes of `word`, 8 when none.
inline unsigned first_quote(std::uint64_t word) {
  const std::uint64_t quotes = bytes_equal_to(word, '"');
  return quotes == 0 ? 8 : first_flagged_byte(quotes);
}

// A colour of the fast path, known by its text up to the closing quote:
// a document repeats its colours (the tool writes 256 values), and a text
// read once needs no reading again. Reads up to 17 bytes from `p`; where
// the colour ends, or null.
inline const char* read_written_colour(model_reader& reader, const char* p, float& value) {
  const std::uint64_t low = load_word(p);
  const std::uint64_t high = load_word(p + 8);
  unsigned length = first_quote(low);
  if (length == 8) length += first_quote(high);
  if (length == 0) return nullptr;
  // Longer texts are read each time.
  if (length > 11) return read_written_number(p, false, value);
  const std::uint64_t key_low = low_bytes(low, length);
  const auto key_high = static_cast<std::uint32_t>((length > 8 ? low_bytes(high, length - 8) : 0) |
                                                   std::uint64_t{length} << 24);
  // The place is the first three digits after "0.": they tell the 256
  // colours the tool writes apart (k / 256 steps by more than 0.003), and
  // any other text still finds a place, only perhaps a shared one.
  const std::uint64_t digits = key_low >> 16;
  const std::uint64_t place = (digits & 15) * 100 + (digits >> 8 & 15) * 10 + (digits >> 16 & 15);
  model_reader::read_colour& known = reader.read_colours[place % read_colour_places];
  if (known.key_low != key_low || known.key_high != key_high) {
    float read = 0;
    if (read_written_number(p, false, read) == nullptr) return nullptr;
    known.key_low = key_low;
    known.key_high = key_high;
    known.value = read;
  }
  value = known.value;
  return p + length;
}

// The voxel lines the fast path reads lie in this many bytes from their
// '<', the bytes it reads past their numbers included.
constexpr std::size_t written_line_reach = 128;

// Skips the white space after the last element and reads the voxel line the
// tool itself writes, whole:
//   <voxel x="X" y="Y" z="Z" r="R" g="G" b="B" a="1.0" />
// Only called with a `voxels` child of the root open, where such a line is
// a voxel of the model and changes nothing else. False, with nothing
// changed, for anything else, and for a line fewer than written_line_reach
// bytes from the document's end; the general paths then read it.
bool read_written_voxel(model_reader& reader, voxel_record& voxel) {
  const char* const begin = reader.document.data();
  const char* const end = begin + reader.document.size();
  const char* p = begin + reader.position;
  while (p != end && is_space(static_cast<unsigned char>(*p))) ++p;
  const char* const tag = p;
  if (static_cast<std::size_t>(end - p) < written_line_reach) return false;
  voxel_record read;
  if (!bytes_are(p, "<voxel x") || !bytes_are(p + 8, "=\"")) return false;
  p = read_written_number(p + 10, true, read.x);
  if (p == nullptr || !bytes_are(p, "\" y=\"")) return false;
  p = read_written_number(p + 5, true, read.y);
  if (p == nullptr || !bytes_are(p, "\" z=\"")) return false;
  p = read_written_number(p + 5, true, read.z);
  if (p == nullptr || !bytes_are(p, "\" r=\"")) return false;
  p = read_written_colour(reader, p + 5, read.r);
  if (p == nullptr || !bytes_are(p, "\" g=\"")) return false;
  p = read_written_colour(reader, p + 5, read.g);
  if (p == nullptr || !bytes_are(p, "\" b=\"")) return false;
  p = read_written_colour(reader, p + 5, read.b);
  if (p == nullptr || !bytes_are(p, "\" a=\"1.") || !bytes_are(p + 7, "0\" />")) return false;
  voxel = read;
  reader.voxel_offset = static_cast<std::size_t>(tag - begin);
  reader.position = static_cast<std::size_t>(p + 12 - begin);
  return true;
}

context context_of(std::string_view name) {
  if (name == "voxels") return context::voxels;
  if (name == "skeleton" || name == "skeletonVoxelBindings") return context::skeleton;
  return context::other;
}

// An element's start; true in `counted` when it is a voxel of the model.
bool handle_start_tag(model_reader& reader, std::size_t tag, bool& counted) {
  counted = false;
  if (reader.at == stage::after_root)
    return malformed(reader, tag, "a second element after the root element");
  std::string_view name;
  bool empty = false;
  if (!read_start_tag(reader, tag, name, empty)) return false;
  const std::size_t depth = reader.open_elements.size();
  const context child = depth == 1 ? context_of(name) : context::other;
  if (depth == 0 || child != context::other) {
    for (const model_reader::attribute& a : reader.attributes)
      note_other_attribute(reader.left_out, a.name);
  }
  if (reader.at == stage::before_root) {
    if (name != "model") {
      return fail(reader, tag, read_failure::not_a_model,
                  "the root element is " + quoted(name) + ", not 'model'");
    }
    reader.at = empty ? stage::after_root : stage::in_root;
  } else if (depth == 2 && reader.root_child != context::other) {
    if (reader.root_child == context::voxels) {
      counted = name == "voxel";
    } else {
      note_skeleton(reader, tag);
    }
  }
  if (empty) return true;
  if (depth == max_element_depth)
    return fail(reader, tag, read_failure::over_limit, "elements nested too deeply");
  if (depth == 1) reader.root_child = child;
  reader.open_elements.push_back(name);
  return true;
}

bool read_end_tag(model_reader& reader, std::size_t tag) {
  const std::string_view text = reader.document;
  if (reader.at != stage::in_root) return malformed(reader, tag, "end tag without a start tag");
  std::size_t i = tag + 2;
  const std::size_t length = name_length(text, i, reader.ascii_only);
  if (length == 0) return malformed(reader, i, "invalid element name");
  const std::string_view name = text.substr(i, length);
  i += length;
  skip_space(text, i);
  if (i == text.size() || text[i] != '>')
    return malformed(reader, i, "expected '>' to end the end tag");
  if (name != reader.open_elements.back()) {
    return malformed(reader, tag,
                     "end tag " + quoted(name) + " does not match start tag " +
                         quoted(reader.open_elements.back()));
  }
  reader.open_elements.pop_back();
  if (reader.open_elements.empty()) reader.at = stage::after_root;
  reader.position = i + 1;
  return true;
}

// Markup starting "<!" at `tag`.
bool read_declaration_markup(model_reader& reader, std::size_t tag) {
  const std::string_view text = reader.document;
  if (starts_at(text, tag, "<!--")) return read_comment(reader, tag);
  if (starts_at(text, tag, "<![CDATA[")) {
    if (reader.at != stage::in_root)
      return malformed(reader, tag, "CDATA section outside the root element");
    return read_until(reader, tag + 9, "]]>", tag, "unclosed CDATA section", true);
  }
  if (starts_at(text, tag, "<!DOCTYPE") && reader.at == stage::before_root) {
    return fail(reader, tag, read_failure::not_supported,
                "document type declarations are not supported");
  }
  return malformed(reader, tag, "invalid markup after '<!'");
}

}  // namespace

model_reader open_model_reader(std::string_view document) {
  model_reader reader;
  if (document.substr(0, 3) == "\xEF\xBB\xBF") document.remove_prefix(3);
  reader.document = document;
  reader.open_elements.reserve(64);
  reader.attributes.reserve(16);
  reader.read_colours.resize(read_colour_places);
  return reader;
}

model_reader open_voxel_line_reader(std::string_view document, std::size_t offset) {
  model_reader reader = open_model_reader(document);
  reopen_voxel_line_reader(reader, document, offset);
  return reader;
}

void reopen_voxel_line_reader(model_reader& reader, std::string_view document, std::size_t offset) {
  reader.document = document;
  reader.position = std::min(offset, document.size());
  reader.at = stage::voxel_lines;
  reader.counted_offset = 0;
  reader.counted_line = 1;
}

bool only_space_until(const model_reader& reader, std::size_t offset) {
  if (reader.position > offset || offset > reader.document.size()) return false;
  for (std::size_t i = reader.position; i < offset; ++i) {
    if (!is_space(static_cast<char32_t>(byte_at(reader.document, i)))) return false;
  }
  return true;
}

bool hands_over_at(const model_reader& reader, std::size_t offset) {
  return reader.at == stage::in_root && reader.root_child == context::voxels &&
         reader.open_elements.size() == 2 && only_space_until(reader, offset);
}

read_step next_voxel(model_reader& reader, voxel_record& voxel) {
  const std::string_view text = reader.document;
  if (reader.at == stage::voxel_lines) {
    if (read_written_voxel(reader, voxel)) return read_step::voxel;
    reader.at = stage::finished;
    return read_step::end;
  }
  if (reader.at == stage::in_root && reader.root_child == context::voxels &&
      reader.open_elements.size() == 2 && read_written_voxel(reader, voxel)) {
    return read_step::voxel;
  }
  for (;;) {
    if (reader.at == stage::failed) return read_step::error;
    if (reader.at == stage::finished) return read_step::end;
    const std::size_t i = reader.position;
    if (i == text.size()) {
      if (reader.at == stage::after_root) {
        reader.at = stage::finished;
      } else if (reader.at == stage::in_root) {
        malformed(reader, i, "unclosed element " + quoted(reader.open_elements.back()));
      } else {
        malformed(reader, i, "no root element");
      }
      continue;
    }
    if (text[i] != '<') {
      read_text(reader);
      continue;
    }
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (next == '/') {
      read_end_tag(reader, i);
    } else if (next == '?') {
      read_processing_instruction(reader, i);
    } else if (next == '!') {
      read_declaration_markup(reader, i);
    } else {
      bool counted = false;
      if (reader.open_elements.size() == 2 && reader.root_child == context::voxels &&
          read_plain_voxel(reader, i, voxel) == plain_voxel::read) {
        reader.voxel_offset = i;
        return read_step::voxel;
      }
      if (handle_start_tag(reader, i, counted) && counted) {
        if (!read_voxel(reader, i, voxel)) return read_step::error;
        reader.voxel_offset = i;
        return read_step::voxel;
      }
    }
  }
}

std::size_t voxel_line(const model_reader& reader) { return line_of(reader, reader.voxel_offset); }

const model_read_error& read_error(const model_reader& reader) { return reader.error; }

skeleton_content skeleton_in(const model_reader& reader) {
  skeleton_content content;
  if (reader.skeleton_found) {
    content.present = true;
    locate(reader, reader.skeleton_offset, content.line, content.column);
  }
  return content;
}

const left_out_content& left_out_in(const model_reader& reader) { return reader.left_out; }

bool holds_skeleton(std::string_view document) {
  model_reader reader = open_model_reader(document);
  voxel_record voxel;
  read_step step = read_step::voxel;
  while (step == read_step::voxel) step = next_voxel(reader, voxel);
  return step == read_step::end && skeleton_in(reader).present;
}

bool looks_like_model_document(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::size_t i = 0;
  skip_space(text, i);
  return i < text.size() && text[i] == '<';
}

}  // namespace cubewright
