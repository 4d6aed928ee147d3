// The install manifest of a distribution tree: parseManifest and the line
// parser it calls.
#include "fuzz_support.h"
#include "install/install_manifest.h"

namespace {

bool isFieldByte(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte < 0x7F;
}

bool isField(std::string_view text) { return std::all_of(text.begin(), text.end(), isFieldByte); }

void checkItem(const InstallItem& item) {
  // A line that gives an item begins with a field byte.
  FUZZ_CHECK(!item.source.empty());
  FUZZ_CHECK(isField(item.source));
  FUZZ_CHECK(isField(item.destination));
  FUZZ_CHECK(item.mode >= 0);
  // The mode is read only after a destination.
  if (item.destination.empty()) FUZZ_CHECK(item.mode == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = fuzz::asText(data, size);
  ManifestParse parse = parseManifest(text);
  FUZZ_CHECK(parse.items.size() <= kInstallItemMax);
  for (const InstallItem& item : parse.items) {
    checkItem(item);
    FUZZ_CHECK(item.source.size() <= kSourceNameMax);
  }
  // Nothing after an "@@NULL" line is read.
  std::string ended = std::string(text) + "\n@@NULL\n" + std::string(text);
  ManifestParse endedParse = parseManifest(ended);
  FUZZ_CHECK(endedParse.items == parse.items);
  FUZZ_CHECK(endedParse.droppedLines.size() == parse.droppedLines.size());

  for (std::string_view line : fuzz::wholeLines(text)) {
    if (std::optional<InstallItem> item = parseManifestLine(line)) checkItem(*item);
  }
  return 0;
}
