#include "conversion/recognise.h"

#include <cstring>

#include "model_document/model_reader.h"
#include "sproxel_csv/grid_size.h"
#include "vox_format/vox_reader.h"

namespace cubewright {

content_kind recognise_input(std::string_view text) {
  const content_kind kind = recognise_input_unchecked(text);
  if (kind == content_kind::sproxel_csv && holds_nul(text)) return content_kind::binary;
  return kind;
}

content_kind recognise_input_unchecked(std::string_view text) {
  if (looks_like_vox(text)) return content_kind::vox;
  if (looks_like_model_document(text)) return content_kind::model_document;
  return content_kind::sproxel_csv;
}

bool holds_nul(std::string_view text) {
  return std::memchr(text.data(), 0, text.size()) != nullptr;
}

namespace {

bool begins_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// Whether the first element of a document's start is <model>: an HTML page
// or another XML file begins with "<" too.
bool begins_with_model_element(std::string_view text) {
  if (begins_with(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
  for (;;) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == text.npos) return false;
    text.remove_prefix(first);
    std::string_view close;
    if (begins_with(text, "<?")) {
      close = "?>";
    } else if (begins_with(text, "<!--")) {
      close = "-->";
    } else {
      break;
    }
    const std::size_t end = text.find(close);
    if (end == text.npos) return false;
    text.remove_prefix(end + close.size());
  }
  if (!begins_with(text, "<model")) return false;
  return text.size() == 6 || std::strchr(" \t\r\n/>", text[6]) != nullptr;
}

}  // namespace

std::optional<content_kind> recognise_existing(std::string_view start) {
  if (looks_like_vox(start)) return content_kind::vox;
  if (begins_with_model_element(start)) return content_kind::model_document;
  if (looks_like_sproxel_export(start)) return content_kind::sproxel_csv;
  return std::nullopt;
}

std::string_view describe_other(std::string_view start) {
  if (begins_with(start, "\x89PNG\r\n\x1a\n")) return "a PNG picture";
  if (begins_with(start, "\xFF\xD8\xFF")) return "a JPEG picture";
  if (begins_with(start, "GIF8")) return "a GIF picture";
  if (begins_with(start, "MZ") ||
      begins_with(start,
                  "\x7F"
                  "ELF") ||
      begins_with(start, "#!")) {
    return "a program";
  }
  if (begins_with(start, "PK\x03\x04")) return "a zip archive";
  for (char byte : start) {
    const auto c = static_cast<unsigned char>(byte);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') return "other data";
  }
  return "text";
}

std::string_view describe(content_kind kind) {
  switch (kind) {
    case content_kind::sproxel_csv:
      return "a sproxel CSV export";
    case content_kind::model_document:
      return "a model document";
    case content_kind::vox:
      return "a .vox model";
    case content_kind::binary:
      break;
  }
  return "binary data";
}

content_kind written_kind(output_format format) {
  switch (format) {
    case output_format::csv:
      return content_kind::sproxel_csv;
    case output_format::vox:
      return content_kind::vox;
    case output_format::xml:
      break;
  }
  return content_kind::model_document;
}

}  // namespace cubewright
