// The real executable with options: the way back to the editors, and the
// guard that keeps a model from being replaced by the wrong kind of file.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace {

using cubewright_test::example;
using cubewright_test::native_document;
using cubewright_test::old_document;
using cubewright_test::process_result;
using cubewright_test::read_file;
using cubewright_test::scratch_folder;
using cubewright_test::test_data;
using cubewright_test::write_file;
const auto run = cubewright_test::run_cubewright;

// One line on standard error that begins with `start`, and exit 1.
void expect_refusal(const process_result& result, const std::string& start) {
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(result.standard_error.rfind(start, 0), 0u) << result.standard_error;
  EXPECT_EQ(result.standard_error.find('\n'), result.standard_error.size() - 1)
      << result.standard_error;
}

// The offsets at the end of the line that --to csv prints.
std::vector<std::string> offsets_back(const std::string& said) {
  std::istringstream words(said.substr(said.find("OUT.xml") + 7));
  std::vector<std::string> offsets(3);
  words >> offsets[0] >> offsets[1] >> offsets[2];
  return offsets;
}

TEST(WayBack, ExportAndConvertBackGivesTheSameDocument) {
  scratch_folder folder;
  for (const std::vector<std::string>& placement :
       {std::vector<std::string>{}, std::vector<std::string>{"-6", "3", "11"}}) {
    std::vector<std::string> forward = {test_data("rgb.csv"), folder / "placed.xml"};
    forward.insert(forward.end(), placement.begin(), placement.end());
    ASSERT_EQ(run(forward).exit_status, 0);

    const process_result exported =
        run({"--to", "csv", folder / "placed.xml", folder / "back.csv"});
    ASSERT_EQ(exported.exit_status, 0) << exported.standard_error;
    EXPECT_EQ(exported.standard_output, "");
    EXPECT_EQ(
        exported.standard_error.rfind(
            "cubewright: wrote " + folder / "back.csv" + " (32 x 32 x 32 cells, 99 voxels); ", 0),
        0u)
        << exported.standard_error;

    std::vector<std::string> back = {folder / "back.csv", folder / "again.xml"};
    for (const std::string& offset : offsets_back(exported.standard_error)) {
      back.push_back(offset);
    }
    ASSERT_EQ(run(back).exit_status, 0);
    EXPECT_EQ(read_file(folder / "again.xml"), read_file(folder / "placed.xml"));
  }
}

