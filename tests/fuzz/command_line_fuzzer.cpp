// The command line as the option parser reads it: the input split on NUL
// bytes into the words after the program name.
#include "fuzz_support.h"
#include "run/run_driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietProgramLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = fuzz::asText(data, size);
  std::vector<std::string> args = {"setup"};
  size_t letters = 0;
  for (size_t start = 0; start <= text.size();) {
    size_t nul = std::min(text.find('\0', start), text.size());
    args.emplace_back(text.substr(start, nul - start));
    letters += nul - start;
    start = nul + 1;
  }
  const std::vector<std::string> given = args;
  std::vector<OptionWord> words = optionWords(args, false);
  FUZZ_CHECK(args == given);
  // Each option takes at least one letter of the words.
  FUZZ_CHECK(words.size() <= letters);
  for (const OptionWord& word : words) {
    FUZZ_CHECK(word.letter == '?' || (word.letter > ' ' && word.letter < 0x7F));
    if (word.letter == '?') continue;
    FUZZ_CHECK(std::any_of(args.begin() + 1, args.end(), [&](const std::string& arg) {
      return arg.find(static_cast<char>(word.letter)) != std::string::npos;
    }));
  }
  // Every pass reads the same list: the parser's state never carries over.
  FUZZ_CHECK(optionWords(args, false) == words);
  return 0;
}
