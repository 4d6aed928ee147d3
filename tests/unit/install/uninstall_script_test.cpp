#include "install/uninstall_script.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The script as an installation on /opt/orv must leave it, with DATE for the date.
std::string expectedScript() {
  auto path = std::filesystem::path(__FILE__).parent_path() / "../../e2e/install/UNINSTALLMIVO.expected";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(UninstallScript, OrdinaryScriptIsTheExpectedTextByteForByte) {
  std::string expected = expectedScript();
  ASSERT_EQ(lines(expected).size(), 74u);
  EXPECT_EQ(uninstallScriptText("/usr/bin/rm", "/opt/orv", "DATE\n"), expected);
}

TEST(UninstallScript, BareRmWhenNotFound) {
  std::vector<std::string> l = lines(uninstallScriptText("rm", "/opt/orv", "DATE\n"));
  EXPECT_EQ(l[10], "  rm $1");
  EXPECT_EQ(l[19], "  rm -rf $1");
}

TEST(UninstallScript, UnsafeDirectoryIsQuotedEverywhere) {
  std::vector<std::string> l = lines(uninstallScriptText("rm", "/srv/my dir;$(x)", "DATE\n"));
  ASSERT_EQ(l.size(), 74u);
  EXPECT_EQ(l[9], "if [ -f \"$1\" ] ; then");
  EXPECT_EQ(l[10], "  rm \"$1\"");
  EXPECT_EQ(l[18], "if [ -d \"$1\" ] ; then");
  EXPECT_EQ(l[19], "  rm -rf \"$1\"");
  EXPECT_EQ(l[62], "delFile '/srv/my dir;$(x)/mivoInfo4.0'");
  EXPECT_EQ(l[65], "delFile /usr/bin/zebgsfilter");
  EXPECT_EQ(l[73], "delDir '/srv/my dir;$(x)'");
}

}  // namespace
