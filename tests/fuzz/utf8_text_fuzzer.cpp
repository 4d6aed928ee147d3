// The run report's text conversion: whatever the bytes, valid UTF-8 comes out.
#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "run/run_report.h"

namespace {

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length;
    uint32_t code;
    if (lead < 0x80) {
      length = 1, code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes = fuzz::asText(data, size);
  std::string text = utf8Text(bytes);
  FUZZ_CHECK(isValidUtf8(text));
  if (isValidUtf8(bytes)) {
    FUZZ_CHECK(text == bytes);
  } else {
    // Read as ISO-8859-1: each byte above 0x7F takes two.
    size_t high = static_cast<size_t>(std::count_if(bytes.begin(), bytes.end(), [](char c) { return c & 0x80; }));
    FUZZ_CHECK(text.size() == bytes.size() + high);
  }
  // The JSON writer takes it as it is: it throws on anything that is not UTF-8.
  std::string written = nlohmann::json(text).dump();
  FUZZ_CHECK(nlohmann::json::parse(written).get<std::string>() == text);
  return 0;
}
