#include "ppd/model_dir_links.h"
#include "ppd/ppd_directories.h"

#include <gtest/gtest.h>

#include "../test_support.h"

// The log tells of a directory made exactly when it was made.
TEST(PpdInstallDir, ADirectoryIsToldAsMadeOnceAndOnlyWhenItWas) {
  ScratchHost host;
  writeWhole(host / "usr/share/ppd/file", "x");
  for (int run = 0; run < 2; ++run) {
    settlePpdInstallDir({host / "usr/share/ppd/orv", InstallDirAction::Settle});
    settlePpdInstallDir({host / "usr/share/ppd/file/orv", InstallDirAction::Settle});  // cannot be made
  }
  const std::string log = host.log(), made = "Directorio creado: '" + host / "usr/share/ppd/orv'.";
  EXPECT_NE(log.find(made), std::string::npos);
  EXPECT_EQ(log.find(made), log.rfind(made));
  EXPECT_EQ(log.find("file/orv'."), std::string::npos);
}

// New CUPS (1.3 and later) finds PPDs in the PPD trees; older CUPS through a link in its model directory.
TEST(PpdInstallDir, WhereEachLayoutPutsTheProductsPpds) {
  const std::string foomatic = "/usr/share/foomatic/db/source/PPD/orv";
  const std::tuple<int, int, std::string, InstallDirPlan> cases[] = {
      {1300, PPDLOC_USR_SHARE, "", {"/usr/share/ppd/orv", InstallDirAction::Settle}},
      {1300, PPDLOC_USR_SHARE, foomatic, {foomatic, InstallDirAction::Settle}},  // what the survey proposed
      {1299, PPDLOC_USR_SHARE, "", {"/usr/share/ppd/orv", InstallDirAction::LinkAfterCreating}},
      {2400, 0, "", {"/usr/share/cups/model/orv", InstallDirAction::Settle}},
  };
  for (const auto& [version, flags, proposal, plan] : cases) {
    InstallDirPlan got = planPpdInstallDir({"", proposal, "/usr/share/cups/model", flags, version, {}});
    EXPECT_EQ(std::tie(got.dir, got.action), std::tie(plan.dir, plan.action)) << version << proposal;
  }
  auto custom = [](const std::string& dir) { return dir == "/usr/share/cups/model" || dir.ends_with("/custom"); };
  EXPECT_EQ(surveyPpdDirectories(custom).proposal, "/usr/share/cups/model/custom/orv");  // never the shared directory itself
  auto earlier = [](const std::string& dir) { return dir == "/usr/share/ppd" || dir == "/usr/share/ppd/orv"; };
  EXPECT_EQ(surveyPpdDirectories(earlier).existingPpdDir, "/usr/share/ppd/orv");  // an earlier installation's
}
