// Commands run through /bin/sh, and the quoting of their arguments.
#pragma once

#include <string>
#include <string_view>

// Runs one command text through the system shell and returns the raw wait
// status (a normal exit with code n gives n * 256; -1 when no shell ran).
int runShell(const std::string& command);

// The argument as it stands when it holds only safe characters; otherwise
// single-quoted, so that the shell takes it as one plain word.
std::string shellQuote(std::string_view argument);
