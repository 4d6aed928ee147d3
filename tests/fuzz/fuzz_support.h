// What every fuzz target shares: the input as text, line pieces as the
// program's readers see them, and a check that stops the run when a property
// does not hold (libFuzzer then keeps the input as a crash).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline std::string_view asText(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }

// The program logs to standard error while no run log is open. libFuzzer
// and the sanitizers keep writing to descriptor 2 (libFuzzer took its own
// copy of the stderr stream before this runs); only the program's stream
// goes to /dev/null, so a long run is not slowed by the log lines.
inline void quietProgramLog() {
  if (std::getenv("FUZZ_SHOW_LOG")) return;
  if (FILE* sink = std::fopen("/dev/null", "w")) stderr = sink;
}

// Stops with a report on descriptor 2 (whatever quietProgramLog did to
// stderr) when the property fails.
#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition)) {                                                             \
      ::dprintf(2, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// Whole lines, each with its line feed (the last may have none), any length.
inline std::vector<std::string_view> wholeLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t lineFeed = text.find('\n');
    size_t length = lineFeed == std::string_view::npos ? text.size() : lineFeed + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

// Whether part is a view into whole that runs to its end.
inline bool endsWithin(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() == whole.data() + whole.size();
}

}  // namespace fuzz
