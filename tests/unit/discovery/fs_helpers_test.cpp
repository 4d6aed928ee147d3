#include "install/fs_helpers.h"
#include "sys/file_handles.h"
#include "sys/line_reading.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FsHelpers, FlattenLineBlanksControlBytesOnly) {
  std::string text =
      "a\tb\x01"
      "c\xE9\xA1\n";
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

}  // namespace
