// The real executable fitting a model where another sat (--fit).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace {

using cubewright_test::example;
using cubewright_test::file_exists;
using cubewright_test::native_document;
using cubewright_test::process_result;
using cubewright_test::read_file;
using cubewright_test::scratch_folder;
using cubewright_test::write_file;
const auto run = cubewright_test::run_cubewright;

// The example rifle placed as the game's model would be, to fit onto.
struct placed_rifle {
  scratch_folder folder;
  std::string csv = folder / "rifle.csv";
  std::string old = folder / "assault_rifle1.xml";
  placed_rifle() {
    write_file(csv, read_file(example("rifle.csv")));
    EXPECT_EQ(run({csv, old, "5", "-3", "2"}).exit_status, 0);
  }
};

TEST(Fit, PutsTheModelWhereTheOldOneSatAndSaysHow) {
  placed_rifle rifle;
  const std::string fitted = rifle.folder / "fitted.xml";
  const process_result result = run({"--fit", rifle.old, rifle.csv, fitted});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(result.standard_error,
            native_document("cubewright: fitted to " + rifle.old +
                            " (x centre, y bottom, z centre): offsets 5 -3 2\n"));
  EXPECT_EQ(read_file(fitted), read_file(rifle.old));
}

// The offsets it names give the same model without --fit: after the mirror,
// and with the nudge of the offsets given.
TEST(Fit, MirroredAndNudgedAsThePlainOffsetsItNames) {
  placed_rifle rifle;
  for (const std::vector<std::string>& extra : {std::vector<std::string>{"0", "1", "0", "flip"},
                                                std::vector<std::string>{"-2", "0", "3"}}) {
    const std::string fitted = rifle.folder / "fitted.xml";
    std::vector<std::string> arguments = {"--fit", rifle.old, rifle.csv, fitted};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const process_result result = run(arguments);
    ASSERT_EQ(result.exit_status, 0) << result.standard_error;
    const std::string said = result.standard_error;
    const std::string offsets = said.substr(said.find("offsets ") + 8);
    std::vector<std::string> plain = {rifle.csv, rifle.folder / "plain.xml"};
    std::size_t at = 0;
    for (int axis = 0; axis < 3; ++axis) {
      const std::size_t end = offsets.find_first_of(" \r\n", at);
      plain.push_back(offsets.substr(at, end - at));
      at = end + 1;
    }
    if (extra.size() == 4) plain.push_back("flip");
    ASSERT_EQ(run(plain).exit_status, 0);
    EXPECT_EQ(read_file(fitted), read_file(rifle.folder / "plain.xml")) << said;
  }
  // Nudged one cell up from the fit that lands on the old model.
  const process_result up =
      run({"--fit", rifle.old, rifle.csv, rifle.folder / "up.xml", "0", "1", "0"});
  EXPECT_NE(up.standard_error.find("offsets 5 -2 2"), std::string::npos) << up.standard_error;
}

// Any input onto any model, into any output: the same rifle as an export,
// a document and a .vox file fits with the same offsets.
TEST(Fit, EveryInputAndOutputKind) {
  placed_rifle rifle;
  const std::string doc = rifle.folder / "rifle.xml";
  const std::string vox = rifle.folder / "rifle.vox";
  ASSERT_EQ(run({rifle.csv, doc}).exit_status, 0);
  ASSERT_EQ(run({"--to", "vox", doc, vox}).exit_status, 0);
  const std::string old_vox = rifle.folder / "old.vox";
  ASSERT_EQ(run({"--to", "vox", rifle.old, old_vox}).exit_status, 0);
  for (const std::string& input : {rifle.csv, doc, vox}) {
    for (const std::string& target : {rifle.old, old_vox}) {
      for (const std::string format : {"xml", "csv", "vox"}) {
        const std::string out = rifle.folder / ("out." + format);
        const process_result result = run({"--fit", target, "--to", format, input, out});
        ASSERT_EQ(result.exit_status, 0) << input << " " << format << ": " << result.standard_error;
        EXPECT_EQ(result.standard_error.rfind(
                      native_document("cubewright: fitted to " + target +
                                      " (x centre, y bottom, z centre): offsets 5 -3 2\n"),
                      0),
                  0u)
            << result.standard_error;
      }
    }
  }
}

