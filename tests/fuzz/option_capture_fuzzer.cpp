// The options a new PPD declares, as libcups reads them, and the split of
// the captured defaults into those it can take and those it cannot; the
// carried ones then go through the transplant, as in an update. The first
// input line gives the captured defaults.
#include <cctype>

#include "fuzz_options.h"
#include "fuzz_support.h"
#include "queues/ppd_transplant.h"

namespace {

bool hasUpperCase(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

void checkDeclared(const DeclaredOptions& declared) {
  for (const auto& [keyword, choices] : declared.choicesByKeyword) {
    FUZZ_CHECK(!hasUpperCase(keyword));
    for (const std::string& choice : choices) FUZZ_CHECK(!hasUpperCase(choice));
  }
}

// Every captured default lands on exactly one side, in its order; a carried
// one names a declared option.
void checkSplit(const DeclaredOptions& declared, const OptionList& captured, const OptionList& carried,
                const std::vector<ReportDefault>& notCarried) {
  FUZZ_CHECK(carried.records.size() + notCarried.size() == captured.records.size());
  size_t nextCarried = 0;
  size_t nextNotCarried = 0;
  for (const OptionRecord& record : captured.records) {
    if (nextCarried < carried.records.size() && carried.records[nextCarried].keyword == record.keyword &&
        carried.records[nextCarried].value == record.value) {
      FUZZ_CHECK(declared.choicesByKeyword.count(lowerCase(record.keyword)) == 1);
      ++nextCarried;
    } else {
      FUZZ_CHECK(nextNotCarried < notCarried.size());
      const ReportDefault& left = notCarried[nextNotCarried++];
      FUZZ_CHECK(left.option == record.keyword && left.value == record.value);
      FUZZ_CHECK(left.reason == "option-not-declared" || left.reason == "choice-not-offered");
      if (left.reason == "option-not-declared")
        FUZZ_CHECK(declared.choicesByKeyword.count(lowerCase(record.keyword)) == 0);
    }
  }
  FUZZ_CHECK(nextCarried == carried.records.size() && nextNotCarried == notCarried.size());
}

}  // namespace

// libcups keeps only the last value of a keyword given twice (a second
// *NickName, *ModelName, ...) and never frees the earlier one: its own leak,
// which every malformed PPD would otherwise report. (A PPD the program
// forgot to close would be allocated there too and so goes unseen here.)
extern "C" const char* __lsan_default_suppressions() { return "leak:_ppdOpen\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::OptionsAndPpd input = fuzz::splitOptionsLine(fuzz::asText(data, size));
  std::optional<DeclaredOptions> declared = declaredOptions(input.ppd);
  if (input.ppd.empty()) FUZZ_CHECK(!declared);
  if (!declared) return 0;
  checkDeclared(*declared);
  OptionList carried;
  std::vector<ReportDefault> notCarried;
  splitCarried(*declared, input.options, carried, notCarried);
  checkSplit(*declared, input.options, carried, notCarried);
  std::string out;
  std::vector<std::string> written;
  processNewPPD(input.ppd, out, carried, static_cast<int>(carried.records.size()), &written);
  if (carried.records.empty()) FUZZ_CHECK(written.empty());
  return 0;
}
