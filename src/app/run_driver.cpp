#include "app/run_driver.h"

#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "app/command_line.h"
#include "app/run_end.h"
#include "discovery/command_locator.h"
#include "discovery/cups_version.h"
#include "discovery/print_system.h"
#include "discovery/selinux.h"
#include "install/fs_helpers.h"
#include "install/info_file.h"
#include "install/install_dir.h"
#include "install/install_engine.h"
#include "install/install_manifest.h"
#include "ppd/model_dir_links.h"
#include "ppd/ppd_directories.h"
#include "queues/cups_restart.h"
#include "queues/queue_inventory.h"
#include "queues/queue_rollback.h"
#include "queues/queue_update.h"
#include "removal/uninstall.h"
#include "services/console_questions.h"
#include "services/effects.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "services/terminal.h"

namespace {

// What the driver hands to the units for one run.
struct RunState {
  QueueList queueList;
  InstallTable installTable;
  std::vector<ModelLink> modelLinks;
  InstallDirPlan ppdPlan{"", InstallDirAction::NameOnly};
  PpdCandidates candidates;
  std::string foundDir;  // the installation an information file names
  int foundKind = -1;
  int found = 0;
};

std::string currentTime() {
  std::time_t now = std::time(nullptr);
  return std::ctime(&now);
}

// Stops the run: the cause on the terminal and, where there is one, in the
// log; the report carries it too.
[[noreturn]] void stopRun(RunOutcome how, const std::string& cause) {
  if (runSettings().logOpened) logIfAny(cause);
  writeStderr(cause);
  if (how == RunOutcome::Refused) {
    runReport().markRefused(cause);
  } else {
    runReport().markAborted(cause);
  }
  endRun();
}

std::string workingDirectory() {
  std::array<char, PATH_MAX> cwd{};
  return ::getcwd(cwd.data(), cwd.size()) ? cwd.data() : "/";
}

void resolveStartCommands() {
  RunSettings& s = runSettings();
  s.selinuxEnabled = findCommand("selinuxenabled").value_or("");
  s.commands.chcon = findCommand("chcon").value_or("");
  s.uid = static_cast<int>(getuid());
  s.gid = static_cast<int>(getgid());
  s.seLinuxMode = !s.selinuxEnabled.empty() && runShell(shellQuote(s.selinuxEnabled)) == 0;
}

void resolveSharedCommands() {
  CommandTable& c = runSettings().commands;
  c.cp = commandOrName("cp");
  c.rm = commandOrName("rm");
  c.gzip = commandOrName("gzip");
  c.lpadmin = commandOrName("lpadmin");
  c.lpstat = commandOrName("lpstat");
}

void checkSourceDir() {
  const RunSettings& s = runSettings();
  if (s.allowAnyDir != 0 || s.uninstallRequested != 0) return;
  if (s.sourceDir.compare(0, 8, kProductDir) == 0) return;
  std::string text = formatMessage(msg::kNotFromProductDir);
  logIfAny(text);
  writeStderr(text + "\n");
  runReport().markRefused(formatMessage(msg::kCauseNotFromProductDir));
  endRun();
}

void logSelinuxState() {
  const RunSettings& s = runSettings();
  logMsg(msg::kSelinuxRunning, messageText(s.seLinuxMode ? msg::kYes : msg::kNo));
  if (s.seLinuxMode) logMsg(msg::kPolicyModuleInstalled);
}

void checkRoot() {
  const RunSettings& s = runSettings();
  if (s.uid == 0) return;
  if (s.debugLevel > 0) writeStderr("Must be root.\nExiting.\n");
  logIfAny(formatText("%s\n", messageText(msg::kMustBeRoot)));
  // Without a log the message above went to the terminal already.
  if (s.logOpened) writeStderr(formatMessage(msg::kCauseNotRoot));
  runReport().markRefused(std::string(withoutLineEnd(formatMessage(msg::kCauseNotRoot))));
  endRun();
}

std::string installDirRefusal(const InstallDirVerdict& verdict, const std::string& given) {
  switch (verdict.refusal) {
    case InstallDirRefusal::None: return {};
    case InstallDirRefusal::Empty: return formatMessage(msg::kCauseInstallDirEmpty);
    case InstallDirRefusal::System: return formatMessage(msg::kCauseInstallDirSystem, given, verdict.dir);
    case InstallDirRefusal::NotRootOnly: return formatMessage(msg::kCauseInstallDirNotRoot, given, verdict.dir);
    case InstallDirRefusal::NotADirectory: return formatMessage(msg::kCauseInstallDirNotDir, given, verdict.dir);
    case InstallDirRefusal::NotTheProducts: return formatMessage(msg::kCauseInstallDirForeign, given, verdict.dir);
  }
  return {};
}

// An installation directory is the product's or new; anything else is
// refused before anything is made or removed. The canonical directory.
std::string requireUsableInstallDir(const std::string& dir, const std::string& base) {
  const RunSettings& s = runSettings();
  InstallDirVerdict verdict = checkInstallDir(dir, base, s.sourceDir, productRecord().installDir);
  std::string cause = installDirRefusal(verdict, dir);
  if (!cause.empty()) stopRun(RunOutcome::Refused, cause);
  return verdict.dir;
}

void settleInstallDir(RunState& run) {
  RunSettings& s = runSettings();
  s.installDir = requireUsableInstallDir(s.installDir, s.startDir);
  run.found = findExistingInstall(run.foundDir, run.foundKind);
  // An installation found on the host names its own directory: refused before
  // the run makes anything at all, the PPD directory included.
  if (!s.uninstallRequested && run.found == 1 && !run.foundDir.empty())
    run.foundDir = requireUsableInstallDir(run.foundDir, "/");
}

std::string printerManagerName(int kind) {
  switch (kind) {
    case kPrinterLp: return "LP";
    case kPrinterLpr: return "LPR";
    case kPrinterLprng: return "LPRNG";
    case kPrinterCups: return "CUPS";
    default: return messageText(msg::kUnknown);
  }
}

void detectPrintSystem() {
  RunSettings& s = runSettings();
  if (s.debugLevel > 0) writeStderr("Root mode: getting printer manager.\n");
  showProgress(formatMessage(msg::kPhaseDiscovery));
  // What an interrupted run left in /tmp goes before this run makes its own.
  removeStaleScratchFiles();
  s.printerManager = printerManagerFromEnvironment();
  if (s.printerManager == 0) s.printerManager = detectPrinterManager();
  logIfAny(std::string(messageText(msg::kPrintSystemIs)) + printerManagerName(s.printerManager) + "\n");
  s.noCupsDaemon = s.printerManager != kPrinterCups;
  s.abortRequested = s.noCupsDaemon || s.noFoomatic;
  if (s.abortRequested) abortBanner();
  if (s.printerManager == kPrinterCups) {
    logMsg(msg::kCupsBaseDir, s.cupsBaseDir);
    logMsg(msg::kCupsBinDir, s.cupsBinDir);
    s.cupsVersion = probeCupsVersion();
  }
}

void gatherCupsFacts() {
  RunSettings& s = runSettings();
  if (s.debugLevel > 0) writeStderr("Getting full system info.\n");
  if (s.printerManager != kPrinterCups) return;
  s.commands.cupsDataDir = queryCupsDir("datadir").value_or("");
  s.commands.lpadmin = findCupsCommand("lpadmin");
  s.commands.lpstat = findCupsCommand("lpstat");
  logMsg(msg::kLpadminPath, s.commands.lpadmin);
  logMsg(msg::kLpstatPath, s.commands.lpstat);
}

// The PPD directories and the one that will receive the product's PPD
// files; nothing is made before the run goes on to install.
void settlePpdDirectories(RunState& run) {
  RunSettings& s = runSettings();
  s.ppdLocationFlags = findPpdDirectories(s.existingPpdDir);
  run.ppdPlan = {s.ppdInstallDir, InstallDirAction::NameOnly};
  if (s.cupsModelDir.empty()) return;
  scanModelDirLinks(run.modelLinks);
  if (!s.cupsModelDir.empty()) run.ppdPlan = choosePpdInstallDir(s.existingPpdDir, run.modelLinks);
}

// Logs a closing text and shows it on the terminal.
void tellAndLog(const std::string& text) {
  writeStderr(text + "\n");
  logIfAny(text);
}

[[noreturn]] void removalBranch(RunState& run) {
  RunSettings& s = runSettings();
  s.existingInstall = run.found;
  s.existingInstallDir = run.foundDir;
  if (s.existingInstall != 1) {
    writeStderr(messageText(msg::kNoInstallationFound));
    logMsg(msg::kNoInstallationFound);
    writeStderr(messageText(msg::kSorry));
    logMsg(msg::kSorry);
    runReport().markAborted(formatMessage(msg::kCauseNoInstallation));
    endRun();
  }
  if (askYesNo(messageText(msg::kAskRemoval)) != kAnswerYes) {
    tellAndLog(formatMessage(msg::kAbandonedByUser));
    runReport().markAborted(formatMessage(msg::kCauseNotConfirmed));
    endRun();
  }
  readInfoPrinters(run.foundKind, run.queueList);
  logMsg(msg::kInfoPrinterCount, s.infoPrinterCount);
  int removed = removeQueues(run.queueList);
  removed += removeInstalledFiles();
  reportQueuesLeft(run.queueList);
  if (removed > 0) {
    tellAndLog(formatMessage(msg::kRemovalDone));
  } else {
    // Saying the product was removed when nothing was would mislead.
    std::string text = formatMessage(msg::kCauseNothingRemoved, s.installDir);
    tellAndLog(text);
    runReport().markAborted(text);
  }
  endRun();
}

void adoptExistingInstall(RunState& run) {
  RunSettings& s = runSettings();
  s.existingInstall = run.found;
  s.existingInstallDir = run.foundDir;
  if (s.existingInstall != 1) {
    logMsg(msg::kNewInstallation);
    return;
  }
  logMsg(msg::kExistingInstallFound, s.existingInstallDir);
  if (ensureDirectory(s.existingInstallDir, 0, 0755) == -1) {
    logMsg(msg::kInstallDirMissing, s.existingInstallDir);
    return;
  }
  s.installDir = s.existingInstallDir;
  s.updateKind = run.foundKind == 1 || run.foundKind == 2 ? static_cast<UpdateKind>(run.foundKind)
                                                           : UpdateKind::NewInstall;
  logMsg(msg::kUpdateMode, run.foundKind);
  logMsg(msg::kInstallDirPresent, s.existingInstallDir);
  seedRecordFromInstallation();
  readInfoPrinters(run.foundKind, run.queueList);
  logMsg(msg::kInfoPrinterCount, s.infoPrinterCount);
  run.queueList = QueueList{};
}

void confirmInstall() {
  const RunSettings& s = runSettings();
  if (s.queryMode == 0 || s.dryRun) return;
  Message<> question = s.updateKind == UpdateKind::FromOlder ? msg::kAskUpdateFromOlder
                       : s.updateKind == UpdateKind::Current ? msg::kAskUpdate
                                                             : msg::kAskInstall;
  if (askYesNo(messageText(question)) == kAnswerYes) return;
  tellAndLog(formatMessage(msg::kAbandonedByUser));
  runReport().markAborted(formatMessage(msg::kCauseNotConfirmed));
  endRun();
}

// Why the host cannot take the product, in words for the terminal.
std::string hostCause() {
  const RunSettings& s = runSettings();
  if (s.noCupsDaemon) return formatMessage(msg::kCauseNoScheduler);
  return formatMessage(msg::kCauseNoFoomatic);
}

void readManifest(RunState& run) {
  RunSettings& s = runSettings();
  s.manifestCount = getInfoData(run.installTable);
  std::string cause;
  if (s.manifestCount <= 0) {
    s.abortRequested = 1;
    logMsg(msg::kManifestMissing, s.sourceDir, s.manifestName);
    s.manifestCount = 0;
    cause = formatMessage(msg::kCauseNoTree, s.sourceDir, s.manifestName);
  }
  if (!s.abortRequested) return;
  logMsg(msg::kInstallationStopped);
  if (cause.empty()) cause = hostCause();
  writeStderr(cause);
  runReport().markAborted(cause);
  endRun();
}

[[noreturn]] void installBranch(RunState& run) {
  RunSettings& s = runSettings();
  adoptExistingInstall(run);
  if (!s.dryRun) runReport().setKind(s.updateKind == UpdateKind::NewInstall ? RunKind::Install : RunKind::Update);
  if (!s.installDir.empty() && s.installDir.back() == '/') s.installDir.pop_back();
  readManifest(run);
  confirmInstall();
  showProgress(formatMessage(msg::kPhaseInstall));
  settlePpdInstallDir(run.ppdPlan);
  if (!goInstall(run.installTable, s.manifestCount)) endRun();
  showProgress(formatMessage(msg::kPhaseQueues));
  int count = 0;
  scanQueuePpds(run.queueList, count, run.candidates);
  if (count > 0) updateQueues(s.ppdInstallDir, run.queueList, count, s.queryMode, run.candidates);
  clearProgress();
  // Once more for what changed since the queue update's restart; when nothing
  // changed at all, the update has said so already.
  if (count == 0 || hostChanged()) restartCupsIfChanged();
  endRun();
}

[[noreturn]] void rollbackBranch() {
  const RunSettings& s = runSettings();
  if (s.printerManager != kPrinterCups) {
    std::string cause = formatMessage(msg::kRollbackOnlyCups);
    stopRun(RunOutcome::Aborted, cause + "\n");
  }
  rollbackQueues(s.queryMode);
  restartCupsIfChanged();
  endRun();
}

// A removal has no dry run and no rollback: asked together, nothing is done.
void refuseConflictingOptions() {
  const RunSettings& s = runSettings();
  if (!s.uninstallRequested || (!s.dryRun && !s.rollback)) return;
  std::string cause = formatMessage(msg::kCauseConflict);
  writeStderr(cause);
  runReport().markRefused(std::string(withoutLineEnd(cause)));
  endRun();
}

RunKind runKind(const RunSettings& s) {
  if (s.dryRun) return RunKind::DryRun;
  if (s.uninstallRequested) return RunKind::Removal;
  if (s.rollback) return RunKind::Rollback;
  return RunKind::Install;
}

// A wrong command line changes nothing: not even the log is replaced.
void judgeCommandLine(const std::vector<std::string>& args) {
  CommandLineCheck check = checkCommandLine(args);
  switch (check.ask) {
    case CommandLineAsk::Run: return;
    case CommandLineAsk::Help: writeStdout(usageText()); std::exit(0);
    case CommandLineAsk::Version: writeStdout(versionText()); std::exit(0);
    case CommandLineAsk::Error:
      writeStderr(check.error + usageText());
      std::exit(2);
  }
}

void startRun(const std::vector<std::string>& args) {
  resetRunSettings();
  resetProductRecord();
  readTerminalCharset();
  judgeCommandLine(args);
  RunSettings& s = runSettings();
  s.startDir = workingDirectory();
  resolveStartCommands();
  firstOptionPass(args);
  // A dry run plans every change instead of making it.
  startEffects(s.dryRun);
  runReport().start(runKind(s));
  refuseConflictingOptions();
}

void openTheLog(const char* startPath) {
  RunSettings& s = runSettings();
  if (s.uninstallRequested == 0 && s.seLinuxMode != 0 && !s.rollback) {
    writeStderr(".......\n");
    installSelinuxModule();
  }
  s.logFileName = s.places.logPath;
  s.logOpened = openLog(s.uid);
  resolveSharedCommands();
  logIfAny(formatMessage(msg::kStartLine, currentTime()));
  std::string start = startPath ? startPath : "";
  if (start.size() > kPathMax) {
    std::string cause = formatMessage(msg::kCauseTooLong, formatMessage(msg::kWhatStartPath), static_cast<int>(kPathMax));
    stopRun(RunOutcome::Refused, cause);
  }
  if (!start.empty()) findSourceDir(start);
}

}  // namespace

