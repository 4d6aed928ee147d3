// The one way a run ends: log closed, report written, process ended.
#pragma once

#include <string>

// The exit status: 0 unless the strict status was asked for, then 0 ok,
// 1 partial, 2 aborted or refused.
int exitStatusFor(const std::string& outcome, bool strict);

// Closes the log when it is open, writes the run report and ends the process.
[[noreturn]] void endRun();
