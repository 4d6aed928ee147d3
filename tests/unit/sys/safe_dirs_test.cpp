#include "sys/safe_dirs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "../test_support.h"
#include "sys/dir_listing.h"

namespace fs = std::filesystem;

// A link is followed only where root alone could have made it: owned by
// root, in directories only root may write, and its target by the same rule.
TEST(SafeDir, FollowsOnlyTheLinksRootAloneCouldHaveMade) {
  REQUIRE_ROOT();
  TempDir tmp;
  fs::create_directories(tmp / "real/sub");
  fs::create_directories(tmp / "open");
  ::chmod((tmp / "open").c_str(), 0777);
  fs::create_directory_symlink(tmp / "real", tmp / "rootlink");
  fs::create_directory_symlink("real", tmp / "relative");
  fs::create_directory_symlink(tmp / "real", tmp / "userlink");
  ASSERT_EQ(::lchown((tmp / "userlink").c_str(), 65534, 65534), 0);
  fs::create_directory_symlink(tmp / "real", tmp / "open/link");
  fs::create_directory_symlink(tmp / "open", tmp / "toopen");
  fs::create_directory_symlink(tmp / "loop", tmp / "loop");
  writeWhole(tmp / "real/file", "x");
  const std::tuple<std::string, bool, FailureKind> walks[] = {
      {"real/sub", true, {}},
      {"rootlink/sub", true, {}},
      {"relative/sub", true, {}},
      {"userlink/sub", false, FailureKind::LinkInTheWay},
      {"open/link/sub", false, FailureKind::LinkInTheWay},  // a user could have put it there
      {"toopen/link", false, FailureKind::LinkInTheWay},    // followed to a directory anyone may write
      {"loop", false, FailureKind::LinkInTheWay},
      {"real/file", false, FailureKind::NotADirectory},
      {"missing", false, FailureKind::Missing},
  };
  for (const auto& [path, opens, kind] : walks) {
    Failure why;
    std::optional<SafeDir> dir = SafeDir::open(tmp / path, &why);
    EXPECT_EQ(dir.has_value(), opens) << path;
    if (!opens) {
      EXPECT_EQ(why.kind, kind) << path;
    }
    if (opens) {
      EXPECT_EQ(dir->path(), tmp / path);  // named as the caller named it
    }
  }
  EXPECT_TRUE(SafeDir::open(tmp / "real")->rootOnly());
  EXPECT_FALSE(SafeDir::open(tmp / "open")->rootOnly());
  EXPECT_FALSE(SafeDir::open("relative/path"));
  EXPECT_FALSE(SafeDir::open(tmp / "real")->child(".."));
}

TEST(SafeDir, TreesGoWithoutFollowingLinksAndRecordDirectoriesAreRootsAlone) {
  TempDir tmp;
  fs::create_directories(tmp / "keep");
  writeWhole(tmp / "keep/precious", "x");
  fs::create_directories(tmp / "tree/a/b");
  writeWhole(tmp / "tree/a/b/file", "x");
  fs::create_directory_symlink(tmp / "keep", tmp / "tree/a/link");
  std::optional<SafeDir> root = SafeDir::open(tmp.root());
  ASSERT_TRUE(root);
  EXPECT_EQ(removeTreeAt(*root, "tree"), 0);
  EXPECT_FALSE(fs::exists(tmp / "tree"));
  EXPECT_EQ(readWhole(tmp / "keep/precious"), "x");
  fs::create_directory_symlink(tmp / "keep", tmp / "dirlink");
  EXPECT_EQ(removeTreeAt(*root, "dirlink"), -1);
  EXPECT_TRUE(fs::exists(tmp / "keep/precious"));

  std::optional<SafeDir> records = openRootOnlyDirectory(tmp / "records");
  ASSERT_EQ(records.has_value(), ::geteuid() == 0);
  if (::geteuid() != 0) return;
  EXPECT_EQ(fs::status(tmp / "records").permissions(), fs::perms(0755));
  ::chmod((tmp / "records").c_str(), 0775);
  Failure why;
  EXPECT_FALSE(openRootOnlyDirectory(tmp / "records", &why));
  EXPECT_EQ(why.kind, FailureKind::NotRootOnly);
}
