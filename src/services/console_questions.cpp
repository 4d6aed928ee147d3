#include "services/console_questions.h"

#include <array>
#include <cstdio>

#include "services/message_catalogue.h"
#include "services/terminal.h"
#include "sys/text.h"

namespace {

constexpr std::array kYesWords = {"yes", "oui", "ja", "si"};
constexpr std::array kNoWords = {"no", "nein", "niente"};
constexpr std::array kAllWords = {"all", "tou", "toda", "tut"};

template <size_t N>
bool containsAny(std::string_view line, const std::array<const char*, N>& words) {
  for (const char* word : words)
    if (findIgnoringCase(line, word)) return true;
  return false;
}

AnswerCode classify(std::string_view line, bool withAll) {
  if (containsAny(line, kYesWords)) return kAnswerYes;
  if (containsAny(line, kNoWords)) return kAnswerNo;
  if (withAll && containsAny(line, kAllWords)) return kAnswerAll;
  char first = line.empty() ? '\0' : line.front();
  if (first >= 'a' && first <= 'z') first = static_cast<char>(first - 'a' + 'A');
  switch (first) {
    case 'Y':
    case 'O':
    case 'S': return kAnswerYes;
    case 'N': return kAnswerNo;
    case 'T':
    case 'A': return withAll ? kAnswerAll : kAnswerNone;
    case 'B': return withAll ? kAnswerBreak : kAnswerNone;
    default: return kAnswerNone;
  }
}

AnswerCode ask(std::string_view question, Message<> hint, bool withAll) {
  writeStdout(std::string(question) + "\n" + messageText(hint) + " ");
  std::string line;
  // At the end of input nobody can answer: the cautious answer for a list
  // of printers is to stop, for a single question it is no answer.
  if (!readAnswer(line)) return withAll ? kAnswerBreak : kAnswerNone;
  return withAll ? classifyYesNoAll(line) : classifyYesNo(line);
}

}  // namespace

bool readAnswer(std::string& line) {
  std::array<char, kAnswerPiece + 1> buffer{};
  if (!std::fgets(buffer.data(), static_cast<int>(buffer.size()), stdin)) {
    line.clear();
    return false;
  }
  line.assign(buffer.data());
  // The first byte is never stripped: an empty line stays a single newline.
  while (line.size() > 1 && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

AnswerCode classifyYesNo(std::string_view line) { return classify(line, false); }
AnswerCode classifyYesNoAll(std::string_view line) { return classify(line, true); }

AnswerCode askYesNo(std::string_view question) { return ask(question, msg::kHintYesNo, false); }
AnswerCode askYesNoAll(std::string_view question) { return ask(question, msg::kHintYesNoAll, true); }
