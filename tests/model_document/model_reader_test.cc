#include "model_document/model_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model_document/attribute_number.h"

namespace cubewright {
namespace {

struct read_result {
  std::vector<voxel_record> voxels;
  std::vector<std::size_t> lines;
  read_step last = read_step::error;
  model_read_error error;
  skeleton_content skeleton;
};

read_result read_all(std::string_view document) {
  read_result result;
  model_reader reader = open_model_reader(document);
  voxel_record voxel;
  while ((result.last = next_voxel(reader, voxel)) == read_step::voxel) {
    result.voxels.push_back(voxel);
    result.lines.push_back(voxel_line(reader));
  }
  if (result.last == read_step::error) result.error = read_error(reader);
  if (result.last == read_step::end) result.skeleton = skeleton_in(reader);
  return result;
}

std::string in_model(const std::string& voxels) {
  return "<model>\n<voxels>\n" + voxels + "</voxels>\n<skeleton />\n</model>\n";
}

const char* const plain_voxel = R"(<voxel x="1" y="2" z="-3" r="0.5" g="0.25" b="0" />)";

void expect_plain_voxel(const voxel_record& v) {
  EXPECT_EQ(v.x, 1.0f);
  EXPECT_EQ(v.y, 2.0f);
  EXPECT_EQ(v.z, -3.0f);
  EXPECT_EQ(v.r, 0.5f);
  EXPECT_EQ(v.g, 0.25f);
  EXPECT_EQ(v.b, 0.0f);
}

TEST(ModelReader, AcceptsEveryWrittenVariantOfTheSameVoxel) {
  const std::string voxel = plain_voxel;
  const std::string cases[] = {
      in_model(voxel + "\n"),
      in_model(R"(<voxel x="1" y="2" z="-3" r="0.5" g="0.25" b="0" a="1.0" />)"),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + in_model(voxel),
      "<?xml version='1.0' encoding='us-ascii' standalone='yes' ?>" + in_model(voxel),
      "<?xml version=\"1.0\"?><model><voxels>" + voxel + "</voxels></model>",
      "\xEF\xBB\xBF" + in_model(voxel),
      "<!-- head --><?tool run?>\n<model><!--a--><voxels><?p?>" + voxel +
          "<!-- é --></voxels></model><!-- tail -->\n<?end?>\n",
      in_model(R"(<voxel b='0' g='0.25' r='0.5' z='-3' y='2' x='1'/>)"),
      in_model(R"(<voxel  x = "1"	y="2"
z="-3" r="0.5" g="0.25" b="0"></voxel>)"),
      in_model(R"(<voxel x="1" y="2" z="-3" r="0.5" g="0.25" b="0"><child/>text</voxel>)"),
      in_model(R"(<voxel x="1" y="2" z="-3" r="0.5" g="0.25" b="0" name="&lt;&amp;&gt;" />)"),
      "<model>\r\n<voxels>\r\n" + voxel + "\r\n</voxels>\r\n</model>\r\n",
      "<model>\r<voxels>\r" + voxel + "\r</voxels>\r</model>\r",
      in_model("<![CDATA[ <voxel x='9'/> ]]>" + voxel),
      in_model(R"(<voxel x="&#49;" y="&#x32;" z="&#45;3" r=" 0.5 " g="&#9;.25&#10;" b="0e5" />)"),
      in_model(R"(<voxel x="1" y="2" z="-3" r="
 0.5" g="0.25	" b="-0" />)"),
      in_model(R"(<voxel x="1.0" y="0x2" z="-3e0" r="5e-1" g="25E-2" b="+0.0" />)"),
      "<model><voxels/><voxels>" + voxel + "</voxels><voxels></voxels></model>",
  };
  for (const std::string& document : cases) {
    const read_result result = read_all(document);
    EXPECT_EQ(result.last, read_step::end) << document << "\n" << result.error.what;
    ASSERT_EQ(result.voxels.size(), 1u) << document;
    expect_plain_voxel(result.voxels[0]);
  }
}

TEST(ModelReader, CountsOnlyVoxelChildrenOfVoxelsChildrenOfTheRoot) {
  const std::string voxel = plain_voxel;
  const struct {
    std::string document;
    std::size_t voxels;
  } cases[] = {
      {"<model><voxels/></model>", 0},
      {"<model/>", 0},
      {"<model>" + voxel + "</model>", 0},
      {"<model><group><voxels>" + voxel + "</voxels></group></model>", 0},
      {"<model><voxels><group>" + voxel + "</group></voxels></model>", 0},
      {"<model><voxels><voxel x='1' y='2' z='3' r='4' g='5' b='6'>" + voxel +
           "</voxel></voxels></model>",
       1},
      {"<model><voxels>" + voxel + "<Voxel/><voxelx/></voxels></model>", 1},
      {"<model><voxels>" + voxel + "</voxels><voxels>" + voxel + voxel + "</voxels></model>", 3},
      {"<model><skeleton>" + voxel + "</skeleton></model>", 0},
  };
  for (const auto& c : cases) {
    const read_result result = read_all(c.document);
    EXPECT_EQ(result.last, read_step::end) << c.document << "\n" << result.error.what;
    EXPECT_EQ(result.voxels.size(), c.voxels) << c.document;
  }
}

TEST(ModelReader, GivesEachVoxelItsLineWithAnyLineEnd) {
  const std::string voxel = plain_voxel;
  for (const char* end : {"\n", "\r\n", "\r"}) {
    const std::string document = std::string("<model>") + end + "<voxels>" + end + voxel + end +
                                 "<!--" + end + "-->" + voxel + voxel + end + voxel + end +
                                 "</voxels></model>";
    EXPECT_EQ(read_all(document).lines, (std::vector<std::size_t>{3, 5, 5, 6})) << end;
  }
}

TEST(ModelReader, StopsAtTheFirstFaultWithItsPlaceAndKind) {
  using k = read_failure;
  const std::string v = plain_voxel;
  const struct {
    std::string document;
    read_failure kind;
    std::size_t line;
    std::size_t column;
    const char* what;
  } cases[] = {
      {"", k::not_well_formed, 1, 1, "no root element"},
      {"  \n <!-- c -->\n", k::not_well_formed, 3, 1, "no root element"},
      {"<model>\n<voxels>\n", k::not_well_formed, 3, 1, "unclosed element 'voxels'"},
      {"<model><voxels></model>", k::not_well_formed, 1, 16,
       "end tag 'model' does not match start tag 'voxels'"},
      {"<model>\n  <voxel x='1' x='2'/></model>", k::not_well_formed, 2, 16,
       "duplicate attribute 'x'"},
      {"<model a='1' b='2' c='3' d='4' e='5' f='6' g='7' h='8' i='9' j='10' k='11' l='12' "
       "m='13' n='14' o='15' p='16' q='17' c='18'/>",
       k::not_well_formed, 1, 118, "duplicate attribute 'c'"},
      {"<model a='<'/>", k::not_well_formed, 1, 11, "'<' in an attribute value"},
      {"<model a='&nbsp;'/>", k::not_well_formed, 1, 11, "undefined entity 'nbsp'"},
      {"<model a='&#0;'/>", k::not_well_formed, 1, 11, "a reference to a character"},
      {"<model a='& b'/>", k::not_well_formed, 1, 11, "'&' that does not start a reference"},
      {"<model>é ]]></model>", k::not_well_formed, 1, 10, "']]>' in character data"},
      {"<model><!-- a -- b --></model>", k::not_well_formed, 1, 15, "'--' inside a comment"},
      {"<model>\xC3\x28</model>", k::not_well_formed, 1, 8, "invalid UTF-8"},
      {"<model>\xED\xA0\x80</model>", k::not_well_formed, 1, 8, "invalid UTF-8"},
      {"<model>\xEF\xBF\xBE</model>", k::not_well_formed, 1, 8, "a character XML does not allow"},
      {"<model>\x01</model>", k::not_well_formed, 1, 8, "a character XML does not allow"},
      {"<?xml version='1.0' encoding='US-ASCII'?><model>é</model>", k::not_well_formed, 1, 49,
       "outside US-ASCII"},
      {"<model/>\nmore", k::not_well_formed, 2, 1, "text after the root element"},
      {"text<model/>", k::not_well_formed, 1, 1, "text before the root element"},
      {"<model/><model/>", k::not_well_formed, 1, 9, "a second element after the root element"},
      {"<model></model></model>", k::not_well_formed, 1, 16, "end tag without a start tag"},
      {"\n<?xml version='1.0'?><model/>", k::not_well_formed, 2, 1, "not at the start"},
      {"<?xml encoding='UTF-8'?><model/>", k::not_well_formed, 1, 6, "without a version"},
      {"<?xml version='1.0' standalone='maybe'?><model/>", k::not_well_formed, 1, 20,
       "standalone must be"},
      {"<model><?XML x?></model>", k::not_well_formed, 1, 8, "reserved"},
      {"<model x='1'y='2'/>", k::not_well_formed, 1, 13, "expected white space"},
      {"<model x=1/>", k::not_well_formed, 1, 10, "expected a quoted attribute value"},
      {"<model / >", k::not_well_formed, 1, 9, "expected '>' after '/'"},
      {"<model><![CDATA[x]]</model>", k::not_well_formed, 1, 8, "unclosed CDATA section"},
      {"<![CDATA[x]]><model/>", k::not_well_formed, 1, 1, "CDATA section outside"},
      {"<model><!ELEMENT x></model>", k::not_well_formed, 1, 8, "invalid markup"},
      {"<model></ model>", k::not_well_formed, 1, 10, "invalid element name"},
      {"<model>\r\n\tä<1/></model>", k::not_well_formed, 2, 4, "invalid element name"},
      {"<!DOCTYPE model><model/>", k::not_supported, 1, 1,
       "document type declarations are not supported"},
      {"<?xml version='1.0' encoding='ISO-8859-1'?><model/>", k::not_supported, 1, 20,
       "encoding 'ISO-8859-1' is not supported, only UTF-8"},
      {"<voxels/>", k::not_a_model, 1, 1, "the root element is 'voxels', not 'model'"},
      {in_model(R"(<voxel x="1" y="2" z="3" r="0" g="0" b="0" y="2"/>)"), k::not_well_formed, 3, 44,
       "duplicate attribute 'y'"},
      {in_model(R"(<voxel x="1" y="2" z="3"r="0" g="0" b="0"/>)"), k::not_well_formed, 3, 25,
       "expected white space"},
      {in_model(R"(<voxel x="1" y="2" z="3" r="0" g="0" b="0" / >)"), k::not_well_formed, 3, 45,
       "expected '>' after '/'"},
      {in_model(R"(<voxel x="1" y="2" z="3" r="0" g="0" b="0"></voxels>)"), k::not_well_formed, 3,
       44, "end tag 'voxels' does not match start tag 'voxel'"},
      {"<model><voxels><voxel x='1' y='2' z='3' r='0' g='0' b='0", k::not_well_formed, 1, 55,
       "unclosed attribute value"},
      {in_model(R"(<voxel x="1" y="2" r="0" g="0" b="0" />)"), k::not_a_model, 3, 1,
       "voxel without the 'z' attribute"},
      {in_model(R"(<voxel x="1" y="2" z="3" r="0.5" g="half" b="0" />)"), k::not_a_model, 3, 37,
       "the 'g' attribute is not a number"},
      {in_model(R"(<voxel x="1" y="2" z="3" r="0.5" g="0.5" b="1 2" />)"), k::not_a_model, 3, 45,
       "the 'b' attribute is not a number"},
      {in_model(R"(<voxel x="" y="2" z="3" r="0.5" g="0.5" b="1" />)"), k::not_a_model, 3, 11,
       "the 'x' attribute is not a number"},
      {in_model(R"(<voxel x="1e" y="2" z="3" r="0.5" g="0.5" b="1" />)"), k::not_a_model, 3, 11,
       "the 'x' attribute is not a number"},
      {in_model(R"(<voxel x="&#49;&#120;" y="2" z="3" r="0.5" g="0.5" b="1" />)"), k::not_a_model,
       3, 11, "the 'x' attribute is not a number"},
      {in_model("<voxel x='" + std::string(2000, '1') + "' y='2' z='3' r='0' g='0' b='0'/>"),
       k::over_limit, 3, 11, "too long to read as a number"},
  };
  for (const auto& c : cases) {
    const read_result result = read_all(c.document);
    ASSERT_EQ(result.last, read_step::error) << c.document;
    EXPECT_EQ(result.error.kind, c.kind) << c.document;
    EXPECT_EQ(result.error.line, c.line) << c.document;
    EXPECT_EQ(result.error.column, c.column) << c.document;
    EXPECT_NE(result.error.what.find(c.what), std::string::npos) << c.document << "\n"
                                                                 << result.error.what;
  }
}

TEST(ModelReader, CapsNestingAndAttributeCountButNotBelowTheCaps) {
  std::string deep = "<model>";
  for (std::size_t k = 1; k < max_element_depth; ++k) deep += "<a>";
  std::string closing;
  for (std::size_t k = 1; k < max_element_depth; ++k) closing += "</a>";
  EXPECT_EQ(read_all(deep + closing + "</model>").last, read_step::end);
  const read_result too_deep = read_all(deep + "<a></a>" + closing + "</model>");
  EXPECT_EQ(too_deep.error.kind, read_failure::over_limit);
  EXPECT_EQ(too_deep.error.what, "elements nested too deeply");

  std::string many = "<model";
  for (std::size_t k = 0; k < max_attribute_count; ++k) many += " a" + std::to_string(k) + "=''";
  EXPECT_EQ(read_all(many + "/>").last, read_step::end);
  EXPECT_EQ(read_all(many + " a0=''/>").error.what, "too many attributes");
  const read_result duplicate = read_all(many.substr(0, 2000) + " a7='' a3=''/>");
  EXPECT_EQ(duplicate.error.what, "duplicate attribute 'a7'");
}

TEST(ModelReader, ReportsTheFirstSkeletonContentOnly) {
  const struct {
    std::string inside;
    bool present;
    std::size_t column;
  } cases[] = {
      {"<skeleton/>", false, 0},
      {"<skeleton> \r\n\t</skeleton>", false, 0},
      {"<skeleton><!-- bone --><?p x?>&#32;&#x9;</skeleton>", false, 0},
      {"<skeleton><![CDATA[ \t]]></skeleton><skeletonVoxelBindings/>", false, 0},
      {"<voxels><skeleton>bone</skeleton></voxels>", false, 0},
      {"<skeleton><bone/></skeleton>", true, 11},
      {"<skeleton>  bone</skeleton>", true, 13},
      {"<skeleton> &amp;</skeleton>", true, 12},
      {"<skeleton> &#65;</skeleton>", true, 12},
      {"<skeleton> é</skeleton>", true, 12},
      {"<skeleton>]</skeleton>", true, 11},
      {"<skeleton><![CDATA[  x]]></skeleton>", true, 22},
      {"<skeleton/><skeletonVoxelBindings>\n<binding/>7</skeletonVoxelBindings>", true, 0},
  };
  for (const auto& c : cases) {
    const read_result result = read_all("<model>" + c.inside + "</model>");
    ASSERT_EQ(result.last, read_step::end) << c.inside << "\n" << result.error.what;
    EXPECT_EQ(result.skeleton.present, c.present) << c.inside;
    if (c.present && c.column != 0) {
      EXPECT_EQ(result.skeleton.line, 1u);
      EXPECT_EQ(result.skeleton.column, c.column + 7) << c.inside;
    }
  }
  const read_result bindings = read_all(
      "<model><skeleton/><skeletonVoxelBindings>\n<binding/>7</skeletonVoxelBindings>"
      "</model>");
  EXPECT_EQ(bindings.skeleton.line, 2u);
  EXPECT_EQ(bindings.skeleton.column, 1u);
}

TEST(HoldsSkeleton, TellsAReadableDocumentWithSkeletonContent) {
  const std::string voxel = plain_voxel;
  std::string written;
  for (int k = 0; k < 2000; ++k)
    written += std::string(R"(<voxel x="1" y="2" z="3" r="0.5" g="0.25" b="0" a="1.0" />)") + "\n";
  const struct {
    std::string document;
    bool holds;
  } cases[] = {
      {"<model><voxels>" + voxel + "</voxels><skeleton><bone/></skeleton></model>", true},
      {"<model><skeleton/><skeletonVoxelBindings>7</skeletonVoxelBindings></model>", true},
      // After thousands of voxels the fast paths read.
      {in_model(written) + "<!---->", false},
      {"<model>\n<voxels>\n" + written + "</voxels>\n<skeleton>\n<bone/></skeleton>\n</model>\n",
       true},
      {"<model><skeleton> <!-- bone --> </skeleton><skeletonVoxelBindings/></model>", false},
      {"<model><voxels><skeleton>bone</skeleton></voxels></model>", false},
      // Documents that cannot be read, whatever they hold before the fault.
      {"<model><skeleton><bone/></skeleton>", false},
      {"<model><skeleton><bone/></skeleton></model><model/>", false},
      {"<model><voxels><voxel x='nan' y='0' z='0' r='0' g='0' b='0'/></voxels>"
       "<skeleton><bone/></skeleton></model>",
       false},
      {"<voxels><skeleton><bone/></skeleton></voxels>", false},
      {"", false},
      {"3,3,3\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(holds_skeleton(c.document), c.holds) << c.document;
}

TEST(ModelReader, KeepsGivingTheSameAnswerAfterTheLastOne) {
  voxel_record voxel;
  model_reader ended = open_model_reader("<model/>");
  EXPECT_EQ(next_voxel(ended, voxel), read_step::end);
  EXPECT_EQ(next_voxel(ended, voxel), read_step::end);
  model_reader failed = open_model_reader("<model>");
  EXPECT_EQ(next_voxel(failed, voxel), read_step::error);
  EXPECT_EQ(next_voxel(failed, voxel), read_step::error);
  EXPECT_EQ(read_error(failed).what, "unclosed element 'model'");
}

// Each prefix in an allocation of its own size, so that the sanitizers see
// any read past the end; no proper prefix may be taken for a whole document.
TEST(ModelReader, NeverReadsPastTheEndOfAnyPrefix) {
  const std::string document =
      "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?><!--c--><?p d?>\r\n" +
      in_model(R"(<voxel x="&#49;" y='2' z="-3" r="0.5" g="0.25" b="0"></voxel><![CDATA[]]>)"
               "é&amp;&#x41;");
  for (std::size_t size = 0; size < document.size(); ++size) {
    const std::unique_ptr<char[]> copy(new char[size]);
    std::memcpy(copy.get(), document.data(), size);
    const read_result result = read_all(std::string_view(copy.get(), size));
    const bool whole = document.compare(0, size, document, 0, document.rfind('>') + 1) >= 0 &&
                       size > document.rfind('>');
    EXPECT_EQ(result.last, whole ? read_step::end : read_step::error) << size;
  }
}

TEST(LooksLikeModelDocument, WantsALessThanSignFirst) {
  const struct {
    const char* text;
    bool looks;
  } cases[] = {
      {"<model/>", true},      {"\xEF\xBB\xBF <?xml", true}, {" \r\n\t<", true}, {"", false},
      {"\xEF\xBB\xBF", false}, {"3,3,3\n", false},           {"\v<", false},     {"#<", false},
  };
  for (const auto& c : cases) EXPECT_EQ(looks_like_model_document(c.text), c.looks) << c.text;
}

TEST(ReadNumber, ReadsTheWholeTextAsStrtodWould) {
  const struct {
    const char* text;
    number_status status;
    float value;
  } cases[] = {
      {"0.996094", number_status::ok, 0.996094f},
      {" \t1.5\n ", number_status::ok, 1.5f},
      {"-128", number_status::ok, -128.0f},
      {"1e-45", number_status::ok, 1e-45f},
      {"0x1p-2", number_status::ok, 0.25f},
      {".5", number_status::ok, 0.5f},
      {"5.", number_status::ok, 5.0f},
      {"1e400", number_status::not_finite, 0},
      {"", number_status::not_a_number, 0},
      {" ", number_status::not_a_number, 0},
      {"+", number_status::not_a_number, 0},
      {".", number_status::not_a_number, 0},
      {"1,5", number_status::not_a_number, 0},
      {"1.5.", number_status::not_a_number, 0},
      {"1 e5", number_status::not_a_number, 0},
      {"e5", number_status::not_a_number, 0},
  };
  for (const auto& c : cases) {
    float value = -7.0f;
    EXPECT_EQ(read_number(c.text, value), c.status) << c.text;
    if (c.status == number_status::ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  float value = 0;
  EXPECT_EQ(read_number("." + std::string(max_number_text_length - 1, '1'), value),
            number_status::ok);
  EXPECT_EQ(read_number("." + std::string(max_number_text_length, '1'), value),
            number_status::too_long);
  EXPECT_EQ(read_number("   " + std::string(max_number_text_length - 1, '1') + ".5   ", value),
            number_status::too_long);
  // Leading zeros take the fast path, which needs no copy and so no limit.
  EXPECT_EQ(read_number(std::string(max_number_text_length, '0') + "1.5", value),
            number_status::ok);
}

std::uint64_t bits_of(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Every text the fast path takes must give strtod's double exactly; the edge
// cases sit on the borders of the path (2^53, 10^22, 19 digits).
TEST(ReadDecimalFast, AgreesWithStrtodOnEveryNumberItTakes) {
  std::vector<std::string> texts = {"0",
                                    "-0",
                                    "+0.000",
                                    "9007199254740992",
                                    "9007199254740993",
                                    "1e22",
                                    "1e23",
                                    "1e-22",
                                    "1e-23",
                                    "4.35e-22",
                                    "123456789012345678e-5",
                                    "0.1",
                                    "0.2",
                                    "0.3",
                                    "1234567890123456789",
                                    "12345678901234567890",
                                    "0.000000000000000000000000001",
                                    "00000000000000000000000001.5",
                                    "3.4028235e38",
                                    "1.17549435e-38",
                                    "0.996094",
                                    "1E+05",
                                    "  7  "};
  std::mt19937_64 random(20261207);
  for (int k = 0; k < 200000; ++k) {
    std::string text;
    if (random() % 2) text += random() % 2 ? "-" : "+";
    text += std::to_string(random() >> (random() % 64));
    if (random() % 2) {
      const std::string fraction = std::to_string(random() >> (random() % 64));
      text.insert(random() % (text.size() + 1), ".");
      text += random() % 4 ? "" : fraction;
    }
    if (random() % 3 == 0) text += "e" + std::to_string(static_cast<int>(random() % 60) - 30);
    texts.push_back(text);
  }
  int taken = 0;
  for (const std::string& text : texts) {
    double fast = 0;
    if (!read_decimal_fast(text, fast)) continue;
    ++taken;
    char* end = nullptr;
    const double slow = std::strtod(text.c_str(), &end);
    EXPECT_EQ(*end == '\0' || std::isspace(static_cast<unsigned char>(*end)), true) << text;
    EXPECT_EQ(bits_of(fast), bits_of(slow)) << text;
  }
  EXPECT_GT(taken, 50000);
}

}  // namespace
}  // namespace cubewright
