#include "services/shell.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <thread>
#include <utility>

namespace {

bool isSafeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
         c == '_' || c == '-' || c == '+' || c == ',' || c == ':' || c == '@' || c == '%' || c == '=';
}

// A wait that gives up at the deadline; the raw status, or nothing.
std::optional<int> waitUntil(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  for (auto pause = std::chrono::milliseconds(1);; pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
    int status = 0;
    pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) return status;
    if (got < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(pause);
  }
}

int waitForever(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

class SystemShell : public CommandRunner {
 public:
  int run(const std::string& command, std::chrono::seconds limit) override {
    // Whatever we buffered must reach the terminal before the child writes.
    std::fflush(nullptr);
    bool bounded = limit.count() > 0;
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
      // A bounded command gets a process group of its own, so that all it
      // started can be ended together.
      if (bounded) ::setpgid(0, 0);
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (!bounded) return waitForever(pid);
    ::setpgid(pid, pid);  // the child does it too; whichever comes first
    if (std::optional<int> status = waitUntil(pid, std::chrono::steady_clock::now() + limit)) return *status;
    ::kill(-pid, SIGKILL);
    return waitForever(pid);
  }
};

CommandRunner* gRunner = &systemShell();

}  // namespace

CommandRunner& systemShell() {
  static SystemShell shell;
  return shell;
}

CommandRunner& useCommandRunner(CommandRunner& runner) { return *std::exchange(gRunner, &runner); }

int runShell(const std::string& command) { return gRunner->run(command, std::chrono::seconds(0)); }

int runShellBounded(const std::string& command, std::chrono::seconds limit) { return gRunner->run(command, limit); }

std::string shellQuote(std::string_view argument) {
  bool safe = !argument.empty();
  for (char c : argument) safe = safe && isSafeChar(c);
  if (safe) return std::string(argument);
  std::string quoted = "'";
  for (char c : argument) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}
