// Carries captured option defaults into a new PPD: a line filter that
// rewrites the default lines inside the option blocks (*OpenUI ... *CloseUI,
// and *JCLOpenUI ... *JCLCloseUI).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "queues/option_capture.h"

// A parsed keyword keeps at most this many characters, a value at most this many.
constexpr size_t kDefaultKeywordMax = 78;
constexpr size_t kDefaultValueMax = 79;

// Copies in to out, read in pieces of at most 255 bytes, rewriting every
// default line inside an option block as "*Default<keyword>: <value>" with
// the captured value where there is one, ending as the line did (LF or
// CR LF); a line without a captured value whose value is more than one word
// stays as it is. A captured default stated again after its block (libcups
// keeps the last) is rewritten there too. Only lines that begin with a
// keyword count: a commented-out block is copied as it stands. The keywords
// written with a captured value go to written. Returns 0 when the input is
// exhausted.
int processNewPPD(std::string_view in, std::string& out, const OptionList& options, int optionCount,
                  std::vector<std::string>* written = nullptr);

// For a "*Default<keyword>: <value>" line: '*' and the keyword (up to the
// first NUL, line end cut), with the value's first token in value. Nothing for
// a *DefaultColorSep line, a line without "*Default" or one whose keyword has
// no end on the line.
std::optional<std::string> parseDefaultLine(std::string_view line, std::string& value);

// The first captured record for a keyword text that begins with '*'; the
// keyword is compared without regard to case, as libcups does.
const OptionRecord* findOption(const OptionList* list, std::string_view keywordText);
