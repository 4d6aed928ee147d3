// Commands run through /bin/sh, and the quoting of their arguments. Every
// command of the program goes through the current CommandRunner, so tests can
// put a recording runner in its place and see each command line.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // Runs the command text and returns the raw wait status (a normal exit with
  // code n gives n * 256; -1 when no shell ran). A positive limit bounds the
  // run: past it the command and everything it started are killed.
  virtual int run(const std::string& command, std::chrono::seconds limit) = 0;
};

// The runner of the real system shell.
CommandRunner& systemShell();
// Puts a runner in place for the rest of the process; returns the previous one.
CommandRunner& useCommandRunner(CommandRunner& runner);

// Runs one command text through the current runner, without a time limit.
int runShell(const std::string& command);
// The same, killed with all it started when it runs longer than limit.
int runShellBounded(const std::string& command, std::chrono::seconds limit);

// The argument as it stands when it holds only safe characters; otherwise
// single-quoted, so that the shell takes it as one plain word.
std::string shellQuote(std::string_view argument);
