#include "services/console_questions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "../test_support.h"

namespace {

// Each answer line as the two kinds of question understand it.
const std::tuple<const char*, int, int> kAnswers[] = {
    {"S\xED", 1, 1},
    {"sI", 1, 1},  // accented yes by its first letter; "si" in any case
    {"desinstalar", 1, 1},
    {"jamais", 1, 1},  // yes words are found inside longer words
    {"nosi", 1, 1},    // yes is tested before no
    {"nope", 0, 0},
    {"non", 0, 0},
    {"ninguno", 0, 0},
    {"nada", 0, 0},
    {"NEIN", 0, 0},  // no words; first letter N
    {"todos", -1, 2},
    {"tout", -1, 2},
    {"Alles", -1, 2},  // first letter T; "tou"; "all" before the first letter
    {"b", -1, 3},
    {"break", -1, 3},
    {"y", 1, 1},
    {"oui", 1, 1},
    {" yes", 1, 1},
    {" y", -1, -1},  // a leading blank hides the first letter
    {"\n", -1, -1},
    {"", -1, -1},
    {"x", -1, -1},            // an empty answer, none at all, no rule
    {"\xBFqu\xE9?", -1, -1},  // bytes above 0x7F never match a letter
};

TEST(ConsoleQuestions, ClassifiersFollowTheWordAndLetterRules) {
  for (const auto& [line, yesNo, yesNoAll] : kAnswers) {
    EXPECT_EQ(classifyYesNo(line), yesNo) << "line '" << line << "'";
    EXPECT_EQ(classifyYesNoAll(line), yesNoAll) << "line '" << line << "'";
  }
}

// Standard input reads this text from here on.
void feedStdin(const std::string& text) {
  TempDir tmp;
  writeWhole(tmp.root() + "/in", text);
  ASSERT_NE(freopen((tmp.root() + "/in").c_str(), "r", stdin), nullptr);
}

TEST(ConsoleQuestions, ReadAnswerStripsLineEndsAndReadsInPieces) {
  std::string longLine(300, 'n');
  feedStdin("y\r\n\n" + longLine + "\n");
  std::string line;
  ASSERT_TRUE(readAnswer(line));
  EXPECT_EQ(line, "y");
  ASSERT_TRUE(readAnswer(line));
  EXPECT_EQ(line, "\n");  // the first byte is never stripped
  ASSERT_TRUE(readAnswer(line));
  EXPECT_EQ(line.size(), kAnswerPiece);
  ASSERT_TRUE(readAnswer(line));
  EXPECT_EQ(line, std::string(300 - kAnswerPiece, 'n'));
  EXPECT_FALSE(readAnswer(line));
}

TEST(ConsoleQuestions, EndOfInputRefusesAndBreaksOffAList) {
  feedStdin("");
  EXPECT_EQ(askYesNo("Q?"), kAnswerNone);
  EXPECT_EQ(askYesNoAll("Q?"), kAnswerBreak);
}

}  // namespace
