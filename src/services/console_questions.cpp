#include "services/console_questions.h"

#include <array>
#include <cstdio>

#include "services/message_catalogue.h"

namespace {

constexpr std::array kYesWords = {"yes", "oui", "ja", "si"};
constexpr std::array kNoWords = {"no", "nein", "niente"};
constexpr std::array kAllWords = {"all", "tou", "toda", "tut"};

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool containsIgnoringCase(std::string_view line, std::string_view word) {
  if (word.size() > line.size()) return false;
  for (size_t start = 0; start + word.size() <= line.size(); ++start) {
    size_t i = 0;
    while (i < word.size() && asciiLower(line[start + i]) == word[i]) ++i;
    if (i == word.size()) return true;
  }
  return false;
}

template <size_t N>
bool containsAny(std::string_view line, const std::array<const char*, N>& words) {
  for (const char* word : words)
    if (containsIgnoringCase(line, word)) return true;
  return false;
}

int classify(std::string_view line, bool withAll) {
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

int ask(std::string_view question, Message<> hint, bool withAll) {
  std::fwrite(question.data(), 1, question.size(), stdout);
  std::printf("\n%s ", messageText(hint));
  std::fflush(stdout);
  std::string line;
  // At the end of input nobody can answer: the cautious answer for a list
  // of printers is to stop, for a single question it is no answer.
  if (!readAnswer(line)) return withAll ? kAnswerBreak : kAnswerNone;
  return classify(line, withAll);
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

int classifyYesNo(std::string_view line) { return classify(line, false); }
int classifyYesNoAll(std::string_view line) { return classify(line, true); }

int askYesNo(std::string_view question) { return ask(question, msg::kHintYesNo, false); }
int askYesNoAll(std::string_view question) { return ask(question, msg::kHintYesNoAll, true); }
