// One run of setup, from its command line to its exit: the order of a run,
// and the one place the process ends.
#pragma once

#include <string>

// The whole run. Every way out ends the process with status 0, unless the
// strict status (-x 1) was asked for or the command line was wrong (2).
[[noreturn]] void runSetup(int argc, char** argv);

// Fills sourceDir from the start path (argv[0]) and logs it.
void findSourceDir(const std::string& startPath);
// Logs why the run cannot install.
void abortBanner();
