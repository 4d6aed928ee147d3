#include "queues/cups_restart.h"

#include <algorithm>
#include <string>

#include "discovery/command_locator.h"
#include "services/effects.h"
#include "services/run_log.h"
#include "services/shell.h"
#include "sys/paths.h"

namespace {

constexpr int kNoCommand = -1;

// The resolved path of a program when it exists.
std::string existingCommand(const char* name) {
  auto path = findCommand(name);
  return path && pathExists(*path) ? *path : std::string();
}

// One fallback restart command, in order of preference; empty when none.
std::string fallbackRestartCommand() {
  std::string service = existingCommand("service");
  if (!service.empty()) return shellQuote(service) + " cups restart";
  if (pathExists("/etc/init.d/cups")) return "/etc/init.d/cups restart";
  if (pathExists("/etc/init.d/cupsys")) return "/etc/init.d/cupsys restart";
  return {};
}

// The restart commands in order until one succeeds; the status of the last one run.
int runRestartCommands() {
  std::string command;
  std::string systemctl = existingCommand("systemctl");
  if (!systemctl.empty()) {
    command = shellQuote(systemctl) + " restart cups.service";
    logMsg(msg::kRestartCommand, command);
  }
  int status = kNoCommand;
  if (!command.empty()) {
    status = effects().runCommand(command);
    logChange(formatMessage(msg::kRestartReturned, status));
    if (status == 0) return 0;
  } else {
    logMsg(msg::kRestartReturned, kNoCommand);
  }
  std::string fallback = fallbackRestartCommand();
  if (fallback.empty()) {
    logMsg(msg::kCannotRestartCups);
    logMsg(msg::kRestartReturned, status);
    return status;
  }
  status = effects().runCommand(fallback);
  logChange(formatMessage(msg::kRestartReturned, status));
  return status;
}

}  // namespace

int restartCups() {
  // Only a restart that happened has seen the changes before it.
  int status = runRestartCommands();
  if (status == 0) noteRestart();
  return status;
}

int restartCupsIfChanged() {
  if (hostChangedSinceRestart()) return restartCups();
  // A dry run's restart was only planned: its line says so.
  if (hostChanged()) {
    logChange(formatMessage(msg::kAlreadyRestarted));
  } else {
    logMsg(msg::kNothingChanged);
  }
  return 0;
}
