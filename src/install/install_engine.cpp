#include "install/install_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "discovery/selinux.h"
#include "install/fs_helpers.h"
#include "install/info_file.h"
#include "install/ppd_archive.h"
#include "install/uninstall_script.h"
#include "ppd/ppd_directories.h"
#include "run/run_log.h"
#include "run/run_settings.h"
#include "run/shell.h"

namespace {

constexpr const char* kDefaultInstallDir = "/opt/orv";
constexpr const char* kFilterLink = "/usr/bin/zebgsfilter";
constexpr const char* kFixedFilterPath = "/opt/orv/bin/zebgsfilter";

bool gInstallTreeReady = false;

[[noreturn]] void endInstallRun() {
  if (runSettings().logOpened == 1) closeLog();
  std::exit(0);
}

void logFlattened(std::string text) {
  flattenLine(text);
  logIfAny(text);
}

// A name that begins with '-' would be read by cp as an option.
std::string pathArgument(const std::string& path) {
  return shellQuote(!path.empty() && path[0] == '-' ? "./" + path : path);
}

std::string lastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void enterSourceDir(const std::string& sourceDir) {
  if (::chdir(sourceDir.c_str()) == 0) {
    logMessage(formatText("cd %s.\n", sourceDir.c_str()));
  } else {
    logMsg(msg::kCannotEnterDir, sourceDir);
  }
}

void preparePpdInstallDir() {
  RunSettings& s = runSettings();
  const std::string& dir = s.ppdInstallDir;
  if (dir.empty() || isDirectory(dir)) {
    logMsg(msg::kPpdInstallDir, dir);
    return;
  }
  if (::mkdir(dir.c_str(), 0777) == 0) {
    if (::chmod(dir.c_str(), 0755) == 0) {
      logMsg(msg::kModeSet, dir, 0755);
    } else {
      logMsg(msg::kCannotChmodDir, dir);
    }
    return;
  }
  logMsg(msg::kCannotCreateDir, dir);
  logMsg(msg::kFallingBackToModelDir, s.cupsModelDir);
  s.ppdInstallDir = s.cupsModelDir + "/orv";
  if (ensureDirectory(s.ppdInstallDir, 0, 0755) == -1 &&
      ensureDirectory(s.ppdInstallDir, 1, 0766) == -1) {
    logMsg(msg::kInstallDirMissing, s.ppdInstallDir);
  }
}

void requireInstallDir() {
  const RunSettings& s = runSettings();
  int result;
  if (s.updateKind != kNewInstall) {
    result = ensureDirectory(s.installDir, 0, 0755);
  } else {
    if (s.installDir == kDefaultInstallDir) makePath(s.installDir);
    result = ensureDirectory(s.installDir, 1, 0777);
  }
  if (result != -1) return;
  logMsg(msg::kInstallDirMissing, s.installDir);
  endInstallRun();
}

void settleInformationFile() {
  const RunSettings& s = runSettings();
  switch (s.updateKind) {
    case kNewInstall:
      if (writeInfoFile() == 1) logFlattened(formatMessage(msg::kCreatingInfoFile, s.installDir));
      break;
    case kUpdateFromOlder:
      logFlattened(formatMessage(msg::kMigratingInfoFile, s.installDir));
      migrateInfoFile();
      break;
    default:
      logFlattened(formatMessage(msg::kKeepingInfoFile, s.installDir));
      break;
  }
}

// Where "?" items go: the PPD install directory, else the CUPS model directory.
std::string ppdTargetDir() {
  const RunSettings& s = runSettings();
  if (!s.ppdInstallDir.empty() && isDirectory(s.ppdInstallDir)) return s.ppdInstallDir;
  if (!s.cupsModelDir.empty() && isDirectory(s.cupsModelDir)) return s.cupsModelDir;
  return "/tmp";
}

void setInstalledMode(const InstallItem& item, const CopyTarget& target) {
  std::string path = installedFilePath(item, target);
  std::string text = formatMessage(msg::kModeSet, path, item.mode);
  if (::chmod(path.c_str(), static_cast<mode_t>(item.mode)) != 0) text += messageText(msg::kErrorMark);
  logIfAny(text);
}

void installItem(int index, const InstallItem& item, const std::string& ppdDir, bool inPlace) {
  const RunSettings& s = runSettings();
  if (s.debugLevel > 0) {
    writeStderr(formatText("goInstall[%d]: %s ===> %s, o%o.\n", index, item.source.c_str(),
                           item.destination.c_str(), static_cast<unsigned>(item.mode)));
  }
  std::optional<CopyTarget> target = copyTargetFor(item, s.installDir, ppdDir);
  if (!target) {
    std::string text = formatMessage(msg::kCopyingFile, item.source, item.destination);
    flattenLine(text);
    logIfAny(text + messageText(msg::kErrorMark));
    return;
  }
  if (target->isDirectory && item.destination != "?") ensureDirectory(target->path, 1, 0777);
  std::string text = formatMessage(msg::kCopyingFile, item.source, target->path);
  flattenLine(text);
  if (!isCopied(item, *target, inPlace)) return;
  if (runShell(copyCommand(s.commands.cp, item, *target)) != 0) {
    logIfAny(text + messageText(msg::kErrorMark));
    return;
  }
  logIfAny(text);
  if (item.mode > 0) setInstalledMode(item, *target);
}

void copyItems(int count, bool inPlace) {
  const InstallTable& table = installTable();
  std::string ppdDir = ppdTargetDir();
  int last = std::min(count, static_cast<int>(table.size()));
  for (int i = 0; i < last; ++i) installItem(i, table[static_cast<size_t>(i)], ppdDir, inPlace);
}

void linkFilter() {
  if (::access(kFilterLink, F_OK) == 0) return;
  std::string target = runSettings().installDir + "/bin/zebgsfilter";
  std::string text = formatMessage(msg::kLinked, 1, kFilterLink, target);
  if (symlinkIfAbsent(target, kFilterLink) != 0) text += messageText(msg::kErrorMark);
  logIfAny(text);
}

}  // namespace

