#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "queues/model_table.h"
#include "queues/queue_inventory.h"

namespace {

struct IdentifyCase {
  const char* line;
  bool recognised;
  int kind;     // expected kind; -1 means left as it was
  int id;       // expected id when recognised
  const char* value;
};

TEST(IdentifyModel, ModelValueKindAndId) {
  const IdentifyCase cases[] = {
      {"*ModelName: \"Tamra Cendra 2100 PS\"\n", true, PDL_POSTSCRIPT, 12, "\"Tamra Cendra 2100 PS\"\n"},
      // Without its line end the window ends before the quote and still sees " PS".
      {"*ModelName: \"Tamra Cendra 2100 PS\"", true, PDL_POSTSCRIPT, 12, "\"Tamra Cendra 2100 PS\""},
      {"*ModelName:   \"Tamra Cendra 2100 Duo PCL\"\n", true, PDL_PCL, 9, "\"Tamra Cendra 2100 Duo PCL\"\n"},
      {"*ModelName: \"Tamra Brisk 1500 PXL\"\r\n", true, PDL_PXL, 40, "\"Tamra Brisk 1500 PXL\"\r\n"},
      // The longer name stands first, so the Duo is not taken for the plain model.
      {"*ModelName: \"Tamra Cendra 2100dn PCL\"\n", true, PDL_PCL, 10, "\"Tamra Cendra 2100dn PCL\"\n"},
      // A rebadged model shares its twin's id.
      {"*ModelName: \"Orvi P2100 PS\"\n", true, PDL_POSTSCRIPT, 12, "\"Orvi P2100 PS\"\n"},
      // A known model anywhere in the value counts.
      {"*ModelName: \"Old Tamra Cendra 2100 PS\"\n", true, PDL_POSTSCRIPT, 12, "\"Old Tamra Cendra 2100 PS\"\n"},
      // No PDL in the window: recognised, kind none.
      {"*ModelName: \"Tamra Cendra 2100 Laser\"\n", true, PDL_NONE, 12, "\"Tamra Cendra 2100 Laser\"\n"},
      // " PS" too far from the end is outside the window.
      {"*ModelName: \"Tamra Cendra 2100 PS printer\"\n", true, PDL_NONE, 12,
       "\"Tamra Cendra 2100 PS printer\"\n"},
      // Unknown model: kind set all the same, id untouched.
      {"*ModelName: \"Acme Writer 9 PCL\"\n", false, PDL_PCL, 0, nullptr},
      {"*NickName: \"Tamra Cendra 2100 PS\"\n", false, -1, 0, nullptr},
      {"*modelname: \"Tamra Cendra 2100 PS\"\n", false, -1, 0, nullptr},
  };
  for (const IdentifyCase& c : cases) {
    SCOPED_TRACE(c.line);
    int kind = -1;
    int id = -7;
    auto value = identifyModel(c.line, kind, id);
    EXPECT_EQ(kind, c.kind);
    ASSERT_EQ(value.has_value(), c.recognised);
    if (c.recognised) {
      EXPECT_EQ(*value, c.value);
      EXPECT_EQ(id, c.id);
    } else {
      EXPECT_EQ(id, -7);
    }
  }
}

TEST(ReadMivoVersion, OnlyTheFirstDigitCounts) {
  const std::pair<const char*, int> cases[] = {
      {"*% Mivo version: 1\n", 1},   {"*% Mivo version:1", 1},       {"*% Mivo version:    2\n", 2},
      {"*% Mivo version: 1.0\n", 1}, {"*% Mivo version: 12\n", 1},   {"*% Mivo version: 0", 0},
      {"*% Mivo version: x1\n", -1}, {"*% Mivo version:", -1},       {"*% Mivo version:\t1\n", -1},
      {"*% mivo version: 1\n", -1},  {"*%Mivo version: 1\n", -1},    {"", -1},
  };
  for (auto [line, expected] : cases) EXPECT_EQ(readMivoVersion(line), expected) << line;
}

TEST(Trims, TrailingBlanksLineFeedsAndCarriageReturns) {
  struct TrimCase {
    std::string in;
    size_t n;
    std::string trailing;  // trimTrailing(in, n)
    std::string lineEnd;   // trimLineEnd(in)
  };
  const TrimCase cases[] = {
      {"Office  \n", 256, "Office", "Office"},
      {"Office\r\n", 256, "Office\r", "Office"},
      {"Office \r \n", 256, "Office \r", "Office"},
      {"   \n ", 256, "", ""},
      {"", 256, "", ""},
      {"x", 256, "x", "x"},
      {" lead", 256, " lead", " lead"},
      {"tab\t\n", 256, "tab\t", "tab\t"},
      // Only the first n characters are looked at.
      {"abc  def", 4, "abc", "abc  def"},
      {"abcdef\n", 3, "abc", "abcdef"},
  };
  for (const TrimCase& c : cases) {
    SCOPED_TRACE(c.in);
    std::string trailing = c.in;
    trimTrailing(trailing, c.n);
    EXPECT_EQ(trailing, c.trailing);
    std::string lineEnd = c.in;
    trimLineEnd(lineEnd);
    EXPECT_EQ(lineEnd, c.lineEnd);
  }
}

TEST(ModelTable, ShapeOfTheRange) {
  ASSERT_EQ(kModelTableSize, 394);
  std::map<int, int> rowsPerId;
  for (int row = 0; row < kModelTableSize; ++row) {
    std::string name = kModelTable[row].modelName;
    EXPECT_GE(name.size(), 10u) << name;
    EXPECT_LE(name.size(), 28u) << name;
    EXPECT_GE(kModelTable[row].modelId, 1) << name;
    EXPECT_LE(kModelTable[row].modelId, 393) << name;
    ++rowsPerId[kModelTable[row].modelId];
  }
  EXPECT_EQ(rowsPerId.size(), 392u);
  int shared = 0;
  for (auto [id, rows] : rowsPerId) shared += rows == 2;
  EXPECT_EQ(shared, 2);
  int tamra = 0;
  for (int row = 0; row < kModelTableSize; ++row) tamra += std::string(kModelTable[row].modelName).starts_with("Tamra ");
  EXPECT_GT(tamra, kModelTableSize / 2);
}

TEST(ModelTable, EveryRowCanBeReached) {
  for (int later = 0; later < kModelTableSize; ++later) {
    std::string name = kModelTable[later].modelName;
    for (int earlier = 0; earlier < later; ++earlier)
      EXPECT_EQ(name.find(kModelTable[earlier].modelName), std::string::npos)
          << "row " << later << " '" << name << "' is hidden by row " << earlier;
    // And the lookup itself lands on this row for a PPD of the model.
    int kind = 0;
    int id = 0;
    std::string line = "*ModelName: \"" + name + " PS\"\n";
    ASSERT_TRUE(identifyModel(line, kind, id).has_value()) << name;
    EXPECT_EQ(findModelEntry(line), &kModelTable[later]) << name;
  }
}

}  // namespace
