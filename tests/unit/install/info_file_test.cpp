#include "install/info_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(InfoFile, FreshFileIsTheTwentySixLines) {
  std::string text = infoFileText("/opt/orv");
  ASSERT_EQ(text.back(), '\n');
  std::vector<std::string> l = lines(text);
  ASSERT_EQ(l.size(), 26u);
  EXPECT_EQ(l[1], "# Mivo 4.0 Information File");
  EXPECT_EQ(l[3], "%%ZEBBLOCK_GENERAL_BEGIN");
  EXPECT_EQ(l[4], "USRDIR" + std::string(10, ' ') + "/opt/orv");
  EXPECT_EQ(l[5], "HOMEDIR" + std::string(9, ' ') + "$HOME");
  EXPECT_EQ(l[6], "TMPDIR" + std::string(10, ' ') + "/tmp");
  EXPECT_EQ(l[10], "%%ZEBBLOCK_PRINTERS_BEGIN");
  EXPECT_EQ(l[11], "Default");
  EXPECT_EQ(l[20], "%%ZEBBLOCK_PRNT_BEGIN Default");
  EXPECT_EQ(l[25], "%%ZEBEND");
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(InfoFile, UsrDirValue) {
  struct Case {
    std::string text;
    std::optional<std::string> value;
  };
  for (const Case& c : {
           Case{infoFileText("/srv/mivo"), "/srv/mivo"},
           Case{"USRDIR /a/b more text\n", "/a/b"},
           Case{"USRDIR\t\t/a\tb\n", "/a\tb"},
           Case{"# x\n  USRDIR=/x\n", "/x"},
           Case{"USRDIR\n", ""},
           Case{"USRDIR", ""},
           Case{"HOMEDIR /x\n", std::nullopt},
           Case{"USRDIR /first\nUSRDIR /second\n", "/first"},
       }) {
    EXPECT_EQ(usrDirValue(c.text), c.value) << c.text;
  }
}

TEST(InfoFile, MigrationReplacesOnlyTheFirstHeader) {
  std::string older =
      "#\n# Mivo 2.0 Information File (old)\n%%ZEBBLOCK_GENERAL_BEGIN\nUSRDIR  /opt/orv\n"
      "# another Information File note\n";
  std::vector<std::string> l = lines(migratedInfoText(older));
  ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(l[0], "#");
  EXPECT_EQ(l[1], "# Mivo 3.0 Information File");
  EXPECT_EQ(l[3], "USRDIR  /opt/orv");
  EXPECT_EQ(l[4], "# another Information File note");
}

}  // namespace
