// The carrying of option defaults into a new PPD: processNewPPD and the
// default line parser. The first input line gives the captured defaults.
#include "fuzz_options.h"
#include "fuzz_support.h"
#include "queues/ppd_transplant.h"
#include "sys/line_reading.h"

namespace {

constexpr std::string_view kDefault = "*Default";

bool opensBlock(std::string_view line) { return line.starts_with("*OpenUI") || line.starts_with("*JCLOpenUI"); }
bool closesBlock(std::string_view line) { return line.starts_with("*CloseUI") || line.starts_with("*JCLCloseUI"); }

void checkDefaultLine(std::string_view line) {
  std::string value = "left over";
  std::optional<std::string> keyword = parseDefaultLine(line, value);
  if (!keyword) return;
  FUZZ_CHECK(line.find(kDefault) != std::string_view::npos);
  FUZZ_CHECK(keyword->starts_with('*') && keyword->size() <= 1 + kDefaultKeywordMax);
  FUZZ_CHECK(keyword->find_first_of(std::string_view("\n\0", 2)) == std::string::npos);
  FUZZ_CHECK(value.size() <= kDefaultValueMax);
  FUZZ_CHECK(value.find_first_of(std::string_view(" \r\n\0", 4)) == std::string::npos);
}

size_t longestValue(const OptionList& options) {
  size_t longest = kDefaultValueMax;
  for (const OptionRecord& record : options.records) longest = std::max(longest, record.value.size());
  return longest;
}

// Walks the input line by line along the output: a line passes byte for
// byte unless it is a default line inside an option block that the parser
// takes; then the first read of it (at most 255 bytes) becomes one rewritten
// line and the rest of the line follows as it was. Returns the number of
// rewritten lines.
size_t checkTransplant(std::string_view in, std::string_view out, const OptionList& options) {
  const size_t rewrittenMax = kDefault.size() + kDefaultKeywordMax + 2 + longestValue(options) + 2;
  bool insideBlock = false;
  size_t at = 0;
  size_t rewritten = 0;
  for (std::string_view line : fuzz::wholeLines(in)) {
    bool inBlockLine = insideBlock ? !closesBlock(line) : opensBlock(line);
    insideBlock = inBlockLine;
    std::string_view firstRead = line.substr(0, std::min<size_t>(line.size(), 255));
    std::string value;
    if (!inBlockLine || !line.starts_with(kDefault) || !parseDefaultLine(firstRead, value)) {
      FUZZ_CHECK(out.substr(at, line.size()) == line);
      at += line.size();
      continue;
    }
    ++rewritten;
    size_t lineFeed = out.find('\n', at);
    FUZZ_CHECK(lineFeed != std::string_view::npos);
    std::string_view newLine = out.substr(at, lineFeed + 1 - at);
    FUZZ_CHECK(newLine.starts_with(kDefault) && newLine.size() <= rewrittenMax);
    if (firstRead.ends_with("\r\n")) FUZZ_CHECK(newLine.ends_with("\r\n"));
    std::string_view rest = line.substr(firstRead.size());
    FUZZ_CHECK(out.substr(at + newLine.size(), rest.size()) == rest);
    at += newLine.size() + rest.size();
  }
  FUZZ_CHECK(at == out.size());
  return rewritten;
}

bool isCapturedKeyword(const OptionList& options, const std::string& keyword) {
  return std::any_of(options.records.begin(), options.records.end(),
                     [&](const OptionRecord& record) { return record.keyword == keyword; });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::OptionsAndPpd input = fuzz::splitOptionsLine(fuzz::asText(data, size));
  std::string out;
  std::vector<std::string> written;
  const OptionList& options = input.options;
  FUZZ_CHECK(processNewPPD(input.ppd, out, options, static_cast<int>(options.records.size()), &written) == 0);
  size_t rewritten = checkTransplant(input.ppd, out, options);
  FUZZ_CHECK(written.size() <= rewritten);
  for (const std::string& keyword : written) FUZZ_CHECK(isCapturedKeyword(options, keyword));

  for (std::string_view piece : linePieces(input.ppd, false)) checkDefaultLine(piece);
  return 0;
}
