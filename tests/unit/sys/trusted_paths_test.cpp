#include "sys/trusted_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

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

  // Under a tree of root's (the test's own working directory), group write is as bad as world write.
  if (!isTrustedDirectory(std::filesystem::current_path().string()))
    GTEST_SKIP() << "the working directory is not root's alone";
  const std::string dir = std::filesystem::absolute("trusted-paths-test").string(), tool = dir + "/tool";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(dir);
  writeWhole(tool, "#!/bin/sh\n");
  const std::tuple<mode_t, mode_t, bool> cases[] = {
      {0755, 0755, true}, {0775, 0755, false}, {0755, 0775, false}, {0755, 0757, false}};
  for (const auto& [dirMode, toolMode, trusted] : cases) {
    ASSERT_EQ(::chmod(dir.c_str(), dirMode) | ::chmod(tool.c_str(), toolMode), 0);
    EXPECT_EQ(isTrustedProgram(tool), trusted) << std::oct << dirMode << " " << toolMode;
    EXPECT_EQ(isTrustedDirectory(dir), (dirMode & 022) == 0) << std::oct << dirMode;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
