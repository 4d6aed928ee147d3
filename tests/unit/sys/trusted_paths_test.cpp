#include "sys/trusted_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "../test_support.h"

// Only what nobody but root could have put where it is or changed counts,
// along the path as it is named and as its links resolve.
TEST(TrustedPaths, OnlyWhatRootAloneControls) {
  REQUIRE_ROOT();
  EXPECT_TRUE(isTrustedFile("/bin/sh"));  // through the /bin link, resolved
  EXPECT_FALSE(isTrustedDirectory("/tmp"));
  for (const char* path : {"", "bin/sh", "/usr/bin", "/nonexistent/tool"}) EXPECT_FALSE(isTrustedFile(path)) << path;
  TempDir tmp;
  const std::string dir = tmp / "dir", tool = dir + "/tool";
  writeWhole(tool, "#!/bin/sh\n");
  const std::tuple<mode_t, mode_t, uid_t, bool> cases[] = {
      {0755, 0755, 0, true}, {0775, 0755, 0, false}, {0755, 0775, 0, false}, {0755, 0757, 0, false},
      {0755, 0755, 65534, false},
  };
  for (const auto& [dirMode, toolMode, owner, trusted] : cases) {
    ASSERT_EQ(::chmod(dir.c_str(), dirMode) | ::chmod(tool.c_str(), toolMode) | ::chown(tool.c_str(), owner, 0), 0);
    EXPECT_EQ(isTrustedFile(tool), trusted) << std::oct << dirMode << " " << toolMode << " " << owner;
    EXPECT_EQ(isTrustedDirectory(dir), (dirMode & 022) == 0) << std::oct << dirMode;
  }
  // A link of root's to a program in a directory anyone may write is no better than the directory.
  ::chown(tool.c_str(), 0, 0);
  std::filesystem::create_directories(tmp / "open");
  ::chmod((tmp / "open").c_str(), 01777);
  writeWhole(tmp / "open/tool", "#!/bin/sh\n", 0755);
  std::filesystem::create_symlink(tmp / "open/tool", dir + "/viaLink");
  EXPECT_FALSE(isTrustedFile(dir + "/viaLink"));
}
