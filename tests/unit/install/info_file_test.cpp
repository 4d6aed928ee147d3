#include "install/info_file.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "../test_support.h"
#include "services/run_settings.h"

namespace {

TEST(InfoFile, FreshFileIsTheTwentySixLines) {
  EXPECT_EQ(infoFileText("/opt/orv"),
            "#\n# Mivo 4.0 Information File\n#\n%%ZEBBLOCK_GENERAL_BEGIN\n"
            "USRDIR          /opt/orv\nHOMEDIR         $HOME\nTMPDIR          /tmp\n"
            "%%ZEBBLOCK_GENERAL_END\n#\n#\n%%ZEBBLOCK_PRINTERS_BEGIN\nDefault\n"
            "%%ZEBBLOCK_PRINTERS_END\n#\n#\n%%ZEBBLOCK_USERS_BEGIN\nroot\n%%ZEBBLOCK_USERS_END\n"
            "#\n#\n%%ZEBBLOCK_PRNT_BEGIN Default\nroot\n%%ZEBBLOCK_PRNT_END Default\n#\n#\n%%ZEBEND\n");
}

TEST(InfoFile, UsrDirValue) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {infoFileText("/srv/mivo"), "/srv/mivo"},
      {"USRDIR /a/b more text\n", "/a/b"},
      {"USRDIR\t\t/a\tb\n", "/a\tb"},
      {"# x\n  USRDIR=/x\n", "/x"},
      {"USRDIR\n", ""},
      {"USRDIR", ""},
      {"HOMEDIR /x\n", std::nullopt},
      {"USRDIR /first\nUSRDIR /second\n", "/first"},
      {"USRDIR          /opt/orv\r\n", "/opt/orv"},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(usrDirValue(text), value) << text;
}

TEST(InfoFile, MigrationReplacesOnlyTheFirstHeaderLine) {
  EXPECT_EQ(
      migratedInfoText("#\n# Mivo 2.0 Information File (old)\nUSRDIR  /opt/orv\n# another Information File note\n"),
      "#\n# Mivo 3.0 Information File\nUSRDIR  /opt/orv\n# another Information File note\n");
}

TEST(InfoFile, PrintersBlockReadsLikeTheQueueReaderDoes) {
  const std::pair<std::string, std::optional<std::vector<std::string>>> cases[] = {
      {infoFileText("/opt/orv", {"Default", "Office", "Lab"}), std::vector<std::string>{"Default", "Office", "Lab"}},
      {"%%ZEBBLOCK_PRINTERS_BEGIN\r\nDefault\r\nOffice \r\n%%ZEBBLOCK_PRINTERS_END\r\n",
       std::vector<std::string>{"Default", "Office"}},
      {"%%ZEBBLOCK_PRINTERS_BEGIN\nA\n", std::vector<std::string>{"A"}},  // to the end of the file
      {"USRDIR /x\n", std::nullopt},
  };
  for (const auto& [text, printers] : cases) EXPECT_EQ(printersBlock(text), printers) << text;
}

// A fresh file in a directory that already has one keeps the queues it lists.
TEST(InfoFile, AFreshFileNeverDropsThePrintersOfAnExistingOne) {
  TempDir tmp;
  resetRunSettings();
  runSettings().installDir = tmp.root();
  runSettings().uid = static_cast<int>(::getuid());
  runSettings().gid = static_cast<int>(::getgid());
  writeWhole(tmp.root() + "/mivoInfo4.0",
             "USRDIR /gone\r\n%%ZEBBLOCK_PRINTERS_BEGIN\r\nDefault\r\nOffice\r\n%%ZEBBLOCK_PRINTERS_END\r\n");
  ASSERT_EQ(writeInfoFile(), 1);
  EXPECT_EQ(readWhole(tmp.root() + "/mivoInfo4.0"), infoFileText(tmp.root(), {"Default", "Office"}));
  resetRunSettings();
}

// Once the older file has been migrated, the installation it names is of the current version.
TEST(InfoFile, AMigratedInstallationIsNoLongerTakenForTheOlderVersion) {
  TempDir tmp;
  writeWhole(tmp.root() + "/mivoInfo2.0", "# Mivo 2.0 Information File\nUSRDIR " + tmp.root() + "\n");
  ::setenv("MIVOINFO", (tmp.root() + "/mivoInfo2.0").c_str(), 1);
  std::string dir;
  int kind = 0;
  EXPECT_EQ(findExistingInstall(dir, kind), 1);
  EXPECT_EQ(kind, 1);
  writeWhole(tmp.root() + "/mivoInfo4.0", infoFileText(tmp.root()));
  EXPECT_EQ(findExistingInstall(dir, kind), 1);
  EXPECT_EQ(std::make_pair(dir, kind), std::make_pair(tmp.root(), 2));
  ::unsetenv("MIVOINFO");
}

}  // namespace
