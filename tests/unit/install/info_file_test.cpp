#include "install/info_file.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "../test_support.h"

TEST(InfoFile, TheOneReaderOfItsLines) {
  EXPECT_EQ(infoFileText("/opt/orv"),
            "#\n# Mivo 4.0 Information File\n#\n%%ZEBBLOCK_GENERAL_BEGIN\n"
            "USRDIR          /opt/orv\nHOMEDIR         $HOME\nTMPDIR          /tmp\n"
            "%%ZEBBLOCK_GENERAL_END\n#\n#\n%%ZEBBLOCK_PRINTERS_BEGIN\nDefault\n"
            "%%ZEBBLOCK_PRINTERS_END\n#\n#\n%%ZEBBLOCK_USERS_BEGIN\nroot\n%%ZEBBLOCK_USERS_END\n"
            "#\n#\n%%ZEBBLOCK_PRNT_BEGIN Default\nroot\n%%ZEBBLOCK_PRNT_END Default\n#\n#\n%%ZEBEND\n");
  const std::pair<std::string, std::optional<std::string>> usrDirs[] = {
      {"USRDIR /a/b more text\n", "/a/b"}, {"USRDIR\t\t/a\tb\n", "/a\tb"}, {"  USRDIR=/x\n", "/x"},
      {"USRDIR\n", ""}, {"HOMEDIR /x\n", std::nullopt}, {"USRDIR          /opt/orv\r\n", "/opt/orv"},
  };
  for (const auto& [text, value] : usrDirs) EXPECT_EQ(usrDirValue(text), value) << text;
  EXPECT_EQ(migratedInfoText("#\n# Mivo 2.0 Information File (old)\nUSRDIR  /x\n# Information File note\n"),
            "#\n# Mivo 3.0 Information File\nUSRDIR  /x\n# Information File note\n");
  const std::string longName(300, 'L');
  const std::pair<std::string, std::optional<std::vector<std::string>>> blocks[] = {
      {infoFileText("/x", {"Default", "Office"}), std::vector<std::string>{"Default", "Office"}},
      {"%%ZEBBLOCK_PRINTERS_BEGIN\r\nDefault\r\nOffice \r\n%%ZEBBLOCK_PRINTERS_END\r\n",
       std::vector<std::string>{"Default", "Office"}},
      {"%%ZEBBLOCK_PRINTERS_BEGIN\nA\n", std::vector<std::string>{"A"}},
      {"USRDIR /x\n", std::nullopt},
  };
  for (const auto& [text, printers] : blocks) EXPECT_EQ(printersBlock(text), printers) << text;
  // A long name is one name, whatever its length: a rewrite gives the same block.
  std::string text = infoFileText("/x", {"Default", longName, std::string(255, 'x')});
  EXPECT_EQ(infoFileText("/x", *printersBlock(text)), text);
}

// Only a file that root alone could have written tells of an installation,
// and a fresh file keeps the queues such a file lists.
TEST(InfoFile, OnlyRootsFileNamesAnInstallationOrItsQueues) {
  REQUIRE_ROOT();
  ScratchHost host;
  RunSettings& s = runSettings();
  writeWhole(host / "opt/orv/mivoInfo4.0", infoFileText(host / "opt/orv", {"Default", "Office"}), 0644);
  std::string dir;
  int kind = 0;
  EXPECT_EQ(findExistingInstall(dir, kind), 1);
  EXPECT_EQ(std::tie(dir, kind), std::make_tuple(host / "opt/orv", 2));
  ASSERT_EQ(writeInfoFile(), 1);
  EXPECT_EQ(readWhole(host / "opt/orv/mivoInfo4.0"), infoFileText(s.installDir, {"Default", "Office"}));
  writeWhole(host / "home/alice/mivoInfo4.0", infoFileText("/srv/other", {"Default", "Boss"}));
  ::chown((host / "home/alice/mivoInfo4.0").c_str(), 65534, 65534);
  ::setenv("MIVOINFO", (host / "home/alice/mivoInfo4.0").c_str(), 1);
  EXPECT_EQ(findExistingInstall(dir, kind), 0);
  ::unsetenv("MIVOINFO");
  EXPECT_NE(host.log().find("no es solo de root"), std::string::npos);
  ::chmod((host / "opt/orv/mivoInfo4.0").c_str(), 0666);
  EXPECT_EQ(findExistingInstall(dir, kind), 0);
}
