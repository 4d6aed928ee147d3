#include "discovery/selinux.h"

#include "discovery/command_locator.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "sys/paths.h"
#include "sys/trusted_paths.h"

namespace {

constexpr const char* kPolicyModule = "/opt/orv/etc/mivo.pp";

// Resolved once; kept for the rest of the run.
const std::optional<std::string>& semodulePath() {
  static const std::optional<std::string> path = findCommand("semodule");
  return path;
}

}  // namespace

int installSelinuxModule() {
  const std::optional<std::string>& semodule = semodulePath();
  if (!semodule) return 0;
  if (!pathExists(kPolicyModule)) {
    writeStderr(messageText(msg::kNoPolicyModule));
    return 0;
  }
  // A policy that someone other than root could have put there is not loaded.
  if (!isTrustedProgram(kPolicyModule)) {
    writeStderr(formatText("setup: %s may be written by others than root; not loaded.\n", kPolicyModule));
    return 0;
  }
  return runShell(formatText("%s -i %s", shellQuote(*semodule).c_str(), kPolicyModule));
}

int runChcon(const std::string& path, const std::string& arguments) {
  const std::string& chcon = runSettings().commands.chcon;
  if (chcon.empty() || chcon.front() != '/') return -1;
  std::string command =
      formatText("%s %s %s 2>/dev/null", shellQuote(chcon).c_str(), arguments.c_str(), shellQuote(path).c_str());
  int status = runShell(command);
  logMsg(msg::kChconResult, command, status);
  return status;
}
