// Yes/no and yes/no/all/break questions on the terminal.
#pragma once

#include <string>
#include <string_view>

enum AnswerCode {
  kAnswerNone = -1,  // no rule matched (also at end of input, for askYesNo)
  kAnswerNo = 0,
  kAnswerYes = 1,
  kAnswerAll = 2,
  kAnswerBreak = 3,
};

// One read takes at most this many bytes of a line; the rest is left for the next read.
constexpr size_t kAnswerPiece = 255;

AnswerCode askYesNo(std::string_view question);
// At the end of input the answer is break.
AnswerCode askYesNoAll(std::string_view question);

// Reads one line (at most kAnswerPiece bytes) and strips its line end;
// false at end of input.
bool readAnswer(std::string& line);

AnswerCode classifyYesNo(std::string_view line);
AnswerCode classifyYesNoAll(std::string_view line);
