// Carries captured option defaults into a new PPD: a line filter that rewrites
// the default lines inside the option blocks (*OpenUI ... *CloseUI).
#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "queues/option_capture.h"

// A parsed keyword keeps at most this many characters, a value at most this many.
constexpr size_t kDefaultKeywordMax = 78;
constexpr size_t kDefaultValueMax = 79;

// Copies in to out, rewriting every default line inside an option block as
// "*Default<keyword>: <value>\n" with the captured value where there is one.
// Returns 0 when the input is exhausted.
int processNewPPD(std::istream& in, std::ostream& out, const OptionList& options, int optionCount);

// For a "*Default<keyword>: <value>" line: '*' and the keyword, with the
// value's first token in value. Nothing for a *DefaultColorSep line, a line
// without "*Default" or one whose keyword has no end on the line.
std::optional<std::string> parseDefaultLine(std::string_view line, std::string& value);

// The first captured record for a keyword text that begins with '*'.
const OptionRecord* findOption(const OptionList* list, std::string_view keywordText);
