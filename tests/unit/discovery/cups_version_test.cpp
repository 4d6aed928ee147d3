#include "discovery/cups_version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

namespace {

TEST(CupsVersion, NormalisationGivesFourDigitsAndLeavesZeroAlone) {
  const std::pair<int, int> cases[] = {{14, 1400}, {242, 2420}, {1300, 1300}, {24200, 2420}, {999999999, 9999}, {0, 0}};
  for (auto [raw, normal] : cases) EXPECT_EQ(normalizeCupsVersion(raw), normal) << raw;
}

TEST(CupsVersion, ServerHeaderLines) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"Server: CUPS/1.3.1\n", 130},  // single precision keeps 1.3 from becoming 129
      {"Server: CUPS/12.5\n", 125},
      {"Server: CUPS 1.1\n", 0},  // only a slash is skipped after the name
      {"Server: Apache/2.4 (Debian)\n", std::nullopt},
      {"X-Note: CUPS/2.4\n", std::nullopt},
      {"Server: CUPS/\n", 0},
      {"Server: CUPS/99999999999999999999999999999999999999999\n", 999999999},
  };
  for (const auto& [line, version] : cases) EXPECT_EQ(serverHeaderVersion(line), version) << line;
}

TEST(CupsVersion, LocalSourceLines) {
  using Rule = std::optional<std::string_view> (*)(std::string_view);
  const std::tuple<Rule, const char*, long> cases[] = {
      // the value -1: the line does not tell the version
      {printersConfDigits, "# Printer configuration file for CUPS\n", -1},
      {printersConfDigits, "# Written v2 by Printer configuration\n", -1},  // " v" must follow the phrase
      {indexTitleDigits, "<title>Home - CUPS 1.2.3</title>\n", -1},
      {testPageTextDigits, "This page was PRODUCED BY cups \tV 2.0.1-x\n", 201},
      {testPageTextDigits, "produced by CUPS v\n", 0},
      {testPageTextDigits, "produced by something else\n", -1},
  };
  for (const auto& [rule, line, value] : cases) {
    std::optional<std::string_view> digits = rule(line);
    EXPECT_EQ(digits ? digitTextValue(*digits) : -1, value) << line;
  }
}

TEST(CupsVersion, TemporaryNamesAreNewEmptyPrivateFiles) {
  std::string first = myTmpName("/tmp/", "ZEB");
  EXPECT_EQ(first.rfind("/tmp/ZEB", 0), 0u);
  struct stat info {};
  ASSERT_EQ(stat(first.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  unlink(first.c_str());
  EXPECT_EXIT(myTmpName("/nonexistent/dir", nullptr), testing::ExitedWithCode(255),
              "myTmpName\\(/nonexistent/dir,ZEB\\) Failed!");
}

TEST(CupsVersion, ScratchFilesOfOursByName) {
  for (const char* name : {"ZEBa1B2c3", "ZEBLPD42", "ZEBLPRNG7", "ZEBLPD42.Ab12Cd", "ZEBLPRNG123.xYz789"})
    EXPECT_TRUE(isScratchFileName(name)) << name;
  for (const char* name : {"ZEBa1B2c", "ZEBa1B2c3d", "ZEBLPD", "ZEBLPDx", "ZEBLPD42.Ab1", "ZEBLPD42.", "zebA1B2C3", "ZEB-1B2c3",
                           "ZEBLPRNG1.Ab12Cd.x", ""})
    EXPECT_FALSE(isScratchFileName(name)) << name;
}

}  // namespace
