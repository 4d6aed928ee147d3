#include "install/install_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include "discovery/selinux.h"
#include "install/fs_helpers.h"
#include "install/info_file.h"
#include "install/ppd_archive.h"
#include "install/uninstall_script.h"
#include "app/run_end.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "sys/atomic_files.h"
#include "sys/paths.h"
#include "sys/product.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

constexpr const char* kFilterLink = "/usr/bin/zebgsfilter";
constexpr const char* kFixedFilterPath = "/opt/orv/bin/zebgsfilter";

void logFlattened(std::string text) {
  flattenLine(text);
  logIfAny(text);
}

void enterSourceDir(const std::string& sourceDir) {
  if (::chdir(sourceDir.c_str()) == 0) {
    logMessage(formatText("cd %s.\n", sourceDir.c_str()));
  } else {
    logMsg(msg::kCannotEnterDir, sourceDir);
  }
}

// The product's own PPD directory is the "orv" one of a PPD tree.
bool isProductPpdDir(const std::string& dir) { return lastComponent(dir) == "orv"; }

// Temporary files of ours that an interrupted run left in a directory we write to.
void removeLeftovers(const std::string& dir) {
  std::optional<SafeDir> handle = SafeDir::open(dir);
  int removed = handle ? removeStaleTemporaries(*handle) : 0;
  if (removed > 0) {
    logMessage(formatText("Removed %d temporary file(s) that an interrupted run left in %s.", removed, dir.c_str()));
  }
}

// Made 0755 and logged as such (no "created" line of its own).
bool makePpdInstallDir(const std::string& dir) {
  std::optional<SafeDir> parent = SafeDir::open(directoryOf(dir));
  std::string name = lastComponent(dir);
  if (!parent || ::mkdirat(parent->fd(), name.c_str(), 0755) != 0) return false;
  std::optional<SafeDir> made = parent->child(name);
  if (made && ::fchmod(made->fd(), 0755) == 0) {
    logMsg(msg::kModeSet, dir, 0755);
  } else {
    logMsg(msg::kCannotChmodDir, dir);
  }
  return true;
}

void preparePpdInstallDir() {
  RunSettings& s = runSettings();
  const std::string& dir = s.ppdInstallDir;
  if (dir.empty() || isDirectory(dir)) {
    logMsg(msg::kPpdInstallDir, dir);
    if (!dir.empty() && isProductPpdDir(dir) && takeBackDirectory(dir)) removeLeftovers(dir);
    return;
  }
  if (makePpdInstallDir(dir)) return;
  logMsg(msg::kCannotCreateDir, dir);
  logMsg(msg::kFallingBackToModelDir, s.cupsModelDir);
  s.ppdInstallDir = s.cupsModelDir + "/orv";
  if (ensureDirectory(s.ppdInstallDir, 0, 0755) == -1 && ensureDirectory(s.ppdInstallDir, 1, 0766) == -1) {
    logMsg(msg::kInstallDirMissing, s.ppdInstallDir);
  }
}

void requireInstallDir() {
  const RunSettings& s = runSettings();
  int result;
  if (s.updateKind != kNewInstall) {
    result = ensureDirectory(s.installDir, 0, 0755);
  } else {
    if (s.installDir == kProductDir) makePath(s.installDir);
    result = ensureDirectory(s.installDir, 1, 0777);
  }
  if (result != -1) return;
  logMsg(msg::kInstallDirMissing, s.installDir);
  runReport().markAborted("the installation directory " + s.installDir + " is missing");
  endRun();
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
    default: logFlattened(formatMessage(msg::kKeepingInfoFile, s.installDir)); break;
  }
}

// Where "?" items go: the PPD install directory, else the CUPS model
// directory. Asked for each item: an earlier item may have made one of them.
std::string ppdTargetDir() {
  const RunSettings& s = runSettings();
  if (!s.ppdInstallDir.empty() && isDirectory(s.ppdInstallDir)) return s.ppdInstallDir;
  if (!s.cupsModelDir.empty() && isDirectory(s.cupsModelDir)) return s.cupsModelDir;
  return "/tmp";
}

