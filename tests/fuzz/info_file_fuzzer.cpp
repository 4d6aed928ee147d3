// The information file of an installation: its USRDIR value, its printers
// block, the migration of the older file, and a fresh file read back.
#include "fuzz_support.h"
#include "install/info_file.h"

namespace {

constexpr std::string_view kMarkerStem = "%%ZEBBLOCK_PRINTERS_";

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

void checkPrinters(std::string_view text) {
  std::optional<std::vector<std::string>> printers = printersBlock(text);
  if (text.find("%%ZEBBLOCK_PRINTERS_BEGIN") == std::string_view::npos) FUZZ_CHECK(!printers);
  if (!printers) return;
  for (const std::string& printer : *printers) {
    FUZZ_CHECK(printer.size() <= 255);
    FUZZ_CHECK(printer.find_first_of(std::string_view("\n\0", 2)) == std::string::npos);
    if (!printer.empty()) FUZZ_CHECK(printer.back() != '\r' && printer.back() != ' ');
  }
}

// The migration replaces the first line that names the information file
// and copies every other line (a text without NUL bytes, lines under 255
// bytes, so that lines and the reader's pieces are the same).
void checkMigration(std::string_view text) {
  std::string migrated = migratedInfoText(text);
  constexpr std::string_view kHeader = "# Mivo 3.0 Information File\n";
  FUZZ_CHECK(migrated.size() <= text.size() + kHeader.size());
  if (text.find('\0') != std::string_view::npos) return;
  std::vector<std::string_view> lines = fuzz::wholeLines(text);
  if (std::any_of(lines.begin(), lines.end(), [](std::string_view l) { return l.size() > 255; })) return;
  auto header = std::find_if(lines.begin(), lines.end(),
                             [](std::string_view l) { return l.find("Information File") != std::string_view::npos; });
  if (header == lines.end()) {
    FUZZ_CHECK(migrated == text);
    return;
  }
  std::string expected;
  for (auto line = lines.begin(); line != lines.end(); ++line) expected += line == header ? kHeader : *line;
  FUZZ_CHECK(migrated == expected);
  if (header->find("USRDIR") == std::string_view::npos) FUZZ_CHECK(usrDirValue(migrated) == usrDirValue(text));
}

bool holdsMarker(std::string_view text) { return text.find(kMarkerStem) != std::string_view::npos; }

// A printer name the file keeps as it is: one line piece, no NUL byte, no
// marker, and nothing at its end that the reader takes for the line end.
bool isPlainPrinter(std::string_view name) {
  return name.size() < 255 && name.find('\0') == std::string_view::npos && !holdsMarker(name) &&
         (name.empty() || (name.back() != '\r' && name.back() != ' '));
}

// The first line of the input stands for the installation directory, every
// other line for a printer.
void checkRoundTrip(std::string_view text) {
  std::vector<std::string_view> lines = fuzz::wholeLines(text);
  std::string dir = lines.empty() ? std::string() : std::string(lines.front());
  if (!dir.empty() && dir.back() == '\n') dir.pop_back();
  std::vector<std::string> printers;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string_view name = lines[i];
    if (name.ends_with('\n')) name.remove_suffix(1);
    printers.emplace_back(name);
  }
  std::string info = infoFileText(dir, printers);
  checkUsrDir(info);
  checkPrinters(info);
  if (!holdsMarker(dir) && std::all_of(printers.begin(), printers.end(), isPlainPrinter))
    FUZZ_CHECK(printersBlock(info) == printers);
  // The value runs to the first blank or line end, within one 255-byte piece.
  bool plainDir = !dir.empty() && dir.size() <= 239 && isValueStart(dir.front()) &&
                  dir.find_first_of(std::string_view(" \r\n\0", 4)) == std::string::npos;
  if (plainDir) FUZZ_CHECK(usrDirValue(info) == dir);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = fuzz::asText(data, size);
  checkUsrDir(text);
  checkPrinters(text);
  checkMigration(text);
  checkRoundTrip(text);
  return 0;
}
