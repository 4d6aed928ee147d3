#include "services/effects.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "../test_support.h"

// The planner changes nothing, notes every change in order, and answers
// as the host would stand after them.
TEST(Effects, APlanChangesNothingAndAnswersAsTheChangesWouldLeaveTheHost) {
  ScratchHost host(true);
  writeWhole(host / "src/a.ppd", "PPD");
  writeWhole(host / "old/gone", "x");
  Effects& plan = effects();
  ASSERT_TRUE(plan.onlyPlans());
  EXPECT_TRUE(plan.makeDirectory(host / "ppd", 0755, nullptr));
  EXPECT_TRUE(plan.writeFile({host / "ppd/a.ppd", "PPD", FileAccess{}, LinkAtTarget::Refuse, host / "src/a.ppd"}, nullptr));
  EXPECT_EQ(plan.removeTree(host / "old", nullptr), 0);
  std::unique_ptr<StagedFile> staged = plan.stage({host / "ppd/b.ppd", "B"}, nullptr);
  EXPECT_EQ(staged->readBack(), "B");
  EXPECT_TRUE(plan.place(*staged, nullptr));
  EXPECT_EQ(plan.runCommand("lpadmin -x Office"), 0);
  EXPECT_FALSE(std::filesystem::exists(host / "ppd"));
  EXPECT_TRUE(std::filesystem::exists(host / "old/gone"));
  EXPECT_TRUE(plan.isDirectory(host / "ppd"));
  EXPECT_FALSE(plan.isDirectory(host / "old"));
  EXPECT_FALSE(plan.exists(host / "old/gone"));
  EXPECT_EQ(plan.entriesOf(host / "ppd"), (std::vector<std::string>{"a.ppd", "b.ppd"}));
  EXPECT_EQ(plan.contentPathOf(host / "ppd/a.ppd"), host / "src/a.ppd");
  EXPECT_EQ(host.changes(), (std::vector<std::string>{"mkdir /ppd", "write /ppd/a.ppd", "rmtree /old",
                                                      "write /ppd/b.ppd", "run lpadmin -x Office"}));
  EXPECT_TRUE(hostChanged());
}
