// The answers typed to the yes/no and yes/no/all/break questions.
#include "fuzz_support.h"
#include "run/console_questions.h"

namespace {

std::string withAsciiCase(std::string_view text, bool upper) {
  std::string result(text);
  for (char& c : result) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view line = fuzz::asText(data, size);
  int yesNo = classifyYesNo(line);
  int yesNoAll = classifyYesNoAll(line);
  FUZZ_CHECK(yesNo == kAnswerNone || yesNo == kAnswerNo || yesNo == kAnswerYes);
  FUZZ_CHECK(yesNoAll >= kAnswerNone && yesNoAll <= kAnswerBreak);
  // The longer question only adds "all" and "break": any other answer to it
  // is the answer to the yes/no question, and "break" is none there.
  if (yesNoAll == kAnswerBreak) {
    FUZZ_CHECK(yesNo == kAnswerNone);
  } else if (yesNoAll != kAnswerAll) {
    FUZZ_CHECK(yesNo == yesNoAll);
  }
  // Answers are read without regard to case.
  for (bool upper : {false, true}) {
    std::string other = withAsciiCase(line, upper);
    FUZZ_CHECK(classifyYesNo(other) == yesNo);
    FUZZ_CHECK(classifyYesNoAll(other) == yesNoAll);
  }
  return 0;
}
