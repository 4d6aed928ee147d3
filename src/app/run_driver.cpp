#include "app/run_driver.h"

#include <getopt.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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
#include "app/run_end.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "services/shell.h"

namespace {

// The product's options, and -n (dry run), -r (rollback), -x (strict status).
constexpr const char* kOptionString = "df:hi:m:nq:ru:w:x:S:D:Z:";

// Leading-number reading: text that does not start with a number reads as 0.
int leadingNumber(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string currentTime() {
  std::time_t now = std::time(nullptr);
  return std::ctime(&now);
}

// A path option longer than a path may be is refused rather than cut.
void requireFittingPath(const char* what, const std::string& value) {
  if (value.size() <= kPathMax) return;
  std::string line = formatText("setup: %s is longer than %zu bytes; nothing done.\n", what, kPathMax);
  if (runSettings().logOpened) logMessage(line);
  writeStderr(line);
  runReport().markRefused(line.substr(0, line.size() - 1));
  endRun();
}

template <class Handler>
void parseOptions(const std::vector<std::string>& args, Handler handle) {
  for (const OptionWord& word : optionWords(args, true)) handle(word.letter, word.argument.c_str());
}

}  // namespace

std::vector<OptionWord> optionWords(const std::vector<std::string>& args, bool complain) {
  // getopt may reorder what it is given, so every call parses its own copy.
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& arg : copy) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<OptionWord> words;
  int savedOpterr = opterr;
  opterr = complain ? 1 : 0;
  optind = 0;  // full reset of the parser
  for (int opt; (opt = getopt(static_cast<int>(copy.size()), argv.data(), kOptionString)) != -1;)
    words.push_back({opt, optarg ? optarg : ""});
  optind = 0;
  opterr = savedOpterr;
  return words;
}

void firstOptionPass(const std::vector<std::string>& args) {
  RunSettings& s = runSettings();
  parseOptions(args, [&s](int opt, const char* optarg) {
    switch (opt) {
      case 'd': s.uninstallRequested = 1; break;
      case 'f': s.allowAnyDir = leadingNumber(optarg); break;
      case 'S': s.seLinuxMode = leadingNumber(optarg); break;
      case 'n': s.dryRun = true; break;
      case 'r': s.rollback = true; break;
      case 'x': s.strictStatus = leadingNumber(optarg) != 0; break;
      case 'h': printUsage();
      default: break;
    }
  });
}

void secondOptionPass(const std::vector<std::string>& args) {
  RunSettings& s = runSettings();
  parseOptions(args, [&s](int opt, const char* optarg) {
    switch (opt) {
      case 'D':
      case 'Z': s.debugLevel = leadingNumber(optarg); break;
      case 'i':
        requireFittingPath("the manifest name of -i", optarg);
        s.manifestName = optarg;
        break;
      case 'q': s.queryMode = std::max(0, leadingNumber(optarg)); break;
      case 'u':
        requireFittingPath("the installation directory of -u", optarg);
        s.installDir = optarg;
        break;
      case 'h': printUsage();
      default: break;  // -m and -w are accepted and change nothing
    }
  });
}

namespace {

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
  runReport().markRefused("not started from under /opt/orv (-f 0)");
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
  runReport().markRefused("not run as root");
  endRun();
}

// An installation directory that is the root or a system directory is
// refused before anything is installed or removed.
void requireUsableInstallDir(const std::string& dir, const std::string& base) {
  InstallDirVerdict verdict = checkInstallDir(dir, base);
  if (verdict.refusal.empty()) return;
  std::string line = "setup: " + verdict.refusal + "; refused, nothing installed or removed.\n";
  logMessage(line);
  writeStderr(line);
  runReport().markRefused(verdict.refusal);
  endRun();
}

void settleInstallDir() {
  RunSettings& s = runSettings();
  requireUsableInstallDir(s.installDir, s.startDir);
  s.installDir = checkInstallDir(s.installDir, s.startDir).dir;
  // An installation found on the host names its own directory: refused before
  // the run makes anything at all, the PPD directory included.
  std::string found;
  int kind = 0;
  if (!s.uninstallRequested && findExistingInstall(found, kind) == 1 && !found.empty())
    requireUsableInstallDir(found, "/");
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
  // What an interrupted run left in /tmp goes before this run makes its own.
  if (!s.dryRun) removeStaleScratchFiles();
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
  logIfAny(formatText("lpadmin = %s\n", s.commands.lpadmin.c_str()));
  logIfAny(formatText("lpstat  = %s\n", s.commands.lpstat.c_str()));
}

