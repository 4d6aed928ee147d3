#include "run/console_questions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

namespace {

struct Row {
  const char* line;
  int yesNo;
  int yesNoAll;
};

// Each answer line as the two kinds of question understand it.
const Row kAnswers[] = {
    {"S\xED", 1, 1},          // accented yes, by its first letter
    {"sI", 1, 1},             // the word "si" in any case
    {"desinstalar", 1, 1},    // yes words are found inside longer words
    {"jamais", 1, 1},
    {"nosi", 1, 1},           // yes is tested before no
    {"nope", 0, 0}, {"non", 0, 0}, {"ninguno", 0, 0},
    {"nada", 0, 0},           // no word: first letter N
    {"NEIN", 0, 0},
    {"todos", -1, 2},         // first letter T
    {"tout", -1, 2},          // the word "tou"
    {"b", -1, 3}, {"break", -1, 3},
    {"Alles", -1, 2},         // the word "all" before the first letter
    {"y", 1, 1}, {"oui", 1, 1}, {" yes", 1, 1},
    {" y", -1, -1},           // a leading blank hides the first letter
    {"\n", -1, -1},           // an empty answer
    {"", -1, -1}, {"x", -1, -1},
    {"\xBFqu\xE9?", -1, -1},  // bytes above 0x7F never match a letter
};

TEST(ConsoleQuestions, ClassifiersFollowTheWordAndLetterRules) {
  for (const Row& row : kAnswers) {
    EXPECT_EQ(classifyYesNo(row.line), row.yesNo) << "line '" << row.line << "'";
    EXPECT_EQ(classifyYesNoAll(row.line), row.yesNoAll) << "line '" << row.line << "'";
  }
}

// Feeds text to standard input for the duration of one test.
class StdinFeed {
 public:
  explicit StdinFeed(const std::string& text) : saved_(dup(0)) {
    FILE* f = tmpfile();
    fwrite(text.data(), 1, text.size(), f);
    fflush(f);
    dup2(fileno(f), 0);
    fclose(f);
    lseek(0, 0, SEEK_SET);
    clearerr(stdin);
  }
  ~StdinFeed() {
    dup2(saved_, 0);
    close(saved_);
    clearerr(stdin);
  }

 private:
  int saved_;
};

TEST(ConsoleQuestions, ReadAnswerStripsLineEndsAndReadsInPieces) {
  std::string longLine(300, 'n');
  StdinFeed feed("y\r\n\n" + longLine + "\n");
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

TEST(ConsoleQuestions, EndOfInputAnswersNoRuleMatched) {
  StdinFeed feed("");
  EXPECT_EQ(askYesNo("Q?"), kAnswerNone);
  EXPECT_EQ(askYesNoAll("Q?"), kAnswerNone);
}

}  // namespace