// The common case: fitted onto the very file it replaces, which is read
// before it is replaced; the guards against the wrong kind of file stand.
TEST(Fit, OntoTheOutputItself) {
  placed_rifle rifle;
  const std::string before = read_file(rifle.old);
  const process_result result =
      run({"--fit", rifle.old, "--fit-align", "x=max,y=top", rifle.csv, rifle.old});
  ASSERT_EQ(result.exit_status, 0) << result.standard_error;
  EXPECT_NE(result.standard_error.find("(x max, y top, z centre): offsets 5 -3 2"),
            std::string::npos);
  EXPECT_EQ(read_file(rifle.old), before);
  // A .vox file at the output is not a document: not replaced.
  const std::string vox = rifle.folder / "rifle.vox";
  ASSERT_EQ(run({"--to", "vox", rifle.old, vox}).exit_status, 0);
  const std::string vox_bytes = read_file(vox);
  const process_result refused = run({"--fit", vox, rifle.csv, vox});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_EQ(read_file(vox), vox_bytes);
  // To the .vox itself it fits, as a .vox.
  EXPECT_EQ(run({"--fit", vox, "--to", "vox", rifle.csv, vox}).exit_status, 0);
}

// Every refusal is one line, exit 1, and nothing is written.
TEST(Fit, RefusalsWriteNothing) {
  placed_rifle rifle;
  write_file(rifle.folder / "empty.xml", "<model><voxels></voxels></model>\n");
  write_file(rifle.folder / "empty.csv", "1,1,1\n#00000000\n");
  const struct {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{"--fit", rifle.folder / "missing.xml", rifle.csv, rifle.folder / "out.xml"},
       "cubewright: cannot open the model to fit to: " + rifle.folder / "missing.xml" + ": "},
      {{"--fit", rifle.folder / "empty.xml", rifle.csv, rifle.folder / "out.xml"},
       "cubewright: cannot fit to " + rifle.folder / "empty.xml" + ": it holds no voxel\n"},
      {{"--fit", rifle.old, rifle.folder / "empty.csv", rifle.folder / "out.xml"},
       "cubewright: cannot fit " + rifle.folder / "empty.csv" + " to " + rifle.old +
           ": it holds no voxel\n"},
      {{"--fit", rifle.old, rifle.csv, rifle.folder / "out.xml", "999999"},
       "cubewright: cannot fit " + rifle.csv + " to " + rifle.old + ": it would reach x "},
      {{"--fit", rifle.old, "--fit-align", "x=middle", rifle.csv, rifle.folder / "out.xml"},
       "cubewright: unknown rules 'x=middle' for --fit-align"},
      {{"--fit-align", "x=min", rifle.csv, rifle.folder / "out.xml"},
       "cubewright: --fit-align says how to fit: give --fit MODEL too\n"},
  };
  for (const auto& c : cases) {
    const process_result result = run(c.arguments);
    EXPECT_EQ(result.exit_status, 1) << c.message;
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error.rfind(native_document(c.message), 0), 0u)
        << result.standard_error;
    EXPECT_EQ(result.standard_error.find('\n'), result.standard_error.size() - 1);
    EXPECT_FALSE(file_exists(rifle.folder / "out.xml"));
  }
}

// With --preview, the model fitted to is drawn over the new one, as
// --compare would draw it.
TEST(Fit, PreviewShowsTheOldModelUnlessAnotherIsCompared) {
  placed_rifle rifle;
  const std::string fitted_png = rifle.folder / "fitted.png";
  ASSERT_EQ(run({"--fit", rifle.old, "--preview", fitted_png, rifle.csv, rifle.folder / "a.xml"})
                .exit_status,
            0);
  const std::string compared_png = rifle.folder / "compared.png";
  ASSERT_EQ(run({"--preview", compared_png, "--compare", rifle.old, rifle.csv,
                 rifle.folder / "a.xml", "5", "-3", "2"})
                .exit_status,
            0);
  EXPECT_EQ(read_file(fitted_png), read_file(compared_png));
  const std::string other_png = rifle.folder / "other.png";
  ASSERT_EQ(run({"--fit", rifle.old, "--preview", other_png, "--compare", rifle.csv, rifle.csv,
                 rifle.folder / "a.xml"})
                .exit_status,
            0);
  EXPECT_NE(read_file(other_png), read_file(fitted_png));
}

}  // namespace