std::optional<CopyTarget> copyTargetFor(const InstallItem& item, const std::string& installDir,
                                        const std::string& ppdTargetDir) {
  const std::string& code = item.destination;
  if (code == "." || code == "/") return CopyTarget{installDir + "/" + item.source, false};
  if (code.size() >= 3 && code.starts_with("./")) {
    return CopyTarget{installDir + "/" + code.substr(2), true};
  }
  if (code.size() >= 3 && code[0] == '/') return CopyTarget{code, true};
  if (code == "?") return CopyTarget{ppdTargetDir, true};
  return std::nullopt;
}

bool isCopied(const InstallItem& item, const CopyTarget& target, bool inPlace) {
  bool nameFits = item.source.size() > 2 || item.source == "nc";
  return nameFits && target.path.size() > 2 && (!inPlace || item.destination == "?");
}

std::string copyCommand(const std::string& cp, const InstallItem& item, const CopyTarget& target) {
  return cp + "  " + pathArgument(item.source) + " " + pathArgument(target.path);
}

std::string installedFilePath(const InstallItem& item, const CopyTarget& target) {
  if (!target.isDirectory) return target.path;
  return target.path + "/" + lastComponent(item.source);
}

int prepareInstallTree(const std::string& dir) {
  if (gInstallTreeReady) return 1;
  if (dir.empty()) return 0;
  if (ensureDirectory(dir, 1, 0777) == -1) {
    logMsg(msg::kNoInstallTree, dir);
    return 0;
  }
  std::string binDir = dir + "/bin";
  if (ensureDirectory(binDir, 1, 0755) == -1) {
    logMsg(msg::kNoBinDir, binDir);
    return 0;
  }
  std::string etcDir = dir + "/etc";
  if (ensureDirectory(etcDir, 1, 0755) == -1) {
    logMsg(msg::kNoEtcDir, etcDir);
    return 0;
  }
  runChcon(binDir, "-R -u system_u");
  gInstallTreeReady = true;
  return 1;
}

void goInstall(int count) {
  RunSettings& s = runSettings();
  if (s.sourceDir == "/opt/orv/bin") s.sourceDir = kDefaultInstallDir;
  enterSourceDir(s.sourceDir);
  bool inPlace = s.sourceDir == s.installDir;
  if (!inPlace) logMsg(msg::kInstallingFrom, s.sourceDir);
  if (prepareInstallTree(s.installDir) != 1) {
    logMsg(msg::kCannotMakeInstallDir, s.installDir);
    logMsg(msg::kLeavingInstallation);
    endInstallRun();
  }
  preparePpdInstallDir();
  if (s.updateKind == kUpdateFromOlder) archivePpdFiles(s.ppdInstallDir);
  requireInstallDir();
  logFlattened(formatMessage(msg::kInstallDirReady, s.installDir));
  settleInformationFile();
  writeUninstallScript();
  logFlattened(formatMessage(msg::kCreatingStartScripts, s.installDir, s.installDir));
  if (s.debugLevel > 0) {
    writeStderr(formatText("goInstall: Starting copy loop for %d items.\n", count));
  }
  logMsg(msg::kCopyLoopStart, count);
  copyItems(count, inPlace);
  linkFilter();
  runChcon(kFilterLink, "-u system_u");
  runChcon(kFixedFilterPath, "-t bin_t");
}
