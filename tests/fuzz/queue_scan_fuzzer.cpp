// The scan of a queue's PPD: the model named on its *ModelName line, the
// product version comment, and the model table search behind them.
#include "fuzz_support.h"
#include "queues/model_table.h"
#include "queues/queue_inventory.h"
#include "sys/line_reading.h"

namespace {

constexpr int kUnset = -7;

void checkEntry(const ModelEntry* entry, std::string_view text) {
  if (!entry) return;
  FUZZ_CHECK(entry >= kModelTable && entry < kModelTable + kModelTableSize);
  FUZZ_CHECK(text.find(entry->modelName) != std::string_view::npos);
}

void checkLine(std::string_view line) {
  int kind = kUnset;
  int id = kUnset;
  std::optional<std::string_view> model = identifyModel(line, kind, id);
  if (line.find("*ModelName:") == std::string_view::npos) {
    FUZZ_CHECK(!model && kind == kUnset && id == kUnset);
  } else {
    FUZZ_CHECK(kind >= 0 && kind <= 3);
  }
  if (model) {
    // The value runs to the end of the line and names a row of the table.
    FUZZ_CHECK(fuzz::endsWithin(*model, line));
    const ModelEntry* entry = findModelEntry(*model);
    FUZZ_CHECK(entry && entry->modelId == id);
    checkEntry(entry, *model);
  } else {
    FUZZ_CHECK(id == kUnset);
  }
  int version = readMivoVersion(line);
  FUZZ_CHECK(version >= -1 && version <= 9);
  if (line.find("*% Mivo version:") == std::string_view::npos) FUZZ_CHECK(version == -1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = fuzz::asText(data, size);
  for (std::string_view piece : linePieces(text, false)) checkLine(piece);
  checkEntry(findModelEntry(text), text);
  return 0;
}
