#include "ppd/ppd_directories.h"

#include <gtest/gtest.h>

#include <set>

namespace {

PpdDirectoryFacts survey(std::set<std::string> dirs) {
  return surveyPpdDirectories([dirs = std::move(dirs)](const std::string& path) { return dirs.count(path) > 0; });
}

const std::string kFoo = "/usr/share/foomatic/db/source/PPD";

TEST(PpdDirectories, LayoutsGiveFlagsExistingDirectoryAndProposal) {
  struct Case {
    const char* name;
    std::set<std::string> dirs;
    int flags;
    std::string existing;
    std::string proposal;
  };
  const Case cases[] = {
      {"nothing", {}, 0, "", ""},
      {"foomatic orv wins over openprinting orv",
       {kFoo, kFoo + "/orv", "/usr/share/ppd/openprinting", "/usr/share/ppd/openprinting/orv"},
       PPDLOC_FOOMATIC | PPDLOC_FOOMATIC_ORV | PPDLOC_OPENPRINTING | PPDLOC_SYSTEM_DIR,
       kFoo + "/orv", "/usr/share/ppd/orv"},
      {"Tamra without orv",
       {kFoo, kFoo + "/Tamra", "/usr/share/ppd/openprinting", "/usr/share/ppd/openprinting/orv"},
       PPDLOC_FOOMATIC | PPDLOC_FOOMATIC_TAMRA | PPDLOC_OPENPRINTING | PPDLOC_SYSTEM_DIR,
       "/usr/share/ppd/openprinting/orv", "/usr/share/ppd/orv"},
      {"cups-included orv without a distro tree",
       {"/usr/share/ppd", "/usr/share/ppd/cups-included", "/usr/share/ppd/cups-included/orv"},
       PPDLOC_MODEL_DIR | PPDLOC_USR_SHARE | PPDLOC_SYSTEM_DIR, "", ""},
      {"vendor folders under openprinting need the distro tree",
       {"/usr/share/ppd/openprinting", "/usr/share/ppd/openprinting/HP", "/usr/share/ppd/openprinting/Epson"},
       PPDLOC_OPENPRINTING, "", "/usr/share/ppd/orv"},
      {"distro tree with vendor folders",
       {"/usr/share/ppd/HP", "/usr/share/ppd/Epson", "/usr/share/ppd/openprinting", "/usr/share/ppd/openprinting/HP",
        "/usr/share/ppd/openprinting/Epson"},
       PPDLOC_OPENPRINTING | PPDLOC_DISTRO_TREE, "", "/usr/share/ppd/openprinting/orv"},
      {"foomatic with Tamra", {kFoo, kFoo + "/Tamra"},
       PPDLOC_FOOMATIC | PPDLOC_FOOMATIC_TAMRA | PPDLOC_SYSTEM_DIR, "", kFoo + "/Tamra/orv"},
      {"bare foomatic", {kFoo}, PPDLOC_FOOMATIC | PPDLOC_SYSTEM_DIR, "", kFoo + "/orv"},
      {"custom model directory",
       {"/etc/cups/model", "/etc/cups/model/custom", "/etc/cups/model/custom/orv", "/opt/share/ppd"},
       PPDLOC_MODEL_DIR | PPDLOC_CUSTOM | PPDLOC_OPT_SHARE | PPDLOC_SYSTEM_DIR, "/etc/cups/model/custom/orv",
       "/etc/cups/model/custom/orv"},
  };
  for (const Case& c : cases) {
    PpdDirectoryFacts facts = survey(c.dirs);
    EXPECT_EQ(facts.flags, c.flags) << c.name;
    EXPECT_EQ(facts.existingPpdDir, c.existing) << c.name;
    EXPECT_EQ(facts.proposal, c.proposal) << c.name;
  }
}

}  // namespace
