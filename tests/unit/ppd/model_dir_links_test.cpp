#include "ppd/model_dir_links.h"

#include <gtest/gtest.h>

#include "ppd/ppd_directories.h"

namespace {

TEST(ModelDirLinks, WhichEntriesAreRecorded) {
  struct Case {
    int flags;
    const char* entry;
    const char* target;
    LinkDecision decision;
  };
  const Case cases[] = {
      {PPDLOC_CUSTOM | PPDLOC_FOOMATIC, "/m/foo", "/usr/share/foomatic/db", LinkDecision::Skip},
      {PPDLOC_FOOMATIC | PPDLOC_USR_SHARE, "/m/a", "/usr/share/foomatic/db", LinkDecision::RecordAndStop},
      {PPDLOC_FOOMATIC | PPDLOC_USR_SHARE, "/m/a", "/usr/share/ppd", LinkDecision::Skip},
      {PPDLOC_USR_SHARE, "/m/a", "../../ppd", LinkDecision::Skip},
      {PPDLOC_OPT_SHARE, "/m/a", "/opt/share/ppd/x", LinkDecision::RecordAndStop},
      {PPDLOC_MODEL_DIR, "/m/custom", "/usr/share/ppd", LinkDecision::Skip},
  };
  for (const Case& c : cases)
    EXPECT_EQ(decideModelLink(c.flags, c.entry, c.target), c.decision) << c.entry << " -> " << c.target;
}

TEST(ModelDirLinks, InstallDirectoryChoice) {
  const std::string model = "/usr/share/cups/model";
  struct Case {
    const char* name;
    InstallDirInputs in;
    std::string dir;
    InstallDirAction action;
  };
  const Case cases[] = {
      {"new, proposal outside /usr/share", {"", "/etc/cups/model/custom/orv", model, PPDLOC_USR_SHARE, 2400, {}},
       "/usr/share/ppd/orv", InstallDirAction::Settle},
      {"new from 1300, neither tree", {"", "", model, 0, 1300, {}}, model + "/orv", InstallDirAction::Settle},
      {"old, recorded custom directory",
       {"", "", model, PPDLOC_CUSTOM | PPDLOC_FOOMATIC, 1200, {{model + "/foomatic", "/f"}, {model + "/custom", ""}}},
       model + "/custom/orv", InstallDirAction::Settle},
      {"old, link target already ending in orv",
       {"", "", model, PPDLOC_FOOMATIC, 1200, {{model + "/foomatic", "/usr/share/foomatic/PPD/orv"}}},
       "/usr/share/foomatic/PPD/orv", InstallDirAction::Settle},
      {"old, relative target uses the entry",
       {"", "", model, PPDLOC_FOOMATIC, 1200, {{model + "/foomatic", "../foomatic"}}},
       model + "/foomatic/orv", InstallDirAction::Settle},
      {"old, no row matches", {"", "", model, PPDLOC_USR_SHARE, 1299, {{model + "/ppd", "/usr/share/ppd"}}},
       model + "/orv", InstallDirAction::Settle},
  };
  for (const Case& c : cases) {
    InstallDirPlan plan = planPpdInstallDir(c.in);
    EXPECT_EQ(plan.dir, c.dir) << c.name;
    EXPECT_EQ(plan.action, c.action) << c.name;
  }
}

}  // namespace
