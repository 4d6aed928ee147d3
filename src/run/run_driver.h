// One run of setup, from its command line to its exit.
#pragma once

#include <string>

// The whole run; every way out ends the process with status 0.
[[noreturn]] void runSetup(int argc, char** argv);

// The two passes over the command line: -d -f -S -h, then -D -Z -i -q -u
// (-m and -w accepted). Each pass reads every argument.
void firstOptionPass(int argc, char** argv);
void secondOptionPass(int argc, char** argv);

// Fills sourceDir from the start path (argv[0]) and logs it.
void findSourceDir(const std::string& startPath);
// Writes the usage text to standard error and ends the process with status 0.
[[noreturn]] void printUsage();
// Logs why the run cannot install.
void abortBanner();

// The program version shown in the usage text and archive names.
constexpr const char* kProgramVersion = "4.0-11";
