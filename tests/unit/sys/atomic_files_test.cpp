#include "sys/atomic_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "../test_support.h"
#include "sys/dir_listing.h"

namespace fs = std::filesystem;

// Whatever stands at the target, the file is written whole beside it and
// renamed, or nothing changes: a link is never written through, a fifo or
// directory is left alone, and no temporary stays behind.
TEST(AtomicFiles, WritesWholeOrLeavesTheTargetAlone) {
  TempDir tmp;
  writeWhole(tmp / "elsewhere", "precious");
  const std::tuple<std::string, LinkAtTarget, bool, std::string> cases[] = {
      {"missing", LinkAtTarget::Refuse, true, "new"},
      {"regular", LinkAtTarget::Refuse, true, "new"},
      {"link", LinkAtTarget::Refuse, false, "precious"},
      {"link", LinkAtTarget::Replace, true, "new"},
      {"fifo", LinkAtTarget::Replace, false, ""},
      {"dir", LinkAtTarget::Replace, false, ""},
  };
  for (const auto& [what, atLink, written, after] : cases) {
    TempDir dir;
    std::string target = dir / "target";
    if (what == "regular") writeWhole(target, "old", 0640);
    if (what == "link") fs::create_symlink(tmp / "elsewhere", target);
    if (what == "fifo") ::mkfifo(target.c_str(), 0600);
    if (what == "dir") fs::create_directory(target);
    FileAccess access;
    access.keepExisting = true;
    Failure why;
    EXPECT_EQ(writeFileAtomically(*SafeDir::open(dir.root()), "target", "new", access, &why, atLink), written) << what;
    if (!after.empty()) {
      EXPECT_EQ(readWhole(target), after) << what;
    }
    EXPECT_EQ(readWhole(tmp / "elsewhere"), "precious");
    EXPECT_EQ(listDirectory(dir.root()).size(), 1u) << what;  // no temporary left
    if (what == "regular") {
      EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));  // its mode kept
    }
  }
}

TEST(AtomicFiles, StagedFilesAreReadBackPlacedLaterAndNeverLeftBehind) {
  TempDir tmp;
  std::optional<SafeDir> dir = SafeDir::open(tmp.root());
  writeWhole(tmp / "target", "old");
  {
    PendingFile discarded(*dir);
    ASSERT_TRUE(discarded.write("lost") && discarded.finish("target", FileAccess{}));
  }
  EXPECT_EQ(listDirectory(tmp.root()).size(), 1u);
  PendingFile file(*dir);
  ASSERT_TRUE(file.write("new") && file.finish("target", FileAccess{}));
  EXPECT_EQ(file.readBack(), "new");
  EXPECT_EQ(readWhole(tmp / "target"), "old");
  EXPECT_TRUE(isOwnTemporaryName(lastComponent(file.path())));
  DurableBatch batch;
  batch.add(*dir);
  EXPECT_TRUE(batch.flushData());
  EXPECT_TRUE(file.place());
  EXPECT_EQ(readWhole(tmp / "target"), "new");
  for (const char* name : {".zebtmpAb12Cd", ".zebotXy34Zw"}) EXPECT_TRUE(isOwnTemporaryName(name)) << name;
  for (const char* name : {".zebtmpAb12C", ".zebtmpAb12Cd.ppd", "zebtmpAb12Cd", ".zebtmp-b12Cd"})
    EXPECT_FALSE(isOwnTemporaryName(name)) << name;
  writeWhole(tmp / ".zebtmpAb12Cd", "left by a killed run");
  EXPECT_EQ(staleTemporaries(*dir), std::vector<std::string>{".zebtmpAb12Cd"});
}
