#include "run/run_driver.h"

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
#include "install/install_engine.h"
#include "install/install_manifest.h"
#include "ppd/model_dir_links.h"
#include "ppd/ppd_directories.h"
#include "queues/cups_restart.h"
#include "queues/queue_inventory.h"
#include "queues/queue_update.h"
#include "removal/uninstall.h"
#include "run/console_questions.h"
#include "run/run_log.h"
#include "run/run_settings.h"
#include "run/shell.h"

namespace {

constexpr const char* kOptionString = "df:hi:m:q:u:w:S:D:Z:";
constexpr const char* kDefaultInstallDir = "/opt/orv";
constexpr const char* kDefaultLogName = "/var/log/Mivo4.0_UpdateLog";

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

[[noreturn]] void endRun() {
  if (runSettings().logOpened) closeLog();
  std::exit(0);
}

// A path option longer than a path may be is refused rather than cut.
void requireFittingPath(const char* what, const std::string& value) {
  if (value.size() <= kPathMax) return;
  std::string line = formatText("setup: %s is longer than %zu bytes; nothing done.\n", what, kPathMax);
  if (runSettings().logOpened) logMessage(line);
  writeStderr(line);
  endRun();
}

}  // namespace

void firstOptionPass(int argc, char** argv) {
  RunSettings& s = runSettings();
  optind = 0;  // full reset of the parser
  for (int opt; (opt = getopt(argc, argv, kOptionString)) != -1;) {
    switch (opt) {
      case 'd': s.uninstallRequested = 1; break;
      case 'f': s.allowAnyDir = leadingNumber(optarg); break;
      case 'S': s.seLinuxMode = leadingNumber(optarg); break;
      case 'h': printUsage();
      default: break;
    }
  }
  optind = 0;
}

void secondOptionPass(int argc, char** argv) {
  RunSettings& s = runSettings();
  optind = 0;
  for (int opt; (opt = getopt(argc, argv, kOptionString)) != -1;) {
    switch (opt) {
      case 'D':
      case 'Z': s.debugLevel = leadingNumber(optarg); break;
      case 'i': requireFittingPath("the manifest name of -i", optarg); s.manifestName = optarg; break;
      case 'q': s.queryMode = std::max(0, leadingNumber(optarg)); break;
      case 'u': requireFittingPath("the installation directory of -u", optarg); s.installDir = optarg; break;
      case 'h': printUsage();
      default: break;  // -m and -w are accepted and change nothing
    }
  }
}

