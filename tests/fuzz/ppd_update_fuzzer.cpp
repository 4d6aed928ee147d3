// A queue's update as the program makes it from bytes a user may control: the
// old PPD scanned for its model and product version, its defaults captured
// through libcups, split by what the new PPD declares, carried into it, and
// read back. The input is the old PPD, a byte 1 and the new PPD; without that
// byte both are the same text.
#include "fuzz_support.h"
#include "queues/model_table.h"
#include "queues/option_capture.h"
#include "queues/queue_inventory.h"
#include "queues/ppd_transplant.h"
#include "queues/queue_update.h"
#include "sys/line_reading.h"
#include "sys/text.h"

namespace {

constexpr std::string_view kDefault = "*Default";
constexpr int kUnset = -7;

// A model line names a row of the table by a value running to its end;
// any other line names none and leaves the kind and id alone.
void checkScannedLine(std::string_view line) {
  int kind = kUnset, id = kUnset;
  std::optional<std::string_view> model = identifyModel(line, kind, id);
  bool modelLine = line.find("*ModelName:") != std::string_view::npos;
  FUZZ_CHECK(modelLine ? kind >= 0 && kind <= 3 : !model && kind == kUnset);
  if (model) {
    FUZZ_CHECK(fuzz::endsWithin(*model, line));
    const ModelEntry* entry = findModelEntry(*model);
    FUZZ_CHECK(entry && entry->modelId == id && model->find(entry->modelName) != std::string_view::npos);
  } else {
    FUZZ_CHECK(id == kUnset);
  }
  int version = readMivoVersion(line);
  FUZZ_CHECK(version >= -1 && version <= 9);
  if (line.find("*% Mivo version:") == std::string_view::npos) FUZZ_CHECK(version == -1);
}

// Every captured default lands on exactly one side; a carried one names a
// declared option and one of its choices, in the new PPD's spelling.
void checkSplit(const DeclaredOptions& declared, const OptionList& captured, const NewQueuePpd& next) {
  FUZZ_CHECK(next.carried.records.size() + next.notCarried.size() == captured.records.size());
  for (const OptionRecord& record : next.carried.records) {
    auto option = declared.byKeyword.find(lowerCase(record.keyword));
    FUZZ_CHECK(option != declared.byKeyword.end());
    bool custom = lowerCase(record.value).starts_with("custom.") || record.value.starts_with("{");
    FUZZ_CHECK(custom || option->second.choices.at(lowerCase(record.value)) == record.value);
    FUZZ_CHECK(record.value.find_first_of(std::string_view("\"\n\r\0", 4)) == std::string::npos);
  }
}

// Lines under 255 bytes pass one for one: as they were, or, for a default
// line, rewritten with the same keyword and a line end of its own.
void checkTransplant(std::string_view in, std::string_view out) {
  std::vector<std::string_view> before = fuzz::wholeLines(in), after = fuzz::wholeLines(out);
  if (std::any_of(before.begin(), before.end(), [](std::string_view l) { return l.size() >= 255; })) return;
  FUZZ_CHECK(before.size() == after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i] || (before[i].size() == after[i].size() + 1 && !before[i].ends_with('\n'))) continue;
    std::string oldValue, newValue;
    FUZZ_CHECK(before[i].starts_with(kDefault) && after[i].starts_with(kDefault));
    FUZZ_CHECK(parseDefaultLine(before[i], oldValue) == parseDefaultLine(after[i], newValue));
    FUZZ_CHECK(after[i].ends_with('\n'));
  }
}

}  // namespace

// libcups keeps only the last value of a keyword given twice (a second
// *NickName, *ModelName, ...) and never frees the earlier one: its own leak,
// which every malformed PPD would otherwise report.
extern "C" const char* __lsan_default_suppressions() { return "leak:_ppdOpen\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = fuzz::asText(data, size);
  size_t split = text.find('\x01');
  std::string_view oldPpd = text.substr(0, split);
  std::string_view newPpd = split == std::string_view::npos ? text : text.substr(split + 1);
  for (std::string_view piece : linePieces(oldPpd, false)) checkScannedLine(piece);
  if (const ModelEntry* entry = findModelEntry(oldPpd)) FUZZ_CHECK(oldPpd.find(entry->modelName) != std::string_view::npos);
  OptionList captured;
  unsigned count = 0;
  captureOptions(oldPpd, captured, count);
  std::optional<DeclaredOptions> declared = declaredOptions(newPpd);
  if (!declared) return 0;
  NewQueuePpd next;
  splitCarried(*declared, captured, next.carried, next.notCarried);
  checkSplit(*declared, captured, next);
  std::vector<std::string> written;
  processNewPPD(newPpd, next.text, next.carried, static_cast<int>(count), &written);
  checkTransplant(newPpd, next.text);
  // What libcups reads back of the written PPD decides what is reported as carried.
  if (std::optional<DeclaredOptions> back = declaredOptions(next.text)) {
    size_t before = next.carried.records.size() + next.notCarried.size();
    keepWhatReadsBack(*back, next);
    FUZZ_CHECK(next.carried.records.size() + next.notCarried.size() == before);
    for (const OptionRecord& r : next.carried.records)
      FUZZ_CHECK(equalsIgnoringCase(back->byKeyword.at(lowerCase(r.keyword)).defaultChoice, r.value));
  }
  return 0;
}
