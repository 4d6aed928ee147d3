#include "sys/trusted_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../test_support.h"

namespace {

// A program is trusted only when nobody but root could have put it where it
// is: a file under the world-writable /tmp never is, whoever owns it.
TEST(TrustedPaths, OnlyWhatRootAloneControls) {
  if (::geteuid() != 0) GTEST_SKIP() << "the rule is about files of root";
  EXPECT_TRUE(isTrustedProgram("/bin/sh"));  // through the /bin link, resolved
  EXPECT_TRUE(isTrustedDirectory("/usr/bin"));
  TempDir tmp;
  writeWhole(tmp.root() + "/tool", "#!/bin/sh\n");
  EXPECT_FALSE(isTrustedProgram(tmp.root() + "/tool"));
  EXPECT_FALSE(isTrustedDirectory("/tmp"));
  for (const char* path : {"", "bin/sh", "/usr/bin", "/nonexistent/tool"}) EXPECT_FALSE(isTrustedProgram(path)) << path;
}

}  // namespace
