#include "services/console_questions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "../test_support.h"

// Each answer line as the two kinds of question understand it.
const std::tuple<const char*, int, int> kAnswers[] = {
    {"S\xED", 1, 1},         {"sI", 1, 1},      {"desinstalar", 1, 1}, {"nosi", 1, 1}, {"nope", 0, 0},
    {"ninguno", 0, 0},       {"nada", 0, 0},    {"NEIN", 0, 0},        {"todos", -1, 2}, {"tout", -1, 2},
    {"Alles", -1, 2},        {"b", -1, 3},      {"break", -1, 3},      {"oui", 1, 1},  {" yes", 1, 1},
    {" y", -1, -1},          {"\n", -1, -1},    {"", -1, -1},          {"x", -1, -1},  {"\xBFqu\xE9?", -1, -1},
};

TEST(ConsoleQuestions, WordsFirstThenTheFirstLetter) {
  for (const auto& [line, yesNo, yesNoAll] : kAnswers) {
    EXPECT_EQ(classifyYesNo(line), yesNo) << "line '" << line << "'";
    EXPECT_EQ(classifyYesNoAll(line), yesNoAll) << "line '" << line << "'";
  }
}

TEST(ConsoleQuestions, AnswersAreReadInPiecesAndTheEndOfInputStopsAList) {
  TempDir tmp;
  writeWhole(tmp / "in", "y\r\n\n" + std::string(300, 'n') + "\n");
  ASSERT_NE(std::freopen((tmp / "in").c_str(), "r", stdin), nullptr);
  const std::vector<std::string> expected = {"y", "\n", std::string(kAnswerPiece, 'n'),
                                             std::string(300 - kAnswerPiece, 'n')};
  for (const std::string& want : expected) {
    std::string line;
    ASSERT_TRUE(readAnswer(line));
    EXPECT_EQ(line, want);
  }
  EXPECT_EQ(askYesNo("Q?"), kAnswerNone);
  EXPECT_EQ(askYesNoAll("Q?"), kAnswerBreak);
}
