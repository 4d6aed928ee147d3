#include "install/uninstall_script.h"

#include <gtest/gtest.h>

#include "../test_support.h"

// Where the product made the installation directory the script is the
// product's own, byte for byte; elsewhere it removes whole only what the
// product made, and otherwise the files it installed.
TEST(UninstallScript, RemovesWholeOnlyWhatTheProductMade) {
  std::string made = uninstallScriptText("/usr/bin/rm", "/opt/orv", "DATE\n");
  EXPECT_EQ(made, readWhole(sourcePath("tests/fixtures/UNINSTALLMIVO.expected")));
  UninstallScope scope;
  scope.installDirMade = false;
  scope.ppdDirMade = false;
  scope.otherFiles = {"/srv/x/man/setup.8"};
  scope.otherDirs = {"/srv/x/man"};
  std::string foreign = uninstallScriptText("rm", "/srv/x", "DATE\n", scope);
  std::string tail = foreign.substr(foreign.find("delFile /srv/x/MIVOINST.CONF\n"));
  EXPECT_EQ(tail,
            "delFile /srv/x/MIVOINST.CONF\ndelFile /srv/x/man/setup.8\ndelDir /srv/x/etc\ndelDir /srv/x/bin\n"
            "delDir /srv/x/man\n");
  EXPECT_NE(uninstallScriptText("rm", "/srv/a b", "DATE\n").find("delDir '/srv/a b'\n"), std::string::npos);
}
