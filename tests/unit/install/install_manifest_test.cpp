#include "install/install_manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ManifestLine, SeparatorsModeRuleAndSkippedLines) {
  const InstallItem setup{"bin/setup", "./bin", 0755};
  const struct {
    const char* name;
    std::string line;
    std::optional<InstallItem> expected;
  } cases[] = {
      {"blanks", "bin/setup ./bin 00755\n", setup},
      {"tabs and CR LF", "bin/setup\t./bin\t00755\r\n", setup},
      {"high bytes separate",
       "bin/setup\xA0./bin\xFF"
       "00755\n",
       setup},
      {"trailing blanks", "bin/setup ./bin 00755   \n", setup},
      {"no line feed", "bin/setup ./bin 00755", setup},
      {"one leading zero is no mode", "nc ./bin 0755\n", InstallItem{"nc", "./bin", 0}},
      {"double zero is the default", "a.ppd ? 00\n", InstallItem{"a.ppd", "?", 0755}},
      {"triple zero is the default", "a.ppd ? 000\n", InstallItem{"a.ppd", "?", 0755}},
      {"100 holds a double zero", "a.ppd ? 100\n", InstallItem{"a.ppd", "?", 0755}},
      {"mode inside a later field", "a.ppd ? x x2006\n", InstallItem{"a.ppd", "?", 06}},
      {"octal stops at a non-digit", "a.ppd ? 00644x9\n", InstallItem{"a.ppd", "?", 0644}},
      {"zeros of the destination are no mode", "a.ppd /x00 \n", InstallItem{"a.ppd", "/x00", 0}},
      {"one field counts", "lonely\n", InstallItem{"lonely", "", 0}},
      {"comment", "# bin/setup ./bin 00755\n", std::nullopt},
      {"empty line", "\n", std::nullopt},
      {"carriage return only", "\r\n", std::nullopt},
      {"leading blank", " bin/setup ./bin 00755\n", std::nullopt},
      {"leading tab", "\tbin/setup ./bin\n", std::nullopt},
      {"leading high byte", "\xE9tc ./etc\n", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parseManifestLine(c.line), c.expected) << c.name;
}

TEST(Manifest, ItemsEndMarkersAndDroppedLines) {
  const std::string fits(kSourceNameMax, 's'), tooLong(kSourceNameMax + 1, 't');
  std::string many = "# header\n";
  std::vector<std::string> firstMany;
  for (int i = 0; i < 258; ++i) {
    many += "file" + std::to_string(i) + " ./etc 00644\n";
    if (i < 256) firstMany.push_back("file" + std::to_string(i));
  }
  const struct {
    std::string text;
    std::vector<std::string> sources;
    std::vector<std::string> dropped;  // the line numbers the drop notes name
  } cases[] = {
      {"a1 . \n@@NULL\nb1 .\n", {"a1"}, {}},
      {"a1 .\n# end here @@NULL\nb1 .\n", {"a1"}, {}},
      {"@@NULL\na1 .\n", {}, {}},
      {"a1 .\nx@@NULLy ./bin\nb1 .\n", {"a1"}, {}},
      {std::string("a1 .\n\0b1 .\nc1 .\n", 15), {"a1"}, {}},                // a NUL cuts its piece; an empty piece ends
      {std::string("a1 .\nb1\0x1 .\nc1 .\n", 18), {"a1", "b1", "c1"}, {}},  // the rest of its line too
      {"a1 .\n\n# note\n  indented\nb1 .\n", {"a1", "b1"}, {}},
      // Each 255-byte piece of a long line is a line of its own: the second
      // starts with a blank, the third is a source too long to be taken.
      {"first ./bin" + std::string(244, ' ') + "  ignored\n" + std::string(255, 'b') + "c ./etc\n",
       {"first", "c"},
       {"line 2 "}},
      {fits + " ?\n" + tooLong + " ? 00644\nlast ./etc\n", {fits, "last"}, {"line 2 "}},
      {many, firstMany, {"line 258 ", "line 259 "}},  // 256 items at most
  };
  for (const auto& c : cases) {
    ManifestParse parse = parseManifest(c.text);
    std::vector<std::string> sources;
    for (const InstallItem& item : parse.items) sources.push_back(item.source);
    EXPECT_EQ(sources, c.sources) << c.text.substr(0, 80);
    ASSERT_EQ(parse.droppedLines.size(), c.dropped.size()) << c.text.substr(0, 80);
    for (size_t i = 0; i < c.dropped.size(); ++i)
      EXPECT_NE(parse.droppedLines[i].find(c.dropped[i]), std::string::npos) << parse.droppedLines[i];
  }
}

}  // namespace
