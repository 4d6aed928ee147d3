#include "sys/line_reading.h"

#include <gtest/gtest.h>

#include <vector>

#include "sys/file_handles.h"

namespace {

TEST(LineReading, LinesComeInPiecesOf255Bytes) {
  std::string text = std::string(600, 'x') + "\nend";
  FilePtr file(fmemopen(text.data(), text.size(), "r"));
  std::vector<size_t> sizes;
  for (std::string line; readLinePiece(file.get(), line);) sizes.push_back(line.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{255, 255, 91, 3}));
}

TEST(LineReading, PiecesOfAText) {
  const std::string text = std::string(300, 'x') + "\n" + std::string("ab\0cd\nend", 9);
  std::vector<size_t> sizes, rawSizes;
  for (std::string_view piece : linePieces(text)) sizes.push_back(piece.size());
  for (std::string_view piece : linePieces(text, false)) rawSizes.push_back(piece.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{255, 46, 2, 3}));  // cut at a NUL, as C string functions see it
  EXPECT_EQ(rawSizes, (std::vector<size_t>{255, 46, 6, 3}));
}

}  // namespace
