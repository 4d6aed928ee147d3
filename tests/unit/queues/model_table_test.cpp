#include "queues/model_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "queues/queue_inventory.h"

namespace {

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
