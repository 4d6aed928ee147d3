#include "sys/safe_dirs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "../test_support.h"

namespace {

namespace fs = std::filesystem;

// A link anywhere on the way is refused, never followed: what it points to stays untouched.
TEST(SafeDir, AWalkNeverFollowsALink) {
  TempDir tmp;
  const std::string root = tmp.root();
  fs::create_directories(root + "/real/sub");
  fs::create_directory_symlink(root + "/real", root + "/link");
  writeWhole(root + "/real/file", "x");
  const std::pair<std::string, bool> walks[] = {
      {root + "/real/sub", true}, {root + "/link/sub", false}, {root + "/real/file", false},
      {root + "/missing", false}, {"relative/path", false},    {root + "/real/../real", false},
  };
  for (const auto& [path, opens] : walks) {
    std::string why;
    EXPECT_EQ(SafeDir::open(path, &why).has_value(), opens) << path << ": " << why;
    if (path.ends_with("/link/sub")) {
      EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
    }
  }
  std::optional<SafeDir> real = SafeDir::open(root + "/real");
  ASSERT_TRUE(real);
  EXPECT_EQ(real->path(), root + "/real");
  EXPECT_EQ(real->pathOf("sub"), root + "/real/sub");
  EXPECT_FALSE(real->child(".."));
  EXPECT_FALSE(real->below("sub/../..", std::nullopt));
}

TEST(SafeDir, DirectoriesAreMadeWithExactlyTheModeAsked) {
  TempDir tmp;
  std::optional<SafeDir> root = SafeDir::open(tmp.root());
  ASSERT_TRUE(root);
  mode_t oldMask = ::umask(077);  // the mode asked for wins over the umask
  bool created = false;
  std::optional<SafeDir> made = root->childOrCreate("made", 0755, &created);
  ::umask(oldMask);
  ASSERT_TRUE(made && created);
  struct stat info {};
  ASSERT_EQ(::stat((tmp.root() + "/made").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  EXPECT_TRUE(root->childOrCreate("made", 0700, &created) && !created);
  EXPECT_TRUE(root->below("a/b/c", 0750));
  EXPECT_TRUE(fs::is_directory(tmp.root() + "/a/b/c"));
}

TEST(RemoveTreeAt, LinksGoThemselvesAndALinkedTreeIsLeftAlone) {
  TempDir tmp;
  const std::string root = tmp.root();
  fs::create_directories(root + "/outside/keep");
  writeWhole(root + "/outside/keep/file", "x");
  fs::create_directories(root + "/tree/sub");
  writeWhole(root + "/tree/sub/file", "x");
  fs::create_directory_symlink(root + "/outside", root + "/tree/dirlink");
  fs::create_symlink(root + "/outside/keep/file", root + "/tree/filelink");
  fs::create_directory_symlink(root + "/outside", root + "/treelink");
  std::optional<SafeDir> dir = SafeDir::open(root);
  ASSERT_TRUE(dir);
  std::string why;
  EXPECT_EQ(removeTreeAt(*dir, "treelink", &why), -1);
  EXPECT_NE(why.find("symbolic link"), std::string::npos);
  EXPECT_EQ(removeTreeAt(*dir, "tree"), 0);
  EXPECT_FALSE(fs::exists(root + "/tree"));
  EXPECT_TRUE(fs::exists(root + "/outside/keep/file") && fs::is_symlink(root + "/treelink"));
  EXPECT_TRUE(removeFileAt(*dir, "treelink"));  // a link given as a file goes itself
  EXPECT_TRUE(fs::exists(root + "/outside/keep/file"));
  EXPECT_FALSE(removeFileAt(*dir, "outside"));
}

}  // namespace
