#include "install/uninstall_script.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

const char* kDate = "Sun Dec  6 01:50:07 2026\n";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(UninstallScript, OrdinaryScriptLines) {
  std::string text = uninstallScriptText("/usr/bin/rm", "/opt/orv", kDate);
  std::vector<std::string> l = lines(text);
  ASSERT_EQ(l.size(), 74u);
  EXPECT_EQ(l[0], "#!/bin/sh");
  EXPECT_EQ(l[2], "# Script de desinstalaci\xF3n de Mivo 4.0-10 con fecha: Sun Dec  6 01:50:07 2026");
  EXPECT_EQ(l[9], "if [ -f $1 ] ; then");
  EXPECT_EQ(l[10], "  /usr/bin/rm $1");
  EXPECT_EQ(l[18], "if [ -d $1 ] ; then");
  EXPECT_EQ(l[19], "  /usr/bin/rm -rf $1");
  EXPECT_EQ(l[24], "# Get a yes or no answer from the user.  Argument 1 is prompt, 2 is default.");
  EXPECT_EQ(l[28], "        if [ \"$2\" = \"\" ] ; then");
  EXPECT_EQ(l[33], " ");
  EXPECT_EQ(l[40], std::string(24, ' ') + "answer=$2");
  EXPECT_EQ(l[46], std::string(16, ' ') + "[oO]|[yY]|[sS][\xED\xCD])");
  EXPECT_EQ(l[51], std::string(24, ' ') + "echo Responda s\xED o no.");
  EXPECT_EQ(l[56], "echo \"Desinstalaci\xF3n de 'Mivo 4.0-10'\"");
  EXPECT_EQ(l[57], "yorn \"\xBFSeguro que desea desinstalar Mivo 4.0-10?\" \"no\"");
  EXPECT_EQ(l[62], "delFile /opt/orv/mivoInfo4.0");
  EXPECT_EQ(l[65], "delFile /usr/bin/zebgsfilter");
  EXPECT_EQ(l[69], "delFile /opt/orv/MIVOINST.CONF");
  EXPECT_EQ(l[70], "delDir /opt/orv/ppd");
  EXPECT_EQ(l[73], "delDir /opt/orv");
}

TEST(UninstallScript, BareRmWhenNotFound) {
  std::vector<std::string> l = lines(uninstallScriptText("rm", "/opt/orv", kDate));
  EXPECT_EQ(l[10], "  rm $1");
  EXPECT_EQ(l[19], "  rm -rf $1");
}

TEST(UninstallScript, UnsafeDirectoryIsQuotedEverywhere) {
  std::vector<std::string> l = lines(uninstallScriptText("rm", "/srv/my dir;$(x)", kDate));
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
