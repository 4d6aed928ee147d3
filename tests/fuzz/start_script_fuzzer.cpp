// What tells where CUPS lives: the prefix lines of its start script and
// the scheduler's line of the process list.
#include "discovery/print_system.h"
#include "fuzz_support.h"

namespace {

void checkValue(const std::string& value, std::string_view script, size_t keyLength) {
  FUZZ_CHECK(value.size() + keyLength <= 255);
  FUZZ_CHECK(value.find('\n') == std::string::npos);
  FUZZ_CHECK(script.find(value) != std::string_view::npos);
}

void checkStartScript(std::string_view script) {
  StartScriptPrefixes found = scanStartScript(script);
  if (found.hasExecPrefix) checkValue(found.execPrefix, script, 12);
  if (found.hasPrefix) checkValue(found.prefix, script, 7);
  if (script.find("exec_prefix=") == std::string_view::npos) FUZZ_CHECK(!found.hasExecPrefix);
  if (script.find("prefix=") == std::string_view::npos) FUZZ_CHECK(!found.hasPrefix && !found.hasExecPrefix);
  if (!found.hasExecPrefix) FUZZ_CHECK(found.execPrefix.empty());
  if (!found.hasPrefix) FUZZ_CHECK(found.prefix.empty());
}

// The prefix is what stands in front of the scheduler's program path.
void checkCupsdPrefix(std::string_view rest) {
  std::optional<std::string> prefix = cupsdPrefix(rest);
  if (!prefix) return;
  std::string_view path = rest.starts_with(' ') ? rest.substr(1) : rest;
  FUZZ_CHECK(path.starts_with(*prefix));
  std::string_view after = path.substr(prefix->size());
  FUZZ_CHECK(after.starts_with("/sbin/cupsd") || after.starts_with("/bin/cupsd"));
  if (!prefix->empty()) FUZZ_CHECK(prefix->front() == '/');
}

void checkWordOnwards(std::string_view line, std::string_view name) {
  std::string_view word = wordOnwards(line, name);
  size_t match = line.find(name);
  if (match == std::string_view::npos) {
    FUZZ_CHECK(word.empty());
    return;
  }
  FUZZ_CHECK(fuzz::endsWithin(word, line));
  // (A name that begins with a blank starts no word of its own.)
  if (!name.starts_with(' ')) FUZZ_CHECK(word.find(name) != std::string_view::npos);
  // It starts a word: at the line's start or after a blank.
  FUZZ_CHECK(word.data() == line.data() || word.data()[-1] == ' ');
  checkCupsdPrefix(word);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = fuzz::asText(data, size);
  checkStartScript(text);
  for (std::string_view line : fuzz::wholeLines(text)) {
    checkWordOnwards(line, "cupsd");
    checkCupsdPrefix(line);
  }
  // A name of the input's own: the text up to its first NUL byte, then the line.
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) checkWordOnwards(text.substr(nul + 1), text.substr(0, nul));
  return 0;
}
