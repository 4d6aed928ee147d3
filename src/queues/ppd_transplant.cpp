#include "queues/ppd_transplant.h"

#include <strings.h>

#include "queues/queue_inventory.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "sys/line_reading.h"

namespace {

constexpr std::string_view kDefaultPrefix = "*Default";

bool opensBlock(std::string_view line) { return line.starts_with("*OpenUI") || line.starts_with("*JCLOpenUI"); }
bool closesBlock(std::string_view line) { return line.starts_with("*CloseUI") || line.starts_with("*JCLCloseUI"); }

// The new PPD's own line end: CR LF where it has one, else LF.
std::string_view lineEndOf(std::string_view piece) { return piece.ends_with("\r\n") ? "\r\n" : "\n"; }

class Transplant {
 public:
  Transplant(std::string& out, const OptionList& options, std::vector<std::string>* written)
      : out_(out), options_(options), written_(written) {}

  void piece(std::string_view raw) {
    bool startsLine = atLineStart_;
    atLineStart_ = raw.ends_with('\n');
    std::string_view text = raw;
    if (!insideOptionBlock_) {
      if (startsLine && opensBlock(text)) {
        insideOptionBlock_ = true;
        blockLine(raw, text, startsLine);
      } else {
        out_ += raw;
      }
    } else if (startsLine && closesBlock(text)) {
      out_ += raw;
      insideOptionBlock_ = false;
    } else {
      blockLine(raw, text, startsLine);
    }
  }

 private:
  void blockLine(std::string_view raw, std::string_view text, bool startsLine) {
    std::string value;
    std::optional<std::string> keyword;
    if (startsLine && text.starts_with(kDefaultPrefix)) keyword = parseDefaultLine(text, value);
    if (!keyword) {
      out_ += raw;
      return;
    }
    if (runSettings().debugLevel > 0) logIfAny(formatText("processNewPPD(%s).\n", keyword->c_str()));
    if (const OptionRecord* captured = findOption(&options_, *keyword)) {
      logMsg(msg::kDefaultCarried, *keyword, captured->value);
      if (!captured->value.empty()) {
        value = captured->value;
        if (written_) written_->push_back(captured->keyword);
      }
    }
    out_ += kDefaultPrefix;
    out_ += keyword->substr(1);
    out_ += ": ";
    out_ += value;
    out_ += lineEndOf(raw);
  }

  std::string& out_;
  const OptionList& options_;
  std::vector<std::string>* written_;
  bool insideOptionBlock_ = false;
  bool atLineStart_ = true;
};

}  // namespace

int processNewPPD(std::string_view in, std::string& out, const OptionList& options, int optionCount,
                  std::vector<std::string>* written) {
  logIfAny(formatText("processNewPPD(nOptions=%d)\n", optionCount));
  Transplant transplant(out, options, written);
  for (std::string_view piece : linePieces(in, false)) transplant.piece(piece);
  return 0;
}

std::optional<std::string> parseDefaultLine(std::string_view line, std::string& value) {
  value.clear();
  if (line.find("*DefaultColorSep") != std::string_view::npos) return std::nullopt;
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
  std::string keyword(keywordText.substr(1));
  for (const OptionRecord& record : list->records) {
    if (::strcasecmp(record.keyword.c_str(), keyword.c_str()) == 0) return &record;
  }
  return nullptr;
}