void settlePpdDirectories() {
  RunSettings& s = runSettings();
  s.ppdLocationFlags = findPpdDirectories(s.existingPpdDir);
  if (s.cupsModelDir.empty()) return;
  int rowCount = 0;
  scanModelDirLinks(rowCount);
  if (!s.cupsModelDir.empty()) choosePpdInstallDir(s.existingPpdDir, rowCount);
}

// Logs a closing text and shows it on the terminal.
void tellAndLog(const std::string& text) {
  writeStderr(text + "\n");
  logIfAny(text);
}

[[noreturn]] void removalBranch() {
  RunSettings& s = runSettings();
  int kind = 0;
  s.existingInstall = findExistingInstall(s.existingInstallDir, kind);
  if (s.existingInstall != 1) {
    writeStderr(messageText(msg::kNoInstallationFound));
    logMsg(msg::kNoInstallationFound);
    writeStderr(messageText(msg::kSorry));
    logMsg(msg::kSorry);
    runReport().markAborted("no installation found");
    endRun();
  }
  if (askYesNo(messageText(msg::kAskRemoval)) != kAnswerYes) {
    tellAndLog(formatMessage(msg::kAbandonedByUser));
    runReport().markAborted("the removal was not confirmed");
    endRun();
  }
  readInfoPrinters(kind, s.queueList);
  logMsg(msg::kInfoPrinterCount, s.infoPrinterCount);
  int removed = removeQueues();
  removed += removeInstalledFiles();
  if (removed > 0) {
    tellAndLog(formatMessage(msg::kRemovalDone));
  } else {
    // Saying the product was removed when nothing was would mislead.
    tellAndLog("Nothing of Mivo was found in '" + s.installDir + "'; nothing was removed.");
    runReport().markAborted("nothing of the product was found in " + s.installDir);
  }
  endRun();
}

// The directory named by an information file, canonical; refused like -u.
void adoptInstallDirOf(const std::string& found) {
  RunSettings& s = runSettings();
  requireUsableInstallDir(found, "/");
  s.existingInstallDir = checkInstallDir(found, "/").dir;
}

void adoptExistingInstall() {
  RunSettings& s = runSettings();
  int kind = 0;
  s.existingInstall = findExistingInstall(s.existingInstallDir, kind);
  if (s.existingInstall != 1) {
    logMsg(msg::kNewInstallation);
    return;
  }
  if (!s.existingInstallDir.empty()) adoptInstallDirOf(s.existingInstallDir);
  logMsg(msg::kExistingInstallFound, s.existingInstallDir);
  if (ensureDirectory(s.existingInstallDir, 0, 0755) == -1) {
    logMsg(msg::kInstallDirMissing, s.existingInstallDir);
    return;
  }
  s.installDir = s.existingInstallDir;
  s.updateKind = (kind == kUpdateFromOlder || kind == kUpdateCurrent) ? kind : kNewInstall;
  logMsg(msg::kUpdateMode, kind);
  logMsg(msg::kInstallDirPresent, s.existingInstallDir);
  readInfoPrinters(kind, s.queueList);
  logMsg(msg::kInfoPrinterCount, s.infoPrinterCount);
  clearQueueList(&s.queueList);
}

void confirmInstall() {
  const RunSettings& s = runSettings();
  if (s.queryMode == 0 || s.dryRun) return;
  Message<> question = s.updateKind == kUpdateFromOlder ? msg::kAskUpdateFromOlder
                       : s.updateKind == kUpdateCurrent ? msg::kAskUpdate
                                                        : msg::kAskInstall;
  if (askYesNo(messageText(question)) == kAnswerYes) return;
  tellAndLog(formatMessage(msg::kAbandonedByUser));
  runReport().markAborted("the installation was not confirmed");
  endRun();
}

void readManifest() {
  RunSettings& s = runSettings();
  s.manifestCount = getInfoData();
  if (s.manifestCount <= 0) {
    s.abortRequested = 1;
    logMsg(msg::kManifestMissing, s.sourceDir, s.manifestName);
    s.manifestCount = 0;
  }
  if (s.abortRequested) {
    logMsg(msg::kInstallationStopped);
    runReport().markAborted(s.manifestCount == 0 ? "install manifest missing or empty"
                                                 : "the host cannot take the product");
    endRun();
  }
}

