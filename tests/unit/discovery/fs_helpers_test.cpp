#include "install/fs_helpers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

TEST(FsHelpers, FlattenLineBlanksControlBytesOnly) {
  std::string text = "a\tb\x01" "c\xE9\xA1\n";
  flattenLine(text);
  EXPECT_EQ(text, "a b c\xE9\xA1 ");
}

TEST(FsHelpers, LinesComeInPiecesOf255Bytes) {
  std::string text = std::string(600, 'x') + "\nend";
  FilePtr file(fmemopen(text.data(), text.size(), "r"));
  std::vector<size_t> sizes;
  for (std::string line; readLinePiece(file.get(), line);) sizes.push_back(line.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{255, 255, 91, 3}));
}

TEST(FsHelpers, ExclusiveFileReplacesAPlantedLinkWithoutFollowingIt) {
  char tmpl[] = "/tmp/fshelpersXXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string victim = dir + "/victim";
  std::string planted = dir + "/ZEBLPD1";
  std::ofstream(victim) << "precious\n";
  ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);

  FilePtr own = createExclusiveFile(planted);
  ASSERT_TRUE(own);
  std::system(("echo written > " + planted).c_str());
  std::string line;
  ASSERT_TRUE(readLinePiece(own.get(), line));
  EXPECT_EQ(line, "written\n");  // the command wrote into our file, which we read back

  std::ifstream in(victim);
  std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "precious\n");
  struct stat info {};
  ASSERT_EQ(lstat(planted.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
