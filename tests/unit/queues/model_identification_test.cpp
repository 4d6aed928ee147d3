#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "queues/model_table.h"
#include "queues/queue_inventory.h"

namespace {

TEST(IdentifyModel, ModelValueKindAndId) {
  const std::tuple<const char*, int, int> cases[] = {
      // the line, the kind (-1: left as it was), the id (0: none)
      {"*ModelName: \"Tamra Cendra 2100 PS\"", PDL_POSTSCRIPT, 12},   // no line end: window ends before the quote
      {"*ModelName:   \"Tamra Cendra 2100 Duo PCL\"\n", PDL_PCL, 9},  // the longer name stands first
      {"*ModelName: \"Tamra Brisk 1500 PXL\"\r\n", PDL_PXL, 40},
      {"*ModelName: \"Orvi P2100 PS\"\n", PDL_POSTSCRIPT, 12},  // a rebadge shares its twin's id
      {"*ModelName: \"Old Tamra Cendra 2100 PS\"\n", PDL_POSTSCRIPT, 12},
      {"*ModelName: \"Tamra Cendra 2100 PS printer\"\n", PDL_NONE, 12},  // " PS" outside the window
      {"*ModelName: \"Tamra Cendra 2100 PS", PDL_NONE, 12},              // the window stops before the last character
      {"*ModelName: \"Acme Writer 9 PCL\"\n", PDL_PCL, 0},               // unknown model: kind set all the same
      {"*NickName: \"Tamra Cendra 2100 PS\"\n", -1, 0},
  };
  for (const auto& [line, expectedKind, expectedId] : cases) {
    int kind = -1, id = 0;
    auto value = identifyModel(line, kind, id);
    EXPECT_EQ(kind, expectedKind) << line;
    EXPECT_EQ(id, expectedId) << line;
    ASSERT_EQ(value.has_value(), expectedId != 0) << line;
    if (value) {
      EXPECT_EQ(*value, std::string(line).substr(std::string(line).find('"')));
    }
  }
}

TEST(ReadMivoVersion, OnlyTheFirstDigitCounts) {
  const std::pair<const char*, int> cases[] = {
      {"*% Mivo version: 1\n", 1}, {"*% Mivo version:1", 1},    {"*% Mivo version:   2", 2},
      {"*% Mivo version: 12", 1},  {"*% Mivo version: 1.0", 1}, {"*% Mivo version: x1", -1},
      {"*% Mivo version:", -1},    {"*% Mivo version:\t1", -1}, {"*% mivo version: 1", -1},
  };
  for (auto [line, expected] : cases) EXPECT_EQ(readMivoVersion(line), expected) << line;
}

TEST(ModelTable, ShapeOfTheRangeAndEveryRowReachable) {
  ASSERT_EQ(kModelTableSize, 394);
  std::map<int, int> rowsPerId;
  for (int row = 0; row < kModelTableSize; ++row) {
    std::string name = kModelTable[row].modelName;
    EXPECT_TRUE(name.size() >= 10 && name.size() <= 28) << name;
    EXPECT_TRUE(kModelTable[row].modelId >= 1 && kModelTable[row].modelId <= 393) << name;
    ++rowsPerId[kModelTable[row].modelId];
    for (int earlier = 0; earlier < row; ++earlier)
      EXPECT_EQ(name.find(kModelTable[earlier].modelName), std::string::npos) << name << " hidden";
    int kind = 0, id = 0;
    EXPECT_TRUE(identifyModel("*ModelName: \"" + name + " PS\"\n", kind, id)) << name;
    EXPECT_EQ(findModelEntry("\"" + name + " PS\""), &kModelTable[row]) << name;
  }
  EXPECT_EQ(rowsPerId.size(), 392u);  // one id unused, two shared by two rows each
  EXPECT_EQ(std::count_if(rowsPerId.begin(), rowsPerId.end(), [](auto& r) { return r.second == 2; }), 2);
}

}  // namespace