// The directory that receives an installed file, reached without following
// a link below the installation directory; absolute destinations are taken
// as the system resolves them.
std::optional<SafeDir> directoryFor(const std::string& installedPath, std::string& why) {
  const std::string& installDir = runSettings().installDir;
  std::string dir = directoryOf(installedPath);
  if (dir == installDir || dir.starts_with(installDir + "/")) {
    std::optional<SafeDir> base = SafeDir::open(installDir, &why);
    return base ? base->below(dir.substr(installDir.size()), std::nullopt, &why) : std::nullopt;
  }
  return SafeDir::open(canonicalPath(dir, ".").value_or(dir), &why);
}

// The mode a copied file gets: the item's, else the mode of the file it
// replaces, else the source's as a new file would get it.
mode_t modeFor(const InstallItem& item, const SafeDir& dir, const std::string& name) {
  if (item.mode > 0) return static_cast<mode_t>(item.mode) & 07777;
  struct stat info {};
  if (entryType(dir.fd(), name, &info) == EntryType::Regular) return info.st_mode & 07777;
  if (::stat(item.source.c_str(), &info) == 0) return info.st_mode & 0755;
  return 0644;
}

bool copyItemFile(const InstallItem& item, const std::string& installedPath, std::string& why) {
  std::optional<SafeDir> dir = directoryFor(installedPath, why);
  if (!dir) return false;
  std::string name = lastComponent(installedPath);
  FileAccess access;
  access.mode = modeFor(item, *dir, name);
  return copyFileAtomically(item.source, *dir, name, access, &why);
}

void installItem(int index, const InstallItem& item, bool inPlace) {
  const RunSettings& s = runSettings();
  if (s.debugLevel > 0) {
    writeStderr(formatText("goInstall[%d]: %s ===> %s, o%o.\n", index, item.source.c_str(), item.destination.c_str(),
                           static_cast<unsigned>(item.mode)));
  }
  std::optional<CopyTarget> target = copyTargetFor(item, s.installDir, ppdTargetDir());
  if (!target) {
    std::string text = formatMessage(msg::kCopyingFile, item.source, item.destination);
    flattenLine(text);
    logIfAny(withErrorMark(text));
    runReport().addFile(item.destination, "install").outcome = "failed";
    return;
  }
  if (target->isDirectory && item.destination != "?") ensureDirectory(target->path, 1, 0777);
  std::string text = formatMessage(msg::kCopyingFile, item.source, target->path);
  flattenLine(text);
  if (!isCopied(item, *target, inPlace)) return;
  std::string installed = installedFilePath(item, *target);
  ReportFile& file = runReport().addFile(installed, "install");
  std::string why;
  if (!copyItemFile(item, installed, why)) {
    logIfAny(withErrorMark(text));
    logMessage("\t" + why + ".");
    file.outcome = "failed";
    file.detail = why;
    return;
  }
  logIfAny(text);
  if (item.mode > 0) logMsg(msg::kModeSet, installed, item.mode);
}

void copyItems(int count, bool inPlace) {
  const InstallTable& table = runSettings().installTable;
  int last = std::min(count, static_cast<int>(table.size()));
  for (int i = 0; i < last; ++i) installItem(i, table[static_cast<size_t>(i)], inPlace);
}

void linkFilter() {
  if (::access(kFilterLink, F_OK) == 0) return;
  std::string target = runSettings().installDir + "/bin/zebgsfilter";
  std::string text = formatMessage(msg::kLinked, 1, kFilterLink, target);
  if (symlinkIfAbsent(target, kFilterLink) != 0) text += messageText(msg::kErrorMark);
  logIfAny(text);
}

// The product's directories that an earlier installer may have left open to
// every user are taken back before anything is written into them, and what
// an interrupted run left there goes.
void takeBackProductDirs(const std::string& dir) {
  for (const char* sub : {"", "/bin", "/etc", "/ppd"}) {
    if (sub[0] != '\0' && !isDirectory(dir + sub)) continue;
    if (takeBackDirectory(dir + sub)) removeLeftovers(dir + sub);
  }
}

}  // namespace

