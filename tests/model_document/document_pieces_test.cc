// The document written by two threads against the one written by one: the
// same bytes whether or not an export's pieces start where its regular lines
// say, the same bytes for a .vox file's grid, one write at a time, and
// nothing after a refused write. And a document read by two threads against
// one reader: the same export or the same failure.

#include "model_document/document_pieces.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "conversion/convert.h"
#include "model/placed_model.h"
#include "model/voxel_grid.h"
#include "model_document/model_writer.h"
#include "sproxel_csv/csv_document.h"
#include "tuning.h"

namespace cubewright {
namespace {

// Collects what it is given, checking that no two calls overlap; refuses
// every write from the `refuse_from`th byte on.
struct checking_sink {
  std::string bytes;
  std::size_t refuse_from = std::string::npos;
  std::atomic<bool> busy{false};
  bool overlapped = false;
  int calls_after_refusal = 0;
  bool refused = false;

  output_sink sink() {
    output_sink out;
    out.context = this;
    out.write = [](void* context, const char* data, std::size_t size) {
      auto& self = *static_cast<checking_sink*>(context);
      if (self.busy.exchange(true)) self.overlapped = true;
      bool took = true;
      if (self.refused) ++self.calls_after_refusal;
      if (self.bytes.size() + size > self.refuse_from) {
        self.refused = true;
        took = false;
      } else {
        self.bytes.append(data, size);
      }
      self.busy = false;
      return took;
    };
    return out;
  }
};

// An export of `side` cells a side, a fifth of them filled, with its line
// end; `irregular` adds blank lines and odd cells where the regular lines
// would not have them.
std::string export_text(int side, const char* line_end, bool irregular, unsigned seed) {
  std::mt19937 random(seed);
  std::string text =
      std::to_string(side) + "," + std::to_string(side) + "," + std::to_string(side) + line_end;
  for (int y = 0; y < side; ++y) {
    for (int z = 0; z < side; ++z) {
      for (int x = 0; x < side; ++x) {
        if (x != 0) text += ',';
        if (irregular && random() % 5000 == 0) {
          text += "#12ab";  // short: read by the general rule
        } else if (random() % 5 == 0) {
          const char digits[] = "0123456789ABCDEF";
          text += '#';
          for (int k = 0; k < 6; ++k) text += digits[random() % 16];
          text += "FF";
        } else {
          text += "#00000000";
        }
      }
      text += line_end;
      if (irregular && random() % 40 == 0) text += line_end;
    }
    text += line_end;
  }
  return text;
}

std::string document_of(const std::string& text, const model_placement& placement) {
  return export_to_document(text, placement, "\r\n").value();
}

TEST(ParallelDocument, WritesWhatOneThreadWrites) {
  model_placement mirrored;
  mirrored.axis_factor_x = -1.0f;
  mirrored.offset_x = 11;
  mirrored.offset_z = -4;
  struct example {
    const char* line_end;
    bool irregular;
    model_placement placement;
  };
  const example examples[] = {
      {"\n", false, {}}, {"\r\n", false, mirrored}, {"\n", true, mirrored}, {"\r\n", true, {}}};
  unsigned seed = 1;
  for (const example& e : examples) {
    const std::string text = export_text(72, e.line_end, e.irregular, seed++);
    ASSERT_GT(text.size(), 4 * tuning::export_piece_bytes);
    const std::string expected = document_of(text, e.placement);
    const token_list tokens = read_token_list(text);
    for (int threads : {1, 2}) {
      checking_sink out;
      EXPECT_TRUE(write_export_document_in_pieces(tokens, *parse_grid_size(tokens), e.placement,
                                                  "\r\n", out.sink(), true, threads));
      EXPECT_FALSE(out.overlapped);
      EXPECT_TRUE(out.bytes == expected)
          << "line end " << (e.line_end[1] ? "CR LF" : "LF") << ", irregular " << e.irregular
          << ", threads " << threads << ": " << out.bytes.size() << " bytes of " << expected.size();
    }
  }
}

TEST(ParallelDocument, StopsAtTheFirstRefusedWrite) {
  const std::string text = export_text(72, "\n", false, 9);
  const std::string expected = document_of(text, {});
  const token_list tokens = read_token_list(text);
  for (std::size_t refuse_from :
       {std::size_t{0}, std::size_t{100000}, expected.size() / 2, expected.size() - 1}) {
    checking_sink out;
    out.refuse_from = refuse_from;
    EXPECT_FALSE(
        write_export_document_in_pieces(tokens, *parse_grid_size(tokens), {}, "\r\n", out.sink()));
    EXPECT_EQ(out.calls_after_refusal, 0) << refuse_from;
    EXPECT_EQ(out.bytes, expected.substr(0, out.bytes.size())) << refuse_from;
    EXPECT_FALSE(out.overlapped);
  }
}

TEST(ParallelDocument, StopsAtAPieceThatHoldsANulByte) {
  // Each thread checks its pieces before formatting them: a NUL in the
  // header, in the first piece or in a later one stops the run before the
  // piece is written; unchecked, the same text is written whole.
  const std::string text = export_text(72, "\n", false, 12);
  for (const std::size_t at :
       {std::size_t{3}, std::size_t{5000}, text.size() / 2, text.size() - 2}) {
    std::string held = text;
    held[at] = '\0';
    const token_list tokens = read_token_list(held);
    for (int threads : {1, 2}) {
      checking_sink out;
      EXPECT_FALSE(write_export_document_in_pieces(tokens, *parse_grid_size(tokens), {}, "\n",
                                                   out.sink(), true, threads))
          << at;
      EXPECT_LT(out.bytes.size(), at * 2) << "written past the NUL at " << at;
      EXPECT_EQ(out.calls_after_refusal, 0);
    }
    checking_sink unchecked;
    EXPECT_TRUE(write_export_document_in_pieces(tokens, *parse_grid_size(tokens), {}, "\n",
                                                unchecked.sink(), false));
  }
}

// The document of a grid by the record path, one voxel after the other.
std::string grid_document(const voxel_grid& grid, const model_placement& placement) {
  checking_sink out;
  model_writer writer = open_model_writer(out.sink(), "\n", 4096);
  write_head(writer);
  for_each_voxel_in_walk_order(
      grid, [&](const cell_voxel& cell) { write_voxel(writer, placed_record(cell, placement)); });
  write_tail(writer);
  return out.bytes;
}

TEST(ParallelDocument, WritesAGridAsOneThreadWrites) {
  // Layers of a few cells and of many, so that pieces hold one layer or
  // several; a grid that starts left of and below 0; and an empty one.
  std::mt19937 random(31);
  model_placement placement;
  placement.axis_factor_z = -1.0f;
  placement.offset_y = 5;
  for (const int side : {0, 60, 300}) {
    std::vector<cell_voxel> voxels;
    for (int k = 0; k < side * side * 3; ++k) {
      cell_voxel cell;
      cell.x = static_cast<std::int32_t>(random() % static_cast<unsigned>(side)) - 4;
      cell.y = static_cast<std::int32_t>(random() % 40) - 7;
      cell.z = static_cast<std::int32_t>(random() % static_cast<unsigned>(side));
      cell.r = static_cast<std::uint8_t>(random());
      cell.g = static_cast<std::uint8_t>(random());
      cell.b = static_cast<std::uint8_t>(random());
      voxels.push_back(cell);
    }
    voxel_grid grid;
    ASSERT_TRUE(make_voxel_grid(voxels, grid));
    const std::string expected = grid_document(grid, placement);
    for (int threads : {1, 2}) {
      checking_sink out;
      EXPECT_TRUE(write_grid_document_in_pieces(grid, placement, "\n", out.sink(), threads));
      EXPECT_FALSE(out.overlapped);
      EXPECT_TRUE(out.bytes == expected) << "side " << side << ", threads " << threads << ": "
                                         << out.bytes.size() << " bytes of " << expected.size();
    }
  }
}

// Copies bytes of a document, but none at or past `cut` (as from a file
// another program cut short there).
struct document_copier {
  const std::string* document;
  std::size_t cut;
};

bool copy_document(const void* context, std::size_t offset, char* out, std::size_t size) {
  const auto& copier = *static_cast<const document_copier*>(context);
  if (offset + size > copier.cut) return false;
  std::memcpy(out, copier.document->data() + offset, size);
  return true;
}

// What an export of a document gives: the output, or the failure, with
// the notes.
std::string export_of(const std::string& document, bool read_ahead,
                      const document_copier* copier = nullptr) {
  conversion_request request;
  request.text = document;
  if (copier != nullptr) request.copier = {copier, &copy_document};
  request.input = content_kind::model_document;
  request.input_path = "model.xml";
  request.format = output_format::csv;
  request.plan.read_ahead = read_ahead;
  // Close enough to the edge of 32 bits that a written x of 9999999 is no
  // whole cell once placed.
  request.placement.offset_x = 2147400000;
  std::string bytes;
  const conversion_result result = convert_model(request, string_sink(bytes));
  std::string said = result.ok ? bytes + "\n" + std::to_string(result.voxel_count) + " voxels"
                               : "failed: " + result.failure;
  for (const std::string& note : result.notes) said += "\nnote: " + note;
  return said;
}

TEST(ReadAhead, ExportsWhatOneReaderExports) {
  // Documents the tool wrote, mirrored or not, then with something where
  // a stretch the other readers take starts, or anywhere, once or a few
  // times: a comment, a voxel written another way, positions that are no
  // whole cell (one such reader reads itself), a broken tag, a skeleton.
  // Each is read from the text, and through copies of windows, whole or cut
  // short somewhere; the last documents span several windows a stretch.
  model_placement mirrored;
  mirrored.axis_factor_y = -1.0f;
  mirrored.offset_z = 6;
  const std::vector<std::string> oddities = {
      "<!-- a comment -->\n", "<voxel b=\"1\" g=\"0\" r=\"0.5\" z=\"3\" y=\"4\" x=\"-9\"/>\n",
      "<voxel x=\"1.5\" y=\"0\" z=\"0\" r=\"0\" g=\"0\" b=\"0\" a=\"1.0\" />\n",
      "<voxel x=\"1\" y=\"0\" z=\"0\" r=\"0\" g=\"0\" b=\"0\" a=\"1.0\" >\n",
      "<voxel x=\"9999999\" y=\"0\" z=\"0\" r=\"0\" g=\"0\" b=\"0\" a=\"1.0\" />\n", "\n\n   \t\n",
      // More blank space than a line holds, before a stretch's start.
      std::string(90, '\n') + std::string(40, ' ') + "\n", "</voxels><voxels>\n",
      "</voxels><skeleton><bone/></skeleton><voxels>\n"};
  std::mt19937 random(41);
  unsigned seed = 100;
  for (int n = 0; n < 64; ++n) {
    const int side = n < 60 ? 8 + n % 5 : 36;
    const std::string text = export_text(side, n % 3 ? "\n" : "\r\n", n % 4 == 0, seed++);
    std::string document = document_of(text, n % 2 ? mirrored : model_placement());
    // A byte order mark moves every byte of the file three places on; blank
    // lines between the voxel lines let a window that started in the wrong
    // place read on.
    if (n % 5 == 2) {
      document.insert(0, "\xEF\xBB\xBF");
      for (std::size_t at = document.find("\n<voxel"); at != std::string::npos;
           at = document.find("\n<voxel", at + 5)) {
        document.insert(at, "\n\n\n");
      }
    }
    if (n % 10 == 9) {
      // Voxel lines commented out around the middle, where a stretch
      // starts: its reader reads them, and the first must not take them.
      const std::size_t end = document.find('\n', document.size() / 2 + 300);
      const std::size_t start = document.find('\n', document.size() / 2 - 200);
      if (start != std::string::npos && end != std::string::npos) {
        document.insert(end + 1, "-->\n");
        document.insert(start + 1, "<!--\n");
      }
    } else if (n >= 4) {
      // Near the middle, where a stretch starts, or anywhere; in a few
      // documents at several places, so that stretches after the first odd
      // one are handed over, or read again, too.
      for (int times = n % 4 == 3 ? 3 : 1; times > 0; --times) {
        std::size_t at = n % 3 ? document.size() / 2 + random() % 200 : random() % document.size();
        at = document.find('\n', at);
        if (at != std::string::npos) document.insert(at + 1, oddities[random() % oddities.size()]);
      }
    }
    const std::string one = export_of(document, false);
    ASSERT_EQ(export_of(document, true), one) << document;
    const document_copier whole{&document, document.size()};
    ASSERT_EQ(export_of(document, true, &whole), one) << document;
    const document_copier cut{&document, random() % document.size()};
    ASSERT_EQ(export_of(document, true, &cut), one) << "cut at " << cut.cut << ": " << document;
  }
}

}  // namespace
}  // namespace cubewright
