// The version texts of a CUPS host: the scheduler's "Server:" header and
// the lines of the local files that tell the version.
#include <climits>
#include <cstring>

#include "discovery/cups_version.h"
#include "fuzz_support.h"

namespace {

constexpr int kRawVersionCap = 999999999;

void checkNormalized(long raw) {
  if (raw <= 0) return;
  int version = normalizeCupsVersion(static_cast<int>(std::min<long>(raw, kRawVersionCap)));
  FUZZ_CHECK(version >= 1000 && version <= 9999);
}

void checkDigits(std::optional<std::string_view> digits, std::string_view line) {
  if (!digits) return;
  FUZZ_CHECK(fuzz::endsWithin(*digits, line));
  long raw = digitTextValue(*digits);
  FUZZ_CHECK(raw >= 0);
  checkNormalized(raw);
}

void checkLine(std::string_view line) {
  if (std::optional<int> raw = serverHeaderVersion(line)) {
    FUZZ_CHECK(line.find("Server:") != std::string_view::npos && line.find("CUPS") != std::string_view::npos);
    FUZZ_CHECK(*raw >= 0 && *raw <= kRawVersionCap);
    checkNormalized(*raw);
  }
  checkDigits(printersConfDigits(line), line);
  checkDigits(indexTitleDigits(line), line);
  checkDigits(testPagePsDigits(line), line);
  checkDigits(testPageTextDigits(line), line);
  long raw = digitTextValue(line);
  FUZZ_CHECK(raw >= 0);
  if (line.empty() || (line.front() != '.' && (line.front() < '0' || line.front() > '9'))) FUZZ_CHECK(raw == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = fuzz::asText(data, size);
  for (std::string_view piece : fuzz::readerPieces(text)) checkLine(piece);
  checkLine(text);
  // Every int, as the header's value: never out of the four-digit range.
  if (size >= sizeof(int)) {
    int value;
    std::memcpy(&value, data, sizeof value);
    if (value > 0) FUZZ_CHECK(normalizeCupsVersion(value) >= 1000 && normalizeCupsVersion(value) <= 9999);
  }
  return 0;
}