TEST(WayBack, VerboseSaysWhatWasWritten) {
  scratch_folder folder;
  const process_result result =
      run({"-v", "--mirror", "x", example("rifle.csv"), folder / "out.xml"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.standard_error, native_document("cubewright: wrote " + folder / "out.xml" +
                                                   ": 30 voxels, x -11..0 y 0..4 z 0..2\n"));
  EXPECT_EQ(result.standard_output, "");

  const process_result exported =
      run({"-v", "--to", "csv", "--mirror", "x", example("rifle.csv"), folder / "out.csv"});
  EXPECT_EQ(exported.exit_status, 0);
  EXPECT_EQ(exported.standard_output, "");
  EXPECT_EQ(exported.standard_error,
            native_document("cubewright: wrote " + folder / "out.csv" +
                            " (12 x 5 x 3 cells, 30 voxels); to convert it back to the same "
                            "place: cubewright " +
                            folder / "out.csv" + " OUT.xml -11 0 0\ncubewright: wrote " +
                            folder / "out.csv" + ": 30 voxels, x -11..0 y 0..4 z 0..2\n"));
}

TEST(WrongKind, SwappedArgumentsNeverDestroyAnExport) {
  scratch_folder folder;
  const std::string csv = read_file(example("rifle.csv"));
  write_file(folder / "rifle.csv", csv);
  write_file(folder / "rifle.xml", "<model>\n</model>\n");

  expect_refusal(
      run({folder / "rifle.xml", folder / "rifle.csv"}),
      "cubewright: will not replace " + folder / "rifle.csv" + ": it holds a sproxel CSV export");
  expect_refusal(
      run({"--to", "csv", folder / "rifle.csv", folder / "rifle.xml"}),
      "cubewright: will not replace " + folder / "rifle.xml" + ": it holds a model document");
  EXPECT_EQ(read_file(folder / "rifle.csv"), csv);
  EXPECT_EQ(read_file(folder / "rifle.xml"), "<model>\n</model>\n");
  EXPECT_EQ(folder.entry_count(), 2);

  // The input itself may be converted in place, however it is named.
  ASSERT_EQ(run({folder / "rifle.csv", folder / "./rifle.csv"}).exit_status, 0);
  EXPECT_EQ(read_file(folder / "rifle.csv"),
            read_file(example("rifle.xml")).size() == 0
                ? ""
                : native_document(read_file(example("rifle.xml"))));
  // Nor is anything else that is not a model of the kind written: a
  // picture, a program, notes. An empty file is.
  const struct {
    const char* name;
    std::string contents;
    const char* held;
  } others[] = {
      {"notes.txt", "12,5\n", "text"},
      {"shot.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "a PNG picture"},
      {"game.exe", std::string("MZ\x90\0\x03\0", 6), "a program"},
      {"page.xml", "<!DOCTYPE html><html></html>", "text"},
  };
  for (const auto& other : others) {
    write_file(folder / other.name, other.contents);
    expect_refusal(run({example("rifle.csv"), folder / other.name}),
                   "cubewright: will not replace " + folder / other.name + ": it holds " +
                       other.held + ", not a model document");
    EXPECT_EQ(read_file(folder / other.name), other.contents);
    if (std::string(other.held) == "a PNG picture") continue;  // a picture it may replace
    expect_refusal(
        run({example("rifle.csv"), folder / "out.xml", "--preview", folder / other.name}),
        "cubewright: will not replace " + folder / other.name + " with a picture: it holds " +
            other.held + ", not a PNG picture");
    EXPECT_EQ(read_file(folder / other.name), other.contents);
  }
  write_file(folder / "empty.xml", "");
  EXPECT_EQ(run({example("rifle.csv"), folder / "empty.xml"}).exit_status, 0);
}

TEST(WrongKind, BinaryInputIsRefused) {
  scratch_folder folder;
  write_file(folder / "image.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  write_file(folder / "out.xml", "kept");
  expect_refusal(run({folder / "image.png", folder / "out.xml"}),
                 "cubewright: cannot read input: " + folder / "image.png" + ": ");
  EXPECT_EQ(read_file(folder / "out.xml"), "kept");
}

TEST(Options, ErrorsHelpAndVersion) {
  expect_refusal(run({"--frobnicate", "a.csv", "b.xml"}),
                 "cubewright: unknown option '--frobnicate' (cubewright --help lists them");
  expect_refusal(run({"--to", "obj", "a.csv", "b.xml"}), "cubewright: unknown format 'obj'");

  const process_result version = run({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.standard_output.rfind("cubewright 0.", 0), 0u);
  const process_result help = run({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.standard_output.find("--to FORMAT"), std::string::npos);
  EXPECT_EQ(help.standard_output.rfind("cubewright v0.1 - ", 0), 0u);
}

}  // namespace

namespace {

TEST(Preview, DrawsAPictureBesideTheConversion) {
  scratch_folder folder;
  const process_result result =
      run({"--preview", folder / "rifle.png", "--compare", example("rifle.xml"), "--mirror", "x",
           example("rifle.csv"), folder / "rifle.xml", "11"});
  ASSERT_EQ(result.exit_status, 0) << result.standard_error;
  EXPECT_EQ(result.standard_output, "");
  const std::string png = read_file(folder / "rifle.png");
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(folder.entry_count(), 2);
}

TEST(Preview, AFailedPictureLeavesTheModelOutputAsItWas) {
  scratch_folder folder;
  write_file(folder / "out.xml", old_document);
  const std::string picture = folder / "no such folder/p.png";
  const process_result result =
      run({"--preview", picture, example("rifle.csv"), folder / "out.xml"});
  expect_refusal(result, "cubewright: cannot create output: " + picture + ": ");
  EXPECT_EQ(read_file(folder / "out.xml"), old_document);
  EXPECT_EQ(folder.entry_count(), 1);

  // A picture never takes the place of a model, nor of the conversion's output.
  write_file(folder / "model.csv", read_file(example("rifle.csv")));
  expect_refusal(run({"--preview", folder / "model.csv", example("rifle.csv"), folder / "out.xml"}),
                 "cubewright: will not replace " + folder / "model.csv" + " with a picture");
  expect_refusal(run({"--preview", folder / "out.xml", example("rifle.csv"), folder / "out.xml"}),
                 "cubewright: will not draw the picture into " + folder / "out.xml");
  expect_refusal(run({"--preview", folder / "p.png", "--compare", folder / "missing.xml",
                      example("rifle.csv"), folder / "out.xml"}),
                 "cubewright: cannot open the model to compare: " + folder / "missing.xml");
  EXPECT_EQ(read_file(folder / "out.xml"), old_document);
  EXPECT_EQ(read_file(folder / "model.csv"), read_file(example("rifle.csv")));
}

}  // namespace

namespace {

TEST(ModelDocument, SkeletonIsNeverLostSilently) {
  scratch_folder folder;
  write_file(folder / "rigged.xml",
             "<?xml version=\"1.0\"?>\r\n<model>\r\n<voxels>\r\n"
             "<voxel b='0' g=\"0.5\" r=\"1\" z=\" 2 \" y=\"1\" x=\"-3\"></voxel>\r\n"
             "</voxels>\r\n<skeleton>\r\n  <bone name=\"arm\"/>\r\n</skeleton>\r\n</model>\r\n");
  expect_refusal(run({folder / "rigged.xml", folder / "out.xml"}),
                 "cubewright: cannot convert: " + folder / "rigged.xml" + ":7:3: ");
  EXPECT_FALSE(cubewright_test::file_exists(folder / "out.xml"));

  const process_result exported = run({"--to", "csv", folder / "rigged.xml", folder / "out.csv"});
  EXPECT_EQ(exported.exit_status, 0);
  EXPECT_EQ(exported.standard_error.rfind(
                native_document("cubewright: " + folder / "rigged.xml" +
                                ":7:3: the skeleton is left out; the export holds the voxels "
                                "alone\ncubewright: wrote "),
                0),
            0u)
      << exported.standard_error;
  EXPECT_EQ(read_file(folder / "out.csv"), "1,1,1\n#FF8000FF\n\n");
}

TEST(ModelDocument, BadDocumentsNameTheirLineAndColumn) {
  scratch_folder folder;
  const struct {
    const char* text;
    const char* where;
  } cases[] = {
      {"<model><voxels>\n<voxel x=\"1\" y=\"2\" z=\"3\" r=\"0\" g=\"0\"/>", ":2:"},
      {"<model><voxels>\n<voxel x=\"1\" y=\"2\" z=\"3\" r=\"0\" g=\"0\" b=\"red\"/>", ":2:"},
      {"<modell/>", ":1:"},
      {"<model><voxels></model>", ":1:"},
      {"<!DOCTYPE model>\n<model/>", ":1:"},
  };
  write_file(folder / "out.csv", "1,1,1\n#FF8000FF\n\n");
  for (const auto& c : cases) {
    write_file(folder / "bad.xml", c.text);
    for (const char* format : {"xml", "csv"}) {
      const process_result result =
          run({"--to", format, folder / "bad.xml", folder / (std::string("out.") + format)});
      expect_refusal(result, "cubewright: cannot read model: " + folder / "bad.xml" + c.where);
    }
  }
  EXPECT_EQ(read_file(folder / "out.csv"), "1,1,1\n#FF8000FF\n\n");
  EXPECT_EQ(folder.entry_count(), 2);
}

TEST(ModelDocument, PlacedAgainInDocumentOrderAndWholeCellsForCsv) {
  scratch_folder folder;
  write_file(folder / "doc.xml",
             "<model><voxels><voxel x='1' y='0' z='0' r='0' g='0' b='0' a='1.0'/>"
             "<voxel x='0' y='0' z='0' r='0.5' g='0' b='0'/></voxels><skeleton/></model>");
  ASSERT_EQ(run({"--mirror", "x", folder / "doc.xml", folder / "out.xml", "1"}).exit_status, 0);
  EXPECT_EQ(
      read_file(folder / "out.xml"),
      native_document("<model>\n<voxels>\n"
                      "<voxel x=\"0\" y=\"0\" z=\"0\" r=\"0\" g=\"0\" b=\"0\" a=\"1.0\" />\n"
                      "<voxel x=\"1\" y=\"0\" z=\"0\" r=\"0.5\" g=\"0\" b=\"0\" a=\"1.0\" />\n"
                      "</voxels>\n<skeleton />\n<skeletonVoxelBindings />\n</model>\n"));

  write_file(folder / "half.xml",
             "<model><voxels>\n\n<voxel x='1.5' y='0' z='0' r='0' g='0' b='0'/></voxels></model>");
  expect_refusal(run({"--to", "csv", folder / "half.xml", folder / "half.csv"}),
                 "cubewright: cannot convert: " + folder / "half.xml" + ":3: x=\"1.5\" is not");
  write_file(folder / "empty.xml", "<model><voxels/></model>");
  expect_refusal(
      run({"--to", "csv", folder / "empty.xml", folder / "empty.csv"}),
      "cubewright: cannot convert: " + folder / "empty.xml" + ": the model has no voxel");
}

}  // namespace

namespace {

TEST(Vox, RealFilesGiveTheirCheckedDocuments) {
  scratch_folder folder;
  for (const char* name : {"dotvox_placeholder_nopalette", "dotvox_placeholder_with_palette",
                           "ogt_test_multiple_model_scene", "voxelio_debug",
                           "voxformat_test_multiple_models", "voxformat_test_no_models"}) {
    SCOPED_TRACE(name);
    const process_result result =
        run({test_data(std::string("vox/") + name + ".vox"), folder / "out.xml"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_error, "");
    EXPECT_TRUE(read_file(folder / "out.xml") ==
                native_document(read_file(test_data(std::string("vox/") + name + ".xml"))));
  }
}

// The editor's own save of a file without a scene graph writes the model
// standing on the ground: both give one document. An animated scene gives
// its first frame and says how many it left out.
TEST(Vox, AsTheEditorShowsThem) {
  scratch_folder folder;
  ASSERT_EQ(run({test_data("vox/dotvox_placeholder_head.vox"), folder / "head.xml"}).exit_status,
            0);
  EXPECT_TRUE(read_file(folder / "head.xml") ==
              native_document(read_file(test_data("vox/dotvox_placeholder_nopalette.xml"))));
  const std::string deer = test_data("vox/bevyvoxscene_deer_v200.vox");
  const process_result result = run({"-v", deer, folder / "deer.xml"});
  EXPECT_EQ(result.exit_status, 0);
  const std::string noted =
      native_document("cubewright: " + deer +
                      ": left out 3 further animation frames; only the first is converted\n");
  EXPECT_EQ(result.standard_error.rfind(noted, 0), 0u) << result.standard_error;
  EXPECT_EQ(result.standard_error.find("cubewright: wrote " + folder / "deer.xml" + ": 355 voxels"),
            noted.size())
      << result.standard_error;
  EXPECT_EQ(result.standard_output, "");
}

TEST(Vox, ThereAndBackKeepsEveryVoxelInPlace) {
  scratch_folder folder;
  ASSERT_EQ(
      run({"--to", "vox", test_data("rgb.csv"), folder / "rgb.vox", "-40", "7", "300"}).exit_status,
      0);
  EXPECT_EQ(read_file(folder / "rgb.vox").substr(0, 4), "VOX ");
  ASSERT_EQ(run({folder / "rgb.vox", folder / "rgb.xml"}).exit_status, 0);
  ASSERT_EQ(run({test_data("rgb.csv"), folder / "direct.xml", "-40", "7", "300"}).exit_status, 0);
  EXPECT_TRUE(read_file(folder / "rgb.xml") == read_file(folder / "direct.xml"));

  // Neither way replaces a model of the other kind.
  expect_refusal(
      run({"--to", "vox", test_data("rgb.csv"), folder / "rgb.xml"}),
      "cubewright: will not replace " + folder / "rgb.xml" + ": it holds a model document");
  expect_refusal(run({test_data("rgb.csv"), folder / "rgb.vox"}),
                 "cubewright: will not replace " + folder / "rgb.vox" + ": it holds a .vox model");
}

TEST(Vox, DamagedFileIsNamedWithItsByte) {
  scratch_folder folder;
  const std::string whole = read_file(test_data("vox/voxelio_debug.vox"));
  write_file(folder / "cut.vox", whole.substr(0, whole.size() / 2));
  expect_refusal(run({folder / "cut.vox", folder / "out.xml"}),
                 "cubewright: cannot read model: " + folder / "cut.vox" + ": damaged .vox file: ");
  EXPECT_EQ(folder.entry_count(), 1);
}

}  // namespace
