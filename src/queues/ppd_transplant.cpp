#include "queues/ppd_transplant.h"

#include <set>

#include "services/run_log.h"
#include "services/run_settings.h"
#include "sys/line_reading.h"
#include "sys/text.h"

namespace {

constexpr std::string_view kDefaultPrefix = "*Default";

bool opensBlock(std::string_view line) { return line.starts_with("*OpenUI") || line.starts_with("*JCLOpenUI"); }
bool closesBlock(std::string_view line) { return line.starts_with("*CloseUI") || line.starts_with("*JCLCloseUI"); }

// The new PPD's own line end: CR LF where it has one, else LF.
std::string_view lineEndOf(std::string_view piece) { return piece.ends_with("\r\n") ? "\r\n" : "\n"; }

// The option keyword an *OpenUI line opens: "*OpenUI *PageSize/Media Size: PickOne" gives "pagesize".
std::string blockKeyword(std::string_view line) {
  size_t star = line.find('*', 1);
  if (star == std::string_view::npos) return {};
  std::string_view rest = line.substr(star + 1);
  return lowerCase(rest.substr(0, rest.find_first_of("/: \t\r\n")));
}

// Whether the value read from a default line is all there is after its keyword.
bool isSingleWord(std::string_view line, const std::string& value) {
  std::string_view rest = line.substr(line.find(':') == std::string_view::npos ? line.size() : line.find(':') + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  rest = withoutLineEnd(rest);
  while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
  return rest == value;
}

class Transplant {
 public:
  Transplant(std::string& out, const OptionList& options, std::vector<std::string>* written)
      : out_(out), options_(options), written_(written) {}

  void piece(std::string_view raw) {
    bool startsLine = atLineStart_;
    atLineStart_ = raw.ends_with('\n');
    if (!insideOptionBlock_) {
      if (startsLine && opensBlock(raw)) {
        insideOptionBlock_ = true;
        block_ = blockKeyword(raw);
        blockLine(raw, startsLine);
      } else if (startsLine && raw.starts_with(kDefaultPrefix)) {
        repeatedDefault(raw);
      } else {
        out_ += raw;
      }
    } else if (startsLine && closesBlock(raw)) {
      out_ += raw;
      insideOptionBlock_ = false;
      closed_.insert(block_);
    } else {
      blockLine(raw, startsLine);
    }
  }

 private:
  void blockLine(std::string_view raw, bool startsLine) {
    std::string value;
    std::optional<std::string> keyword;
    if (startsLine && raw.starts_with(kDefaultPrefix)) keyword = parseDefaultLine(raw, value);
    if (!keyword) {
      out_ += raw;
      return;
    }
    if (runSettings().debugLevel > 0) logMsg(msg::kTransplantKeyword, *keyword);
    const OptionRecord* captured = findOption(&options_, *keyword);
    if (captured) logMsg(msg::kDefaultCarried, *keyword, captured->value);
    if (captured && !captured->value.empty()) {
      write(*keyword, captured->value, raw);
      if (written_) written_->push_back(captured->keyword);
    } else if (isSingleWord(raw, value)) {
      write(*keyword, value, raw);
    } else {
      // A value of several words (a quoted text) would be cut: it stays as it is.
      out_ += raw;
    }
  }

  // A default stated again after its option block is the one libcups keeps:
  // a carried default is written there too.
  void repeatedDefault(std::string_view raw) {
    std::string value;
    std::optional<std::string> keyword = parseDefaultLine(raw, value);
    const OptionRecord* captured = keyword ? findOption(&options_, *keyword) : nullptr;
    if (!captured || captured->value.empty() || !closed_.count(lowerCase(keyword->substr(1)))) {
      out_ += raw;
      return;
    }
    write(*keyword, captured->value, raw);
    if (written_) written_->push_back(captured->keyword);
  }

  void write(const std::string& keyword, const std::string& value, std::string_view raw) {
    out_ += kDefaultPrefix;
    out_ += keyword.substr(1);
    out_ += ": ";
    out_ += value;
    out_ += lineEndOf(raw);
  }

  std::string& out_;
  const OptionList& options_;
  std::vector<std::string>* written_;
  bool insideOptionBlock_ = false;
  bool atLineStart_ = true;
  std::string block_;
  std::set<std::string> closed_;
};

}  // namespace

int processNewPPD(std::string_view in, std::string& out, const OptionList& options, int optionCount,
                  std::vector<std::string>* written) {
  logMsg(msg::kTransplantStart, optionCount);
  Transplant transplant(out, options, written);
  for (std::string_view piece : linePieces(in, false)) transplant.piece(piece);
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
  // A keyword ends at its first NUL byte, and never with a line end.
  std::string keyword = "*" + std::string(upToNul(rest.substr(0, std::min(keywordEnd, kDefaultKeywordMax))));
  trimLineEnd(keyword);
  rest.remove_prefix(keywordEnd);
  if (rest.front() == ':') rest.remove_prefix(1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  value = std::string(
      upToNul(rest.substr(0, std::min(rest.find_first_of(std::string_view(" \r\n\0", 4)), kDefaultValueMax))));
  return keyword;
}

const OptionRecord* findOption(const OptionList* list, std::string_view keywordText) {
  if (!list || keywordText.empty() || keywordText.front() != '*') return nullptr;
  std::string_view keyword = keywordText.substr(1);
  for (const OptionRecord& record : list->records) {
    if (equalsIgnoringCase(record.keyword, keyword)) return &record;
  }
  return nullptr;
}