[[noreturn]] void installBranch() {
  RunSettings& s = runSettings();
  adoptExistingInstall();
  if (!s.dryRun) runReport().setKind(s.updateKind == kNewInstall ? "install" : "update");
  if (!s.installDir.empty() && s.installDir.back() == '/') s.installDir.pop_back();
  readManifest();
  confirmInstall();
  if (s.dryRun) {
    planInstall(s.manifestCount);
  } else {
    goInstall(s.manifestCount);
  }
  int count = 0;
  scanQueuePpds(s.queueList, count);
  if (count > 0) updateQueues(s.ppdInstallDir, s.queueList, count, s.queryMode);
  if (!s.dryRun) restartCups();
  endRun();
}

[[noreturn]] void rollbackBranch() {
  const RunSettings& s = runSettings();
  if (s.printerManager != kPrinterCups) {
    logFailure("setup: queues are rolled back on a CUPS host only; nothing done.");
    runReport().markAborted("the print system is not CUPS");
    endRun();
  }
  if (rollbackQueues(s.queryMode) > 0 && !s.dryRun) restartCups();
  endRun();
}

// A removal has no dry run and no rollback: asked together, nothing is done.
void refuseConflictingOptions() {
  const RunSettings& s = runSettings();
  if (!s.uninstallRequested || (!s.dryRun && !s.rollback)) return;
  std::string line = "setup: -d cannot be combined with -n or -r; nothing done.\n";
  writeStderr(line);
  runReport().markRefused(line.substr(0, line.size() - 1));
  endRun();
}

const char* runKind(const RunSettings& s) {
  if (s.dryRun) return "dry-run";
  if (s.uninstallRequested) return "removal";
  if (s.rollback) return "rollback";
  return "install";
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

void printUsage() {
  writeStderr(formatMessage(msg::kUsageVersion, kProgramVersion));
  for (Message<> m :
       {msg::kUsageProduct, msg::kUsageWhatItDoes, msg::kUsageHeading, msg::kUsageCommand, msg::kUsageOptions})
    writeStderr(messageText(m));
  writeStderr(formatMessage(msg::kUsageRemove, kProgramVersion));
  for (Message<> m : {msg::kUsageAnyDir, msg::kUsageHelp, msg::kUsageQuery, msg::kUsageSelinux, msg::kUsageDebug})
    writeStderr(messageText(m));
  std::exit(0);
}

void abortBanner() {
  const RunSettings& s = runSettings();
  logMsg(msg::kAbandonedBecause);
  if (s.noCupsDaemon) logMsg(msg::kNoCupsDaemon);
  if (s.noFoomatic) logMsg(msg::kNoFoomaticRip);
  logMsg(msg::kSorry);
}

void runSetup(int argc, char** argv) {
  resetRunSettings();
  RunSettings& s = runSettings();
  const std::vector<std::string> args(argv, argv + argc);
  s.startDir = workingDirectory();
  resolveStartCommands();
  firstOptionPass(args);
  runReport().start(runKind(s));
  refuseConflictingOptions();
  if (s.uninstallRequested == 0 && s.seLinuxMode != 0 && !s.dryRun && !s.rollback) {
    writeStderr(".......\n");
    installSelinuxModule();
  }
  s.logFileName = kLogPath;
  s.logOpened = openLog(s.uid);
  resolveSharedCommands();
  logIfAny(formatMessage(msg::kStartLine, currentTime()));
  std::string startPath = argc > 0 && argv[0] ? argv[0] : "";
  if (!startPath.empty()) {
    requireFittingPath("the start path of the program", startPath);
    findSourceDir(startPath);
  }
  checkSourceDir();
  s.installDir = kProductDir;
  s.manifestName = "MIVOINST.CONF";
  logSelinuxState();
  s.queueList = QueueList{};
  s.noFoomatic = hasFoomaticRip() == 0;
  secondOptionPass(args);
  checkRoot();
  settleInstallDir();
  detectPrintSystem();
  gatherCupsFacts();
  settlePpdDirectories();
  if (s.uninstallRequested == 1) removalBranch();
  if (s.rollback) rollbackBranch();
  installBranch();
}
