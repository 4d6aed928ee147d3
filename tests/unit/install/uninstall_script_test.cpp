#include "install/uninstall_script.h"

#include <gtest/gtest.h>

namespace {

// The whole script is compared byte for byte by the installation's end-to-end test.
TEST(UninstallScript, BareRmWhenItsPathIsUnknown) {
  std::string script = uninstallScriptText("rm", "/opt/orv", "DATE\n");
  EXPECT_NE(script.find("\n  rm $1\n"), std::string::npos);
  EXPECT_NE(script.find("\n  rm -rf $1\n"), std::string::npos);
}

}  // namespace
