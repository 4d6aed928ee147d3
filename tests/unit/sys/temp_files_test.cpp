#include "sys/temp_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "../test_support.h"

namespace {

namespace fs = std::filesystem;

// A fixed name someone else occupies is never written through or waited on:
// the output goes to a new exclusive file beside it.
TEST(CreateOwnFile, ForeignThingsAtTheFixedNameAreLeftAlone) {
  TempDir tmp;
  const std::string fixed = tmp.root() + "/ZEBLPD42";
  std::string path;
  FilePtr free = createOwnFile(fixed, path);
  ASSERT_TRUE(free);
  EXPECT_EQ(path, fixed);
  free.reset();
  EXPECT_TRUE(createOwnFile(fixed, path) && path == fixed);  // our own leftover is replaced
  fs::remove(fixed);
  fs::create_directory(fixed);
  FilePtr beside = createOwnFile(fixed, path);
  ASSERT_TRUE(beside);
  EXPECT_NE(path, fixed);
  EXPECT_TRUE(path.starts_with(fixed + "."));
  EXPECT_TRUE(fs::is_directory(fixed));
  fs::remove(fixed);
  writeWhole(tmp.root() + "/victim", "keep");
  fs::create_symlink(tmp.root() + "/victim", fixed);
  if (::geteuid() == 0) {
    // A link of root's own is ours to replace (only root can make one there in a sticky /tmp).
    ASSERT_TRUE(createOwnFile(fixed, path));
    EXPECT_EQ(path, fixed);
    EXPECT_FALSE(fs::is_symlink(fixed));
  }
  EXPECT_EQ(readWhole(tmp.root() + "/victim"), "keep");
  if (::geteuid() == 0) {
    // Another user's file there is theirs: neither replaced nor written to.
    fs::remove(fixed);
    writeWhole(fixed, "theirs");
    ASSERT_EQ(::chown(fixed.c_str(), 65534, 65534), 0);
    FilePtr other = createOwnFile(fixed, path);
    ASSERT_TRUE(other);
    EXPECT_NE(path, fixed);
    std::fputs("ours", other.get());
    other.reset();
    EXPECT_EQ(readWhole(fixed), "theirs");
  }
}

}  // namespace
