// The information file of an installation: its USRDIR value, its printers
// block, the migration of the older file, and a fresh file read back.
#include "fuzz_support.h"
#include "install/info_file.h"

namespace {

bool isValueStart(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte < 0x80;
}

void checkUsrDir(std::string_view text) {
  std::optional<std::string> value = usrDirValue(text);
  if (text.find("USRDIR") == std::string_view::npos) FUZZ_CHECK(!value);
  if (!value) return;
  FUZZ_CHECK(value->size() < 255);
  FUZZ_CHECK(value->find_first_of(std::string_view(" \r\n\0", 4)) == std::string::npos);
  if (!value->empty()) FUZZ_CHECK(isValueStart(value->front()));
}

// A printer name the file keeps as it is: no line end, NUL byte or marker,
// and nothing at its end that the reader takes for the line end.
bool isPlainPrinter(std::string_view name) {
  return name.find_first_of(std::string_view("\n\0", 2)) == std::string_view::npos &&
         name.find("%%ZEBBLOCK_PRINTERS_") == std::string_view::npos &&
         (name.empty() || (name.back() != '\r' && name.back() != ' '));
}

// The first input line stands for the installation directory, every other
// one for a printer: a fresh file reads back the same, and a rewrite of what
// was read is the same file, however long the names.
void checkRoundTrip(std::string_view text) {
  std::vector<std::string_view> lines = fuzz::wholeLines(text);
  std::string dir = lines.empty() ? std::string() : std::string(lines.front());
  if (!dir.empty() && dir.back() == '\n') dir.pop_back();
  std::vector<std::string> printers;
  for (size_t i = 1; i < lines.size(); ++i) printers.emplace_back(lines[i].substr(0, lines[i].find('\n')));
  std::string info = infoFileText(dir, printers);
  checkUsrDir(info);
  std::optional<std::vector<std::string>> read = printersBlock(info);
  FUZZ_CHECK(read.has_value());
  if (dir.find("%%ZEBBLOCK_PRINTERS_") != std::string::npos) return;
  if (std::all_of(printers.begin(), printers.end(), isPlainPrinter)) FUZZ_CHECK(*read == printers);
  FUZZ_CHECK(printersBlock(infoFileText(dir, *read)) == read);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = fuzz::asText(data, size);
  checkUsrDir(text);
  std::optional<std::vector<std::string>> printers = printersBlock(text);
  if (text.find("%%ZEBBLOCK_PRINTERS_BEGIN") == std::string_view::npos) FUZZ_CHECK(!printers);
  for (const std::string& name : printers.value_or(std::vector<std::string>{})) {
    FUZZ_CHECK(name.find_first_of(std::string_view("\n\0", 2)) == std::string::npos);
    FUZZ_CHECK(name.empty() || (name.back() != '\r' && name.back() != ' '));
  }
  std::string migrated = migratedInfoText(text);
  FUZZ_CHECK(migrated.size() <= text.size() + 28);
  if (text.find("Information File") == std::string_view::npos && text.find('\0') == std::string_view::npos)
    FUZZ_CHECK(migrated == text);
  checkRoundTrip(text);
  return 0;
}
