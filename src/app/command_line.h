// The command line: the product's options in two passes, and what a wrong
// command line gets before anything else happens.
#pragma once

#include <string>
#include <vector>

// The product's options, and -n (dry run), -r (rollback), -x (strict status).
inline constexpr const char* kOptionString = "df:hi:m:nq:ru:w:x:S:D:Z:";

// What the whole command line asks for, judged before anything runs: any
// option the program does not know, a missing argument or a stray word is
// an error (with its line), since each letter of a mistyped long option
// would otherwise be taken for an option of its own.
enum class CommandLineAsk { Run, Help, Version, Error };
struct CommandLineCheck {
  CommandLineAsk ask = CommandLineAsk::Run;
  std::string error;
};
CommandLineCheck checkCommandLine(const std::vector<std::string>& args);

// The options of a command line as the option parser yields them, in order:
// the letter and its argument.
struct OptionWord {
  int letter;
  std::string argument;
  friend bool operator==(const OptionWord&, const OptionWord&) = default;
};
std::vector<OptionWord> optionWords(const std::vector<std::string>& args);

// The two passes over the command line: -d -f -S -h (and -n -r -x), then
// -D -Z -i -q -u (-m and -w accepted). -h in either ends the process.
void firstOptionPass(const std::vector<std::string>& args);
// A path option that does not fit its buffer gives the refusal line; empty when all fit.
std::string secondOptionPass(const std::vector<std::string>& args);

// The usage text: the product's lines, then the options added since.
std::string usageText();
// The program and product version line.
std::string versionText();
// Leading-number reading: text that does not start with a number reads as 0.
int leadingNumber(const char* text);