std::optional<CopyTarget> copyTargetFor(const InstallItem& item, const std::string& installDir,
                                        const std::string& ppdTargetDir) {
  const std::string& code = item.destination;
  if (code == "." || code == "/") return CopyTarget{installDir + "/" + item.source, false};
  if (code.size() >= 3 && code.starts_with("./")) return CopyTarget{installDir + "/" + code.substr(2), true};
  if (code.size() >= 3 && code[0] == '/') return CopyTarget{code, true};
  if (code == "?") return CopyTarget{ppdTargetDir, true};
  return std::nullopt;
}

bool isCopied(const InstallItem& item, const CopyTarget& target, bool inPlace) {
  bool nameFits = item.source.size() > 2 || item.source == "nc";
  return nameFits && target.path.size() > 2 && (!inPlace || item.destination == "?");
}

std::string installedFilePath(const InstallItem& item, const CopyTarget& target) {
  if (!target.isDirectory) return target.path;
  return target.path + "/" + lastComponent(item.source);
}

int prepareInstallTree(const std::string& dir) {
  RunSettings& s = runSettings();
  if (s.installTreeReady) return 1;
  if (dir.empty()) return 0;
  if (ensureDirectory(dir, 1, 0777) == -1) {
    logMsg(msg::kNoInstallTree, dir);
    return 0;
  }
  takeBackProductDirs(dir);
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
  s.installTreeReady = true;
  return 1;
}

void goInstall(int count) {
  RunSettings& s = runSettings();
  s.sourceDir = foldProductBinDir(s.sourceDir);
  enterSourceDir(s.sourceDir);
  bool inPlace = s.sourceDir == s.installDir;
  if (!inPlace) logMsg(msg::kInstallingFrom, s.sourceDir);
  if (prepareInstallTree(s.installDir) != 1) {
    logMsg(msg::kCannotMakeInstallDir, s.installDir);
    logMsg(msg::kLeavingInstallation);
    runReport().markAborted("the installation tree " + s.installDir + " cannot be made");
    endRun();
  }
  preparePpdInstallDir();
  if (s.updateKind == kUpdateFromOlder) archivePpdFiles(s.ppdInstallDir);
  requireInstallDir();
  logFlattened(formatMessage(msg::kInstallDirReady, s.installDir));
  settleInformationFile();
  writeUninstallScript();
  logFlattened(formatMessage(msg::kCreatingStartScripts, s.installDir, s.installDir));
  if (s.debugLevel > 0) writeStderr(formatText("goInstall: Starting copy loop for %d items.\n", count));
  logMsg(msg::kCopyLoopStart, count);
  copyItems(count, inPlace);
  linkFilter();
  runChcon(kFilterLink, "-u system_u");
  runChcon(kFixedFilterPath, "-t bin_t");
}

void planInstall(int count) {
  RunSettings& s = runSettings();
  s.sourceDir = foldProductBinDir(s.sourceDir);
  enterSourceDir(s.sourceDir);
  bool inPlace = s.sourceDir == s.installDir;
  const InstallTable& table = s.installTable;
  int last = std::min(count, static_cast<int>(table.size()));
  logMessage(formatText("Dry run: the installation into %s would copy:", s.installDir.c_str()));
  for (int i = 0; i < last; ++i) {
    const InstallItem& item = table[static_cast<size_t>(i)];
    // The real run would make the PPD install directory first.
    std::string ppdDir = s.ppdInstallDir.empty() ? ppdTargetDir() : s.ppdInstallDir;
    std::optional<CopyTarget> target = copyTargetFor(item, s.installDir, ppdDir);
    if (!target || !isCopied(item, *target, inPlace)) continue;
    std::string installed = installedFilePath(item, *target);
    bool readable = isRegularFile(item.source);
    logMessage(formatText("\t%s -> %s%s", item.source.c_str(), installed.c_str(), readable ? "" : " (missing)"));
    ReportFile& file = runReport().addFile(installed, "would-install");
    if (!readable) {
      file.outcome = "failed";
      file.detail = "the source " + item.source + " is missing";
    }
  }
}
