#include "install/fs_helpers.h"

#include <gtest/gtest.h>

namespace {

TEST(FsHelpers, FlattenLineBlanksControlBytesOnly) {
  std::string text =
      "a\tb\x01"
      "c\xE9\xA1\n";
  flattenLine(text);
  EXPECT_EQ(text, "a b c\xE9\xA1 ");
}

}  // namespace