void findSourceDir(const std::string& startPath) {
  RunSettings& s = runSettings();
  s.sourceDir = startPath;
  if (startPath.front() == '/') {
    size_t lastSlash = startPath.rfind('/');
    if (lastSlash != 0) s.sourceDir.resize(lastSlash);
  } else {
    std::array<char, kPathMax + 1> cwd{};
    if (getcwd(cwd.data(), cwd.size())) s.sourceDir = cwd.data();
  }
  s.sourceDir = foldProductBinDir(s.sourceDir);
  logMsg(msg::kSourceDir, s.sourceDir);
}

void abortBanner() {
  const RunSettings& s = runSettings();
  logMsg(msg::kAbandonedBecause);
  if (s.noCupsDaemon) logMsg(msg::kNoCupsDaemon);
  if (s.noFoomatic) logMsg(msg::kNoFoomaticRip);
  logMsg(msg::kSorry);
}

void runSetup(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  startRun(args);
  RunSettings& s = runSettings();
  openTheLog(argc > 0 ? argv[0] : nullptr);
  checkSourceDir();
  s.installDir = kProductDir;
  s.manifestName = kManifestName;
  logSelinuxState();
  s.noFoomatic = hasFoomaticRip() == 0;
  std::string tooLong = secondOptionPass(args);
  if (!tooLong.empty()) stopRun(RunOutcome::Refused, tooLong);
  checkRoot();
  loadProductRecord();
  RunState run;
  settleInstallDir(run);
  detectPrintSystem();
  gatherCupsFacts();
  settlePpdDirectories(run);
  if (s.uninstallRequested == 1) removalBranch(run);
  if (s.rollback) rollbackBranch();
  installBranch(run);
}
