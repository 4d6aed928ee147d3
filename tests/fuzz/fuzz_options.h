// Captured option defaults taken from the first line of a fuzz input:
// "Keyword=Value" words separated by blanks; the rest of the input is the PPD.
#pragma once

#include <string_view>

#include "queues/option_capture.h"

namespace fuzz {

struct OptionsAndPpd {
  OptionList options;
  std::string_view ppd;
};

inline OptionsAndPpd splitOptionsLine(std::string_view text) {
  OptionsAndPpd result;
  size_t lineFeed = text.find('\n');
  std::string_view line = text.substr(0, lineFeed);
  result.ppd = lineFeed == std::string_view::npos ? std::string_view() : text.substr(lineFeed + 1);
  while (!line.empty()) {
    size_t blank = line.find(' ');
    std::string_view word = line.substr(0, blank);
    line.remove_prefix(blank == std::string_view::npos ? line.size() : blank + 1);
    if (word.empty()) continue;
    size_t equals = word.find('=');
    std::string_view keyword = word.substr(0, equals);
    std::string_view value = equals == std::string_view::npos ? std::string_view() : word.substr(equals + 1);
    result.options.records.push_back({std::string(keyword), std::string(value)});
  }
  return result;
}

}  // namespace fuzz
