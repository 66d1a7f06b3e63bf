#include "support/expat_reference.h"

#include <expat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "model/placed_model.h"
#include "model_document/model_reader.h"
#include "model_document/xml_chars.h"

namespace cubewright_test {
namespace {

using cubewright::voxel_record;

enum class outcome { complete, content_fault, not_well_formed };

const char* outcome_name(outcome o) {
  switch (o) {
    case outcome::complete:
      return "complete";
    case outcome::content_fault:
      return "content fault";
    default:
      return "not well-formed";
  }
}

struct reading {
  outcome result = outcome::complete;
  std::vector<voxel_record> voxels;
  std::string message;
};

struct expat_state {
  XML_Parser parser = nullptr;
  std::vector<std::string> open;
  reading* out = nullptr;
  bool stopped = false;  // expat may still call back for the element it stopped in
};

void stop(expat_state& state, std::string message) {
  state.out->result = outcome::content_fault;
  state.out->message = std::move(message);
  state.stopped = true;
  XML_StopParser(state.parser, XML_FALSE);
}

bool is_blank(char c) { return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr; }

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
  expat_state& state = *static_cast<expat_state*>(data);
  if (state.stopped) return;
  if (state.open.empty() && std::strcmp(name, "model") != 0) {
    stop(state, "root is not model");
    return;
  }
  if (state.open.size() == 2 && state.open[1] == "voxels" && std::strcmp(name, "voxel") == 0) {
    const char names[] = "xyzrgb";
    voxel_record voxel;
    float* const values[] = {&voxel.x, &voxel.y, &voxel.z, &voxel.r, &voxel.g, &voxel.b};
    for (int k = 0; k < 6; ++k) {
      const char* value = nullptr;
      for (const XML_Char** a = attributes; *a != nullptr; a += 2) {
        if (a[0][0] == names[k] && a[0][1] == '\0') value = a[1];
      }
      if (value == nullptr) return stop(state, std::string("missing ") + names[k]);
      char* end = nullptr;
      const double read = std::strtod(value, &end);
      const char* rest = end;
      while (is_blank(*rest)) ++rest;
      if (end == value || *rest != '\0') return stop(state, std::string("not a number: ") + value);
      *values[k] = static_cast<float>(read);
      // A model has no place for nan or inf, nor for a number no float holds.
      if (!std::isfinite(*values[k]))
        return stop(state, std::string("not a finite number: ") + value);
    }
    state.out->voxels.push_back(voxel);
  }
  state.open.emplace_back(name);
}

void XMLCALL on_end(void* data, const XML_Char*) {
  expat_state& state = *static_cast<expat_state*>(data);
  if (!state.stopped) state.open.pop_back();
}

reading read_with_expat(std::string_view document) {
  reading out;
  expat_state state;
  state.parser = XML_ParserCreate(nullptr);
  state.out = &out;
  XML_SetUserData(state.parser, &state);
  XML_SetElementHandler(state.parser, on_start, on_end);
  const XML_Status status =
      XML_Parse(state.parser, document.data(), static_cast<int>(document.size()), XML_TRUE);
  if (status == XML_STATUS_ERROR && XML_GetErrorCode(state.parser) != XML_ERROR_ABORTED) {
    out.result = outcome::not_well_formed;
    out.message = std::string(XML_ErrorString(XML_GetErrorCode(state.parser))) + " at " +
                  std::to_string(XML_GetCurrentLineNumber(state.parser)) + ":" +
                  std::to_string(XML_GetCurrentColumnNumber(state.parser));
  }
  XML_ParserFree(state.parser);
  return out;
}

struct our_reading {
  reading read;
  bool excused = false;
};

our_reading read_with_reader(std::string_view document) {
  our_reading out;
  cubewright::model_reader reader = cubewright::open_model_reader(document);
  voxel_record voxel;
  cubewright::read_step step;
  while ((step = cubewright::next_voxel(reader, voxel)) == cubewright::read_step::voxel) {
    out.read.voxels.push_back(voxel);
  }
  if (step == cubewright::read_step::error) {
    const cubewright::model_read_error& error = cubewright::read_error(reader);
    out.read.message =
        std::to_string(error.line) + ":" + std::to_string(error.column) + ": " + error.what;
    switch (error.kind) {
      case cubewright::read_failure::not_well_formed:
        out.read.result = outcome::not_well_formed;
        break;
      case cubewright::read_failure::not_a_model:
        out.read.result = outcome::content_fault;
        break;
      default:
        out.excused = true;
        break;
    }
  }
  return out;
}

// The document with every non-ASCII name character of the current edition
// spelt in ASCII, except a leading byte-order mark: "_" hex "_" for one that
// may start a name, "-" hex "-" for one that may only follow. Distinct
// characters keep distinct spellings, so names that differed still differ
// (two attributes named by different letters must not become duplicates).
std::string with_ascii_names(std::string_view document) {
  std::string out;
  const std::size_t start = document.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  out += document.substr(0, start);
  for (std::size_t i = start; i < document.size();) {
    const auto lead = static_cast<unsigned char>(document[i]);
    std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length > document.size() - i) length = 1;
    char32_t c = length == 1 ? 0 : lead & (0xFFu >> (length + 1));
    bool valid = length > 1;
    for (std::size_t k = 1; k < length && valid; ++k) {
      const auto next = static_cast<unsigned char>(document[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3Fu);
    }
    if (valid && c >= 0x80 && cubewright::is_name_char(c)) {
      const char mark = cubewright::is_name_start_char(c) ? '_' : '-';
      char hex[16];
      std::snprintf(hex, sizeof hex, "%c%x%c", mark, static_cast<unsigned>(c), mark);
      out += hex;
      i += length;
    } else {
      out += document[i++];
    }
  }
  return out;
}

bool same_bits(const voxel_record& a, const voxel_record& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string disagreement(const reading& expat, const reading& ours) {
  if (expat.result != ours.result) {
    return std::string("expat: ") + outcome_name(expat.result) + " (" + expat.message +
           "); reader: " + outcome_name(ours.result) + " (" + ours.message + ")";
  }
  if (expat.voxels.size() != ours.voxels.size()) {
    return "expat gives " + std::to_string(expat.voxels.size()) + " voxels, the reader " +
           std::to_string(ours.voxels.size());
  }
  for (std::size_t k = 0; k < expat.voxels.size(); ++k) {
    if (!same_bits(expat.voxels[k], ours.voxels[k]))
      return "voxel " + std::to_string(k) + " differs";
  }
  return "";
}

}  // namespace

std::string compare_with_expat(std::string_view document, agreement_counts& counts) {
  ++counts.documents;
  const bool utf16_guess = document.size() >= 2 && (document[0] == '\0' || document[1] == '\0' ||
                                                    document.substr(0, 2) == "\xFE\xFF" ||
                                                    document.substr(0, 2) == "\xFF\xFE");
  const our_reading ours = read_with_reader(document);
  if (utf16_guess || ours.excused) {
    ++counts.excused;
    return "";
  }
  const reading expat = read_with_expat(document);
  if (expat.result != outcome::not_well_formed) ++counts.well_formed;
  std::string problem = disagreement(expat, ours.read);
  if (!problem.empty() && expat.result == outcome::not_well_formed) {
    if (disagreement(read_with_expat(with_ascii_names(document)), ours.read).empty()) {
      ++counts.excused;
      ++counts.excused_names;
      return "";
    }
  }
  if (problem.empty() && ours.read.result != outcome::not_well_formed) {
    counts.voxels_compared += ours.read.voxels.size();
  }
  return problem;
}

}  // namespace cubewright_test
