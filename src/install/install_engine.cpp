#include "install/install_engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "discovery/selinux.h"
#include "install/fs_helpers.h"
#include "install/info_file.h"
#include "install/ppd_archive.h"
#include "install/uninstall_script.h"
#include "services/effects.h"
#include "services/failure_text.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "services/terminal.h"
#include "sys/file_reading.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/sha256.h"
#include "sys/text.h"

namespace {

// The files the uninstall script names by themselves, relative to the installation.
constexpr std::array kScriptFiles = {"mivoInfo4.0",     "bin/zebgsfilter",   "bin/nc",        "bin/setup",
                                     "etc/mivo4.0.png", "etc/MIVOINST.CONF", "MIVOINST.CONF", "etc/UNINSTALLMIVO"};

void logFlattened(std::string text) {
  flattenLine(text);
  logIfAny(text);
}

std::string treeDir() {
  const RunSettings& s = runSettings();
  return canonicalPath(s.sourceDir, s.startDir).value_or(s.sourceDir);
}

// Sources are read from the tree itself: the working directory never changes.
void enterSourceDir(const std::string& sourceDir) {
  if (SafeDir::open(treeDir())) {
    logMsg(msg::kEnteringSourceDir, sourceDir);
  } else {
    logMsg(msg::kCannotEnterDir, sourceDir);
  }
}

// The product's own PPD directory is the "orv" one of a PPD tree.
bool isProductPpdDir(const std::string& dir) { return lastComponent(dir) == "orv"; }

bool preparePpdInstallDirAnew(const std::string& dir) {
  if (!effects().makeDirectory(dir, 0755, nullptr)) return false;
  productRecord().addMadeDirectory(dir);
  logChange(formatMessage(msg::kModeSet, dir, 0755));
  return true;
}

void preparePpdInstallDir() {
  RunSettings& s = runSettings();
  const std::string& dir = s.ppdInstallDir;
  if (dir.empty() || effects().isDirectory(dir)) {
    logMsg(msg::kPpdInstallDir, dir);
    if (!dir.empty() && isProductPpdDir(dir) && productMadeDirectory(dir) && takeBackDirectory(dir))
      removeLeftoverTemporaries(dir);
    return;
  }
  if (preparePpdInstallDirAnew(dir)) return;
  logMsg(msg::kCannotCreateDir, dir);
  logMsg(msg::kFallingBackToModelDir, s.cupsModelDir);
  s.ppdInstallDir = s.cupsModelDir + "/orv";
  if (ensureDirectory(s.ppdInstallDir, 0, 0755) == -1 && ensureDirectory(s.ppdInstallDir, 1, 0766) == -1) {
    logMsg(msg::kInstallDirMissing, s.ppdInstallDir);
  }
}

bool requireInstallDir() {
  const RunSettings& s = runSettings();
  int result;
  if (s.updateKind != UpdateKind::NewInstall) {
    result = ensureDirectory(s.installDir, 0, 0755);
  } else {
    if (s.installDir == kProductDir) makePath(s.installDir);
    result = ensureDirectory(s.installDir, 1, 0777);
  }
  if (result != -1) return true;
  logMsg(msg::kInstallDirMissing, s.installDir);
  runReport().markAborted(formatMessage(msg::kInstallDirMissing, s.installDir));
  return false;
}

void settleInformationFile() {
  const RunSettings& s = runSettings();
  switch (s.updateKind) {
    case UpdateKind::NewInstall:
      if (writeInfoFile() == 1) logFlattened(formatMessage(msg::kCreatingInfoFile, s.installDir));
      break;
    case UpdateKind::FromOlder:
      logFlattened(formatMessage(msg::kMigratingInfoFile, s.installDir));
      migrateInfoFile();
      break;
    case UpdateKind::Current: logFlattened(formatMessage(msg::kKeepingInfoFile, s.installDir)); break;
  }
}

// Where "?" items go: the PPD install directory, else the CUPS model
// directory. Asked for each item: an earlier item may have made one of them.
std::string ppdTargetDir() {
  const RunSettings& s = runSettings();
  if (!s.ppdInstallDir.empty() && effects().isDirectory(s.ppdInstallDir)) return s.ppdInstallDir;
  if (!s.cupsModelDir.empty() && effects().isDirectory(s.cupsModelDir)) return s.cupsModelDir;
  return "/tmp";
}

// A directory below the installation is the product's when it made it, or
// will make it for this installation.
bool madeOrToBeMade(const std::string& dir) { return productMadeDirectory(dir) || !effects().exists(dir); }

// What the uninstall script may remove: directories whole only where the
// product made them, elsewhere the files it installs.
UninstallScope uninstallScope(const InstallTable& table, int count) {
  const RunSettings& s = runSettings();
  UninstallScope scope;
  scope.installDirMade = productMadeDirectory(s.installDir);
  scope.ppdDirMade = madeOrToBeMade(s.installDir + "/ppd");
  scope.etcDirMade = madeOrToBeMade(s.installDir + "/etc");
  scope.binDirMade = madeOrToBeMade(s.installDir + "/bin");
  for (int i = 0; i < count && i < static_cast<int>(table.size()); ++i) {
    std::optional<CopyTarget> target = copyTargetFor(table[i], s.installDir, ppdTargetDir());
    if (!target || target->path == ppdTargetDir()) continue;
    std::string file = installedFilePath(table[i], *target);
    std::string relative = file.substr(std::min(file.size(), s.installDir.size() + 1));
    if (!isAtOrBelow(file, s.installDir) ||
        std::find(kScriptFiles.begin(), kScriptFiles.end(), relative) != kScriptFiles.end())
      continue;
    scope.otherFiles.push_back(file);
    std::string dir = directoryOf(file);
    bool standard = dir == s.installDir || lastComponent(dir) == "bin" || lastComponent(dir) == "etc" ||
                    lastComponent(dir) == "ppd";
    if (!standard && madeOrToBeMade(dir) &&
        std::find(scope.otherDirs.begin(), scope.otherDirs.end(), dir) == scope.otherDirs.end())
      scope.otherDirs.push_back(dir);
  }
  return scope;
}

struct SourceFile {
  std::string path;
  std::string content;
  mode_t mode = 0644;
};

// A file of the distribution tree, reached without following another user's link.
std::optional<SourceFile> readSource(const std::string& source, Failure& why) {
  SourceFile file{joinPath(runSettings().sourceDir, source), "", 0644};
  std::optional<SafeDir> tree = SafeDir::open(treeDir(), &why);
  std::optional<SafeDir> dir = tree ? tree->below(directoryOf("/" + source).substr(1), &why) : std::nullopt;
  if (!dir) return std::nullopt;
  FdHolder fd(::openat(dir->fd(), lastComponent(source).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0) {
    fail(&why, errno == ENOENT ? FailureKind::Missing : FailureKind::CannotOpen, file.path, errno);
    return std::nullopt;
  }
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    fail(&why, FailureKind::NotARegularFile, file.path);
    return std::nullopt;
  }
  int error = 0;
  std::optional<std::string> content = readWholeDescriptor(fd.get(), &error);
  if (!content) {
    fail(&why, FailureKind::CannotRead, file.path, error);
    return std::nullopt;
  }
  file.content = std::move(*content);
  file.mode = info.st_mode & 07777;
  return file;
}

// The tree's list says what each file must be; without a list, nothing is checked here.
bool matchesTreeList(const std::string& source, const std::string& hash, const std::optional<TreeHashes>& hashes,
                     std::string& why) {
  // The list vouches for every file of the tree but itself.
  if (!hashes || lastComponent(source) == kHashListName) return true;
  auto listed = hashes->find(source);
  if (listed == hashes->end()) {
    why = formatMessage(msg::kFileNotInHashList, source);
  } else if (listed->second != hash) {
    why = formatMessage(msg::kFileDiffersFromHashList, source);
  } else {
    return true;
  }
  return false;
}

// The mode an installed file gets: the item's, else the mode of the file it
// replaces, else the source's as a new file would get it.
mode_t modeFor(const InstallItem& item, const std::string& installed, const SourceFile& source) {
  if (item.mode > 0) return static_cast<mode_t>(item.mode) & 07777;
  struct stat info {};
  if (::lstat(installed.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 07777;
  return source.mode & 0755;
}

// The installed file is already this content with this mode.
bool isUpToDate(const std::string& installed, const std::string& hash, mode_t mode) {
  std::optional<SafeDir> dir = SafeDir::open(directoryOf(installed));
  if (!dir) return false;
  FdHolder fd(::openat(dir->fd(), lastComponent(installed).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & 07777) != mode)
    return false;
  std::optional<std::string> content = readWholeDescriptor(fd.get());
  return content && sha256Hex(*content) == hash;
}

// What stands at an installed file's name may be replaced when it is the
// product's: recorded as installed, or in one of the product's directories.
bool mayReplace(const std::string& installed) {
  const RunSettings& s = runSettings();
  if (!effects().exists(installed) || productRecord().file(installed)) return true;
  return isAtOrBelow(installed, s.installDir) || (!s.ppdInstallDir.empty() && isAtOrBelow(installed, s.ppdInstallDir));
}

void failItem(ReportFile& file, const std::string& text, const std::string& why) {
  logIfAny(withErrorMark(text));
  logFailure(std::string(withoutLineEnd(why)));
  file.outcome = FileOutcome::Failed;
  file.detail = std::string(withoutLineEnd(why));
}

void installFile(const InstallItem& item, const std::string& installed, const std::string& text,
                 const std::optional<TreeHashes>& hashes) {
  ReportFile& file = runReport().addFile(installed, FileAction::Install);
  Failure failure;
  std::optional<SourceFile> source = readSource(item.source, failure);
  if (!source) return failItem(file, text, formatMessage(msg::kFileNotInstalled, describe(failure)));
  std::string hash = sha256Hex(source->content);
  std::string why;
  if (!matchesTreeList(item.source, hash, hashes, why)) return failItem(file, text, why);
  mode_t mode = modeFor(item, installed, *source);
  if (isUpToDate(installed, hash, mode)) {
    file.outcome = FileOutcome::Unchanged;
    logMsg(msg::kFileUpToDate, installed);
  } else if (!mayReplace(installed)) {
    return failItem(file, text, formatMessage(msg::kFileNotTheProducts, installed));
  } else {
    FileWrite write{installed, source->content, FileAccess{}, LinkAtTarget::Refuse, source->path};
    write.access.mode = mode;
    if (!effects().writeFile(write, &failure))
      return failItem(file, text, formatMessage(msg::kFileNotInstalled, describe(failure)));
    logChange(text);
    if (item.mode > 0) logChange(formatMessage(msg::kModeSet, installed, item.mode));
  }
  productRecord().setFile({installed, hash, mode});
}

void installItem(int index, const InstallItem& item, bool inPlace, const std::optional<TreeHashes>& hashes) {
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
    runReport().addFile(item.destination, FileAction::Install).outcome = FileOutcome::Failed;
    return;
  }
  if (target->isDirectory && item.destination != "?") ensureDirectory(target->path, 1, 0777);
  std::string text = formatMessage(msg::kCopyingFile, item.source, target->path);
  flattenLine(text);
  if (isCopied(item, *target, inPlace)) installFile(item, installedFilePath(item, *target), text, hashes);
}

void linkFilter() {
  const RunSettings& s = runSettings();
  const std::string& link = s.places.filterLink;
  if (effects().exists(link)) return;
  std::string target = s.installDir + "/bin/zebgsfilter";
  std::string text = formatMessage(msg::kLinked, 1, link, target);
  if (symlinkIfAbsent(target, link) != 0) {
    logIfAny(withErrorMark(text));
  } else {
    logChange(text);
  }
}

// The product's directories that an earlier installer may have left open to
// every user are taken back before anything is written into them, and what
// an interrupted run left there goes. Directories that are not the
// product's keep their owner and mode.
void takeBackProductDirs(const std::string& dir) {
  for (const char* sub : {"", "/bin", "/etc", "/ppd", "/man"}) {
    std::string path = dir + sub;
    if (!effects().isDirectory(path) || !productMadeDirectory(path)) continue;
    if (takeBackDirectory(path)) removeLeftoverTemporaries(path);
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
  if (dir.empty()) return 0;
  int made = ensureDirectory(dir, 1, 0777);
  if (made == -1) {
    logMsg(msg::kNoInstallTree, dir);
    return 0;
  }
  OwnershipRecord& record = productRecord();
  if (record.installDir != dir) record.installDirMade = made == 1 || record.madeDirectory(dir);
  record.installDir = dir;
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
  return 1;
}

bool goInstall(const InstallTable& table, int count) {
  RunSettings& s = runSettings();
  s.sourceDir = foldProductBinDir(s.sourceDir);
  enterSourceDir(s.sourceDir);
  bool inPlace = s.sourceDir == s.installDir;
  if (!inPlace) logMsg(msg::kInstallingFrom, s.sourceDir);
  if (prepareInstallTree(s.installDir) != 1) {
    logMsg(msg::kCannotMakeInstallDir, s.installDir);
    logMsg(msg::kLeavingInstallation);
    runReport().markAborted(formatMessage(msg::kCannotMakeInstallDir, s.installDir));
    return false;
  }
  preparePpdInstallDir();
  if (s.updateKind == UpdateKind::FromOlder) archivePpdFiles(s.ppdInstallDir);
  if (!requireInstallDir()) return false;
  logFlattened(formatMessage(msg::kInstallDirReady, s.installDir));
  settleInformationFile();
  writeUninstallScript(uninstallScope(table, count));
  logFlattened(formatMessage(msg::kCreatingStartScripts, s.installDir, s.installDir));
  if (s.debugLevel > 0) writeStderr(formatText("goInstall: Starting copy loop for %d items.\n", count));
  logMsg(msg::kCopyLoopStart, count);
  std::optional<TreeHashes> hashes = readTreeHashes();
  int last = std::min(count, static_cast<int>(table.size()));
  for (int i = 0; i < last; ++i) installItem(i, table[static_cast<size_t>(i)], inPlace, hashes);
  linkFilter();
  runChcon(s.places.filterLink, "-u system_u");
  runChcon(productPath("bin/zebgsfilter"), "-t bin_t");
  return true;
}
