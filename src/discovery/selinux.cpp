#include "discovery/selinux.h"

#include "discovery/command_locator.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "services/effects.h"
#include "services/shell.h"
#include "services/terminal.h"
#include "sys/paths.h"
#include "sys/trusted_paths.h"

namespace {

// Resolved once; kept for the rest of the run.
const std::optional<std::string>& semodulePath() {
  static const std::optional<std::string> path = findCommand("semodule");
  return path;
}

}  // namespace

int installSelinuxModule() {
  const std::optional<std::string>& semodule = semodulePath();
  if (!semodule) return 0;
  std::string policyModule = productPath("etc/mivo.pp");
  if (!pathExists(policyModule)) {
    writeStderr(messageText(msg::kNoPolicyModule));
    return 0;
  }
  // A policy that someone other than root could have put there is not loaded.
  if (!isTrustedFile(policyModule)) {
    writeStderr(formatMessage(msg::kPolicyModuleNotTrusted, policyModule));
    return 0;
  }
  return effects().runCommand(shellQuote(*semodule) + " -i " + shellQuote(policyModule));
}

int runChcon(const std::string& path, const std::string& arguments) {
  const std::string& chcon = runSettings().commands.chcon;
  if (chcon.empty() || chcon.front() != '/') return -1;
  std::string command =
      formatText("%s %s %s 2>/dev/null", shellQuote(chcon).c_str(), arguments.c_str(), shellQuote(path).c_str());
  int status = effects().runCommand(command);
  logChange(formatMessage(msg::kChconResult, command, status));
  return status;
}
