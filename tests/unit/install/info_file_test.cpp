#include "install/info_file.h"

#include <gtest/gtest.h>

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
      {infoFileText("/srv/mivo"), "/srv/mivo"}, {"USRDIR /a/b more text\n", "/a/b"}, {"USRDIR\t\t/a\tb\n", "/a\tb"},
      {"# x\n  USRDIR=/x\n", "/x"}, {"USRDIR\n", ""}, {"USRDIR", ""}, {"HOMEDIR /x\n", std::nullopt},
      {"USRDIR /first\nUSRDIR /second\n", "/first"},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(usrDirValue(text), value) << text;
}

TEST(InfoFile, MigrationReplacesOnlyTheFirstHeaderLine) {
  EXPECT_EQ(migratedInfoText("#\n# Mivo 2.0 Information File (old)\nUSRDIR  /opt/orv\n# another Information File note\n"),
            "#\n# Mivo 3.0 Information File\nUSRDIR  /opt/orv\n# another Information File note\n");
}

}  // namespace
