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

std::optional<content_kind> recognise_existing(std::string_view start) {
  if (looks_like_vox(start)) return content_kind::vox;
  if (looks_like_model_document(start)) return content_kind::model_document;
  if (looks_like_sproxel_export(start)) return content_kind::sproxel_csv;
  return std::nullopt;
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
