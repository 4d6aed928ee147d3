#include "install/install_manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct LineCase {
  const char* name;
  std::string line;
  std::optional<InstallItem> expected;
};

class ManifestLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ManifestLineTest, ReadsFieldsAndMode) {
  EXPECT_EQ(parseManifestLine(GetParam().line), GetParam().expected);
}

const InstallItem kSetup{"bin/setup", "./bin", 0755};

INSTANTIATE_TEST_SUITE_P(
    Lines, ManifestLineTest,
    ::testing::Values(
        LineCase{"Blanks", "bin/setup ./bin 00755\n", kSetup},
        LineCase{"TabsAndCrLf", "bin/setup\t./bin\t00755\r\n", kSetup},
        LineCase{"HighBytesSeparate", "bin/setup\xA0./bin\xFF" "00755\n", kSetup},
        LineCase{"TrailingBlanks", "bin/setup ./bin 00755   \n", kSetup},
        LineCase{"Mode644", "etc/mivo4.0.png ./etc 00644\n", InstallItem{"etc/mivo4.0.png", "./etc", 0644}},
        LineCase{"OneLeadingZeroIsNoMode", "nc ./bin 0755\n", InstallItem{"nc", "./bin", 0}},
        LineCase{"DoubleZeroIsDefault", "a.ppd ? 00\n", InstallItem{"a.ppd", "?", 0755}},
        LineCase{"TripleZeroIsDefault", "a.ppd ? 000\n", InstallItem{"a.ppd", "?", 0755}},
        LineCase{"HundredHoldsDoubleZero", "a.ppd ? 100\n", InstallItem{"a.ppd", "?", 0755}},
        LineCase{"ModeInsideLaterField", "a.ppd ? x x2006\n", InstallItem{"a.ppd", "?", 06}},
        LineCase{"OctalStopsAtNonDigit", "a.ppd ? 00644x9\n", InstallItem{"a.ppd", "?", 0644}},
        LineCase{"DestinationZerosAreNotMode", "a.ppd /x00 \n", InstallItem{"a.ppd", "/x00", 0}},
        LineCase{"OneFieldCounts", "lonely\n", InstallItem{"lonely", "", 0}},
        LineCase{"NoLineFeed", "bin/setup ./bin 00755", kSetup},
        LineCase{"Comment", "# bin/setup ./bin 00755\n", std::nullopt},
        LineCase{"EmptyLine", "\n", std::nullopt},
        LineCase{"LeadingBlank", " bin/setup ./bin 00755\n", std::nullopt},
        LineCase{"LeadingTab", "\tbin/setup ./bin\n", std::nullopt},
        LineCase{"LeadingHighByte", "\xE9tc ./etc\n", std::nullopt},
        LineCase{"CarriageReturnOnly", "\r\n", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ManifestPieces, LongLinesComeInPiecesOf255Bytes) {
  std::string text = std::string(300, 'a') + "\nx y\n";
  auto pieces = linePieces(text);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].size(), 255u);
  EXPECT_EQ(pieces[1], std::string(45, 'a') + "\n");
  EXPECT_EQ(pieces[2], "x y\n");
}

TEST(ManifestPieces, NulCutsThePieceButNotTheLine) {
  std::string text("ab\0cd\nef\n", 9);
  auto pieces = linePieces(text);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], "ab");
  EXPECT_EQ(pieces[1], "ef\n");
}

TEST(Manifest, EachPieceOfALongLineIsALineOfItsOwn) {
  // The second piece starts with a blank and is ignored; the third is an item.
  std::string text = "first ./bin" + std::string(244, ' ') + "  ignored\n";
  text += std::string(255, 'b') + "c ./etc\n";
  ManifestParse parse = parseManifest(text);
  ASSERT_EQ(parse.items.size(), 2u);
  EXPECT_EQ(parse.items[0].source, "first");
  EXPECT_EQ(parse.items[1].source, "c");
  EXPECT_EQ(parse.items[1].destination, "./etc");
  // The 255 b's were a source of their own, too long to be taken.
  ASSERT_EQ(parse.droppedLines.size(), 1u);
  EXPECT_NE(parse.droppedLines[0].find("line 2 "), std::string::npos);
}

TEST(Manifest, EndMarkers) {
  struct Case {
    std::string text;
    size_t items;
  };
  for (const Case& c : {
           Case{"a1 . \n@@NULL\nb1 .\n", 1},
           Case{"a1 .\n# end here @@NULL\nb1 .\n", 1},
           Case{"@@NULL\na1 .\n", 0},
           Case{"a1 .\nx@@NULLy ./bin\nb1 .\n", 1},
           Case{std::string("a1 .\n\0b1 .\nc1 .\n", 15), 1},
           Case{"a1 .\n\n# note\n  indented\nb1 .\n", 2},
       }) {
    EXPECT_EQ(parseManifest(c.text).items.size(), c.items) << c.text;
  }
}

TEST(Manifest, SourceOf47CharactersIsTakenAndLongerIsDropped) {
  std::string fits(kSourceNameMax, 's');
  std::string tooLong(kSourceNameMax + 1, 't');
  ManifestParse parse = parseManifest(fits + " ?\n" + tooLong + " ? 00644\nlast ./etc\n");
  ASSERT_EQ(parse.items.size(), 2u);
  EXPECT_EQ(parse.items[0].source, fits);
  EXPECT_EQ(parse.items[1].source, "last");
  ASSERT_EQ(parse.droppedLines.size(), 1u);
  EXPECT_NE(parse.droppedLines[0].find("line 2 "), std::string::npos);
  EXPECT_NE(parse.droppedLines[0].find(tooLong), std::string::npos);
}

TEST(Manifest, Only256ItemsAreTaken) {
  std::string text = "# header\n";
  for (int i = 0; i < 258; ++i) text += "file" + std::to_string(i) + " ./etc 00644\n";
  ManifestParse parse = parseManifest(text);
  ASSERT_EQ(parse.items.size(), kInstallItemMax);
  EXPECT_EQ(parse.items.back().source, "file255");
  ASSERT_EQ(parse.droppedLines.size(), 2u);
  EXPECT_NE(parse.droppedLines[0].find("line 258 "), std::string::npos);
  EXPECT_NE(parse.droppedLines[1].find("line 259 "), std::string::npos);
}

}  // namespace
