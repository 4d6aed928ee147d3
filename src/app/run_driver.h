// One run of setup, from its command line to its exit.
#pragma once

#include <string>
#include <vector>

// The whole run. Every way out ends the process with status 0, unless the
// strict status (-x 1) was asked for.
[[noreturn]] void runSetup(int argc, char** argv);

// The two passes over the command line: -d -f -S -h (and -n -r -x), then
// -D -Z -i -q -u (-m and -w accepted). Each pass reads every argument, as
// given: neither sees what the other's parser did to the list.
void firstOptionPass(const std::vector<std::string>& args);
// The options of a command line as the option parser yields them, in order:
// the letter ('?' for an unknown option or a missing argument) and its
// argument. complain: the parser's own message on standard error.
struct OptionWord {
  int letter;
  std::string argument;
  friend bool operator==(const OptionWord&, const OptionWord&) = default;
};
std::vector<OptionWord> optionWords(const std::vector<std::string>& args, bool complain);
void secondOptionPass(const std::vector<std::string>& args);

// Fills sourceDir from the start path (argv[0]) and logs it.
void findSourceDir(const std::string& startPath);
// Writes the usage text to standard error and ends the process with status 0.
[[noreturn]] void printUsage();
// Logs why the run cannot install.
void abortBanner();

// The program version shown in the usage text and archive names.
constexpr const char* kProgramVersion = "4.0-11";
