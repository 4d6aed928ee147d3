#include "install/install_manifest.h"

#include <gtest/gtest.h>

#include <string>

TEST(Manifest, FieldsModesAndSkippedLines) {
  const InstallItem setup{"bin/setup", "./bin", 0755};
  const std::pair<std::string, std::optional<InstallItem>> cases[] = {
      {"bin/setup ./bin 00755\n", setup},
      {"bin/setup\t./bin\t00755\r\n", setup},
      {"bin/setup\xA0./bin\xFF" "00755\n", setup},  // high bytes separate
      {"bin/setup ./bin 00755", setup},
      {"nc ./bin 0755\n", InstallItem{"nc", "./bin", 0}},  // one leading zero is no mode
      {"a.ppd ? 000\n", InstallItem{"a.ppd", "?", 0755}},
      {"a.ppd ? 100\n", InstallItem{"a.ppd", "?", 0755}},
      {"a.ppd ? x x2006\n", InstallItem{"a.ppd", "?", 06}},
      {"a.ppd /x00 \n", InstallItem{"a.ppd", "/x00", 0}},  // the destination's zeros are no mode
      {"lonely\n", InstallItem{"lonely", "", 0}},
      {"# bin/setup ./bin 00755\n", std::nullopt},
      {"\r\n", std::nullopt},
      {" bin/setup ./bin 00755\n", std::nullopt},
      {"\xE9tc ./etc\n", std::nullopt},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(parseManifestLine(line), expected) << line;
}

TEST(Manifest, EndMarkersPiecesAndDroppedLines) {
  const std::string fits(kSourceNameMax, 's'), tooLong(kSourceNameMax + 1, 't');
  std::string many;
  std::vector<std::string> firstMany;
  for (int i = 0; i < 257; ++i) {
    many += "file" + std::to_string(i) + " ./etc 00644\n";
    if (i < 256) firstMany.push_back("file" + std::to_string(i));
  }
  const std::tuple<std::string, std::vector<std::string>, size_t> cases[] = {
      {"a1 .\n# end here @@NULL\nb1 .\n", {"a1"}, 0},
      {std::string("a1 .\n\0b1 .\nc1 .\n", 15), {"a1"}, 0},  // a piece starting with NUL ends the manifest
      {"first ./bin" + std::string(244, ' ') + "  ignored\n" + std::string(255, 'b') + "c ./etc\n", {"first", "c"}, 1},
      {fits + " ?\n" + tooLong + " ? 00644\nlast ./etc\n", {fits, "last"}, 1},
      {many, firstMany, 1},
  };
  for (const auto& [text, sources, dropped] : cases) {
    ManifestParse parse = parseManifest(text);
    std::vector<std::string> got;
    for (const InstallItem& item : parse.items) got.push_back(item.source);
    EXPECT_EQ(got, sources) << text.substr(0, 40);
    EXPECT_EQ(parse.droppedLines.size(), dropped) << text.substr(0, 40);
  }
}

TEST(Manifest, TheTreesListOfHashes) {
  const std::string hash(64, 'a');
  EXPECT_EQ(parseHashList(hash + "  bin/setup\n" + hash + "  ppd/a b.ppd\r\n\n"),
            (TreeHashes{{"bin/setup", hash}, {"ppd/a b.ppd", hash}}));
  for (const std::string& bad : {hash + " bin/setup\n", std::string(63, 'a') + "  x\n", std::string(64, 'A') + "  x\n"})
    EXPECT_FALSE(parseHashList(bad)) << bad;
}