namespace {

void resolveStartCommands() {
  RunSettings& s = runSettings();
  s.selinuxEnabled = findCommand("selinuxenabled").value_or("");
  s.commands.chcon = findCommand("chcon").value_or("");
  s.uid = static_cast<int>(getuid());
  s.gid = static_cast<int>(getgid());
  s.seLinuxMode = !s.selinuxEnabled.empty() && runShell(s.selinuxEnabled) == 0;
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
  if (s.sourceDir.compare(0, 8, kDefaultInstallDir) == 0) return;
  std::string text = formatMessage(91);
  logIfAny(text);
  writeStderr(text + "\n");
  endRun();
}

void logSelinuxState() {
  const RunSettings& s = runSettings();
  logMsg(90, messageText(s.seLinuxMode ? 221 : 220));
  if (s.seLinuxMode) logMsg(89);
}

void checkRoot() {
  const RunSettings& s = runSettings();
  if (s.uid == 0) return;
  if (s.debugLevel > 0) writeStderr("Must be root.\nExiting.\n");
  logIfAny(formatText("%s\n", messageText(211)));
  endRun();
}

std::string printerManagerName(int kind) {
  switch (kind) {
    case kPrinterLp: return "LP";
    case kPrinterLpr: return "LPR";
    case kPrinterLprng: return "LPRNG";
    case kPrinterCups: return "CUPS";
    default: return messageText(87);
  }
}

void detectPrintSystem() {
  RunSettings& s = runSettings();
  if (s.debugLevel > 0) writeStderr("Root mode: getting printer manager.\n");
  s.printerManager = printerManagerFromEnvironment();
  if (s.printerManager == 0) s.printerManager = detectPrinterManager();
  logIfAny(std::string(messageText(88)) + printerManagerName(s.printerManager) + "\n");
  s.noCupsDaemon = s.printerManager != kPrinterCups;
  s.abortRequested = s.noCupsDaemon || s.noFoomatic;
  if (s.abortRequested) abortBanner();
  if (s.printerManager == kPrinterCups) {
    logMsg(86, s.cupsBaseDir);
    logMsg(85, s.cupsBinDir);
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
void tellAndLog(int message) {
  std::string text = formatMessage(message);
  writeStderr(text + "\n");
  logIfAny(text);
}

[[noreturn]] void removalBranch() {
  RunSettings& s = runSettings();
  int kind = 0;
  s.existingInstall = findExistingInstall(s.existingInstallDir, kind);
  if (s.existingInstall == 1) {
    int closing = 82;
    if (askYesNo(messageText(3)) == kAnswerYes) {
      readInfoPrinters(kind, s.queueList);
      logMsg(141, s.infoPrinterCount);
      removeQueues();
      removeInstalledFiles();
      closing = 2;
    }
    tellAndLog(closing);
  } else {
    writeStderr(messageText(4));
    logMsg(4);
    writeStderr(messageText(5));
    logMsg(5);
  }
  endRun();
}

void adoptExistingInstall() {
  RunSettings& s = runSettings();
  int kind = 0;
  s.existingInstall = findExistingInstall(s.existingInstallDir, kind);
  if (s.existingInstall != 1) {
    logMsg(171);
    return;
  }
  logMsg(151, s.existingInstallDir);
  if (ensureDirectory(s.existingInstallDir, 0, 0755) == -1) {
    logMsg(148, s.existingInstallDir);
    return;
  }
  s.installDir = s.existingInstallDir;
  s.updateKind = (kind == kUpdateFromOlder || kind == kUpdateCurrent) ? kind : kNewInstall;
  logMsg(84, kind);
  logMsg(149, s.existingInstallDir);
  readInfoPrinters(kind, s.queueList);
  logMsg(141, s.infoPrinterCount);
  clearQueueList(&s.queueList);
}

void confirmInstall() {
  const RunSettings& s = runSettings();
  if (s.queryMode == 0) return;
  int question = s.updateKind == kUpdateFromOlder ? 93 : s.updateKind == kUpdateCurrent ? 94 : 95;
  if (askYesNo(messageText(question)) == kAnswerYes) return;
  tellAndLog(82);
  endRun();
}

[[noreturn]] void installBranch() {
  RunSettings& s = runSettings();
  adoptExistingInstall();
  if (!s.installDir.empty() && s.installDir.back() == '/') s.installDir.pop_back();
  s.manifestCount = getInfoData();
  if (s.manifestCount <= 0) {
    s.abortRequested = 1;
    logMsg(196, s.sourceDir, s.manifestName);
    s.manifestCount = 0;
  }
  if (s.abortRequested) {
    logMsg(83);
    endRun();
  }
  confirmInstall();
  goInstall(s.manifestCount);
  int count = 0;
  scanQueuePpds(s.queueList, count);
  if (count > 0) updateQueues(s.ppdInstallDir, s.queueList, count, s.queryMode);
  restartCups();
  endRun();
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
  if (s.sourceDir == "/opt/orv/bin") s.sourceDir = kDefaultInstallDir;
  logMsg(193, s.sourceDir);
}

void printUsage() {
  writeStderr(formatMessage(68, kProgramVersion));
  for (int n : {67, 66, 65, 64, 63}) writeStderr(messageText(n));
  writeStderr(formatMessage(62, kProgramVersion));
  for (int n : {61, 60, 59, 58, 57}) writeStderr(messageText(n));
  std::exit(0);
}

void abortBanner() {
  const RunSettings& s = runSettings();
  logMsg(9);
  if (s.noCupsDaemon) logMsg(8);
  if (s.noFoomatic) logMsg(7);
  logMsg(5);
}

void runSetup(int argc, char** argv) {
  resetRunSettings();
  RunSettings& s = runSettings();
  resolveStartCommands();
  firstOptionPass(argc, argv);
  if (s.uninstallRequested == 0 && s.seLinuxMode != 0) {
    writeStderr(".......\n");
    installSelinuxModule();
  }
  s.logFileName = kDefaultLogName;
  s.logOpened = openLog(s.uid);
  resolveSharedCommands();
  logIfAny(formatMessage(199, currentTime()));
  std::string startPath = argc > 0 && argv[0] ? argv[0] : "";
  if (!startPath.empty()) {
    requireFittingPath("the start path of the program", startPath);
    findSourceDir(startPath);
  }
  checkSourceDir();
  s.installDir = kDefaultInstallDir;
  s.manifestName = "MIVOINST.CONF";
  logSelinuxState();
  s.queueList = QueueList{};
  s.noFoomatic = hasFoomaticRip() == 0;
  secondOptionPass(argc, argv);
  checkRoot();
  detectPrintSystem();
  gatherCupsFacts();
  settlePpdDirectories();
  if (s.uninstallRequested == 1) removalBranch();
  installBranch();
}
