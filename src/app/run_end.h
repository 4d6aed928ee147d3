// The one way a run ends: report, history and record written, log closed,
// the closing line shown, process ended.
#pragma once

#include <string>

#include "services/run_report.h"

// The exit status: 0 unless the strict status was asked for, then 0 ok,
// 1 partial, 2 aborted or refused.
int exitStatusFor(RunOutcome outcome, bool strict);
// The closing line of the terminal: what ran, its outcome and counts, where
// the log and the report are (empty: none written).
std::string closingLine(const RunReport& report, const std::string& logPath, const std::string& reportPath);

// Ends the process in order.
[[noreturn]] void endRun();
