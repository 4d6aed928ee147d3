#include "discovery/cups_version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../test_support.h"
#include "sys/temp_files.h"

TEST(CupsVersion, HeaderAndLocalLinesGiveTheVersionsDigits) {
  const std::pair<int, int> normal[] = {{14, 1400}, {242, 2420}, {1300, 1300}, {24200, 2420}, {0, 0}};
  for (auto [raw, four] : normal) EXPECT_EQ(normalizeCupsVersion(raw), four) << raw;
  const std::pair<const char*, std::optional<int>> headers[] = {
      {"Server: CUPS/1.3.1\n", 130},   {"Server: CUPS/2.1\n", 210},  // rounded, not cut to 209
      {"Server: CUPS/12.5\n", 125},    {"Server: CUPS 1.1\n", 0},
      {"Server: Apache/2.4\n", std::nullopt}, {"X-Note: CUPS/2.4\n", std::nullopt},
      {"Server: CUPS/99999999999999999999999999999999999999999\n", 999999999},
  };
  for (const auto& [line, version] : headers) EXPECT_EQ(serverHeaderVersion(line), version) << line;
  using Rule = std::optional<std::string_view> (*)(std::string_view);
  const std::tuple<Rule, const char*, long> local[] = {
      {printersConfDigits, "# Written v2 by Printer configuration\n", -1},  // " v" must follow the phrase
      {indexTitleDigits, "<TITLE>Home - CUPS  1.2.3</TITLE>\n", 123},
      {testPageTextDigits, "This page was PRODUCED BY cups \tV 2.0.1-x\n", 201},
      {testPageTextDigits, "produced by something else\n", -1},
  };
  for (const auto& [rule, line, value] : local) {
    std::optional<std::string_view> digits = rule(line);
    EXPECT_EQ(digits ? digitTextValue(*digits) : -1, value) << line;
  }
}

TEST(CupsVersion, ScratchFilesAreNewAndPrivateAndAFailureEndsNothing) {
  ScratchHost host;
  std::optional<std::string> name = myTmpName(host / "tmp/", "ZEB");
  ASSERT_TRUE(name);
  EXPECT_TRUE(name->starts_with(host / "tmp/ZEB"));
  struct stat info {};
  ASSERT_EQ(::stat(name->c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_TRUE(isScratchFileName(lastComponent(*name)));
  EXPECT_FALSE(myTmpName(host / "missing", nullptr));
  EXPECT_EQ(runReport().errors(), std::vector<std::string>{"myTmpName(" + host / "missing" + ",ZEB) Failed!"});
  for (const char* name : {"ZEBLPD42", "ZEBLPRNG7", "ZEBLPD42.Ab12Cd"}) EXPECT_TRUE(isScratchFileName(name)) << name;
  for (const char* name : {"ZEBa1B2c", "ZEBLPD", "ZEBLPD42.Ab1", "zebA1B2C3", ""}) EXPECT_FALSE(isScratchFileName(name));
  // At the fixed name, root's leftover gives way; another user's file stays and the scratch file goes beside it.
  for (uid_t owner : {0u, 65534u}) {
    if (::geteuid() != 0) break;
    writeWhole(host / "tmp/ZEBLPD42", "earlier");
    ASSERT_EQ(::chown((host / "tmp/ZEBLPD42").c_str(), owner, owner), 0);
    std::string path;
    EXPECT_TRUE(createOwnFile(host / "tmp/ZEBLPD42", path));
    EXPECT_EQ(path == host / "tmp/ZEBLPD42", owner == 0) << owner;
    EXPECT_EQ(readWhole(host / "tmp/ZEBLPD42"), owner == 0 ? "" : "earlier") << owner;
  }
}
