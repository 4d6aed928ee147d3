#include "sys/text.h"

#include <gtest/gtest.h>

#include "sys/line_reading.h"
#include "sys/sha256.h"

TEST(Text, PiecesTrimsPathsAndCase) {
  const std::pair<std::string, std::vector<std::string>> pieces[] = {
      {"a\nb", {"a\n", "b"}},
      {std::string(300, 'x') + "\n", {std::string(255, 'x'), std::string(45, 'x') + "\n"}},
      {std::string("a\0b\nc", 5), {"a", "c"}},
  };
  for (const auto& [text, expected] : pieces) {
    std::vector<std::string> got;
    for (std::string_view piece : linePieces(text)) got.emplace_back(piece);
    EXPECT_EQ(got, expected);
  }
  EXPECT_EQ(findIgnoringCase("Produced by CUPS", "cups"), 12u);
  EXPECT_TRUE(isAtOrBelow("/opt/orv/bin", "/opt/orv"));
  EXPECT_FALSE(isAtOrBelow("/opt/orvX", "/opt/orv"));
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
