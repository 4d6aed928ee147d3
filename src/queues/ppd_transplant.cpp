#include "queues/ppd_transplant.h"

#include "queues/line_pieces.h"
#include "queues/queue_inventory.h"
#include "run/run_log.h"
#include "run/run_settings.h"

namespace {

constexpr std::string_view kDefaultPrefix = "*Default";

bool contains(std::string_view line, std::string_view text) {
  return line.find(text) != std::string_view::npos;
}

// The default line in its normalised form, with the captured value when
// there is a non-empty one.
std::string rewrittenDefault(const std::string& keywordText, const std::string& lineValue,
                             const OptionList& options) {
  std::string value = lineValue;
  if (const OptionRecord* captured = findOption(&options, keywordText)) {
    logMsg(msg::kDefaultCarried, keywordText, captured->value);
    if (!captured->value.empty()) value = captured->value;
  }
  return formatText("*Default%s: %s\n", keywordText.c_str() + 1, value.c_str());
}

// One line inside an option block: rewritten when it is a default line.
void filterBlockLine(const std::string& line, std::ostream& out, const OptionList& options) {
  std::string value;
  std::optional<std::string> keyword;
  if (contains(line, "Default")) keyword = parseDefaultLine(line, value);
  if (!keyword) {
    out << line;
    return;
  }
  trimLineEnd(*keyword);
  if (runSettings().debugLevel > 0) logIfAny(formatText("processNewPPD(%s).\n", keyword->c_str()));
  out << rewrittenDefault(*keyword, value, options);
  out.flush();
}

}  // namespace

int processNewPPD(std::istream& in, std::ostream& out, const OptionList& options, int optionCount) {
  logIfAny(formatText("processNewPPD(nOptions=%d)\n", optionCount));
  bool insideOptionBlock = false;
  std::string line;
  while (readLinePiece(in, line)) {
    if (insideOptionBlock && contains(line, "*CloseUI")) {
      out << line;
      insideOptionBlock = false;
    } else if (insideOptionBlock || contains(line, "*OpenUI")) {
      insideOptionBlock = true;
      filterBlockLine(line, out, options);
    } else {
      out << line;
    }
  }
  return 0;
}

std::optional<std::string> parseDefaultLine(std::string_view line, std::string& value) {
  value.clear();
  if (contains(line, "*DefaultColorSep")) return std::nullopt;
  size_t start = line.find(kDefaultPrefix);
  if (start == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(start + kDefaultPrefix.size());
  size_t keywordEnd = rest.find_first_of(" :");
  // A keyword without its blank or colon on the line is not a default line we rewrite.
  if (keywordEnd == std::string_view::npos) return std::nullopt;
  std::string keyword = "*" + std::string(rest.substr(0, std::min(keywordEnd, kDefaultKeywordMax)));
  rest.remove_prefix(keywordEnd);
  if (rest.front() == ':') rest.remove_prefix(1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  value = std::string(rest.substr(0, std::min(rest.find_first_of(" \r\n"), kDefaultValueMax)));
  return keyword;
}

const OptionRecord* findOption(const OptionList* list, std::string_view keywordText) {
  if (!list || keywordText.empty() || keywordText.front() != '*') return nullptr;
  std::string_view keyword = keywordText.substr(1);
  for (const OptionRecord& record : list->records) {
    if (record.keyword == keyword) return &record;
  }
  return nullptr;
}
