#include "sys/atomic_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "../test_support.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WriteFileAtomically, ReplacesWholeAndNeverWritesThroughALink) {
  TempDir tmp;
  const std::string root = tmp.root();
  writeWhole(root + "/victim", "keep");
  fs::create_symlink(root + "/victim", root + "/planted");
  fs::create_symlink(root + "/nowhere", root + "/dangling");
  writeWhole(root + "/old", "old");
  ::chmod((root + "/old").c_str(), 0640);
  std::optional<SafeDir> dir = SafeDir::open(root);
  ASSERT_TRUE(dir);
  FileAccess plain;
  plain.mode = 0600;
  FileAccess keep;
  keep.keepExisting = true;
  std::string why;
  EXPECT_FALSE(writeFileAtomically(*dir, "planted", "new", plain, &why));
  EXPECT_NE(why.find("symbolic link"), std::string::npos);
  EXPECT_TRUE(writeFileAtomically(*dir, "dangling", "new", plain, &why, LinkAtTarget::Replace));
  EXPECT_TRUE(writeFileAtomically(*dir, "old", "new", keep));
  EXPECT_EQ(readWhole(root + "/victim"), "keep");
  EXPECT_EQ(readWhole(root + "/dangling") + readWhole(root + "/old"), "newnew");
  EXPECT_FALSE(fs::is_symlink(root + "/dangling"));
  EXPECT_EQ(fs::status(root + "/old").permissions(), fs::perms(0640));
  EXPECT_EQ(namesIn(root), (std::vector<std::string>{"dangling", "old", "planted", "victim"}));  // no temporaries left
  fs::create_directory(root + "/adir");
  EXPECT_FALSE(writeFileAtomically(*dir, "adir", "x", plain));
  EXPECT_FALSE(copyFileAtomically(root + "/missing", *dir, "copy", plain, &why));
  ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0600), 0);
  EXPECT_FALSE(copyFileAtomically(root + "/fifo", *dir, "copy", plain, &why));  // never blocks on a fifo
  EXPECT_TRUE(copyFileAtomically(root + "/old", *dir, "copy", plain));
  EXPECT_EQ(readWhole(root + "/copy"), "new");
}

TEST(PendingFile, NothingReplacesTheTargetUntilItIsPlaced) {
  TempDir tmp;
  writeWhole(tmp.root() + "/target", "old");
  std::optional<SafeDir> dir = SafeDir::open(tmp.root());
  ASSERT_TRUE(dir);
  {
    PendingFile file(*dir);
    ASSERT_TRUE(file.write("new") && file.finish("target", FileAccess{}));
    EXPECT_TRUE(isOwnTemporaryName(file.path().substr(file.path().rfind('/') + 1)));
    EXPECT_EQ(readWhole(tmp.root() + "/target"), "old");
  }  // never placed: gone
  EXPECT_EQ(namesIn(tmp.root()), std::vector<std::string>{"target"});
  PendingFile file(*dir);
  ASSERT_TRUE(file.write("new") && file.finish("target", FileAccess{}));
  DurableBatch batch;
  batch.add(*dir);
  batch.flushData();
  EXPECT_TRUE(file.place());
  batch.flushDirectories();
  EXPECT_EQ(readWhole(tmp.root() + "/target"), "new");
}

TEST(OwnTemporaries, OnlyOurNamesOfRootAreTakenForLeftovers) {
  for (const char* name : {".zebtmpAb12Cd", ".zebotXy34Zw"}) EXPECT_TRUE(isOwnTemporaryName(name)) << name;
  for (const char* name : {".zebtmpAb12C", ".zebtmpAb12Cde", ".zebtmp-b12Cd", "zebtmpAb12Cd", "Office.ppd", ""})
    EXPECT_FALSE(isOwnTemporaryName(name)) << name;
  TempDir tmp;
  for (const char* name : {".zebtmpAb12Cd", ".zebotXy34Zw", "Office.ppd"}) writeWhole(tmp.root() + "/" + name, "x");
  fs::create_directory(tmp.root() + "/.zebtmpDir123");
  std::optional<SafeDir> dir = SafeDir::open(tmp.root());
  ASSERT_TRUE(dir);
  EXPECT_EQ(removeStaleTemporaries(*dir), ::geteuid() == 0 ? 2 : 0);
  if (::geteuid() == 0) {
    EXPECT_EQ(namesIn(tmp.root()), (std::vector<std::string>{".zebtmpDir123", "Office.ppd"}));
  }
}

}  // namespace
