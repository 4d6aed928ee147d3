#include "removal/uninstall.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "install/fs_helpers.h"
#include "queues/queue_inventory.h"
#include "services/effects.h"
#include "services/failure_text.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

// Files of an installation, removed in this order (the filter's link twice:
// the second normally finds nothing), then its directories.
constexpr const char* kFilterLinkEntry = "";
const std::vector<const char*> kInstalledFiles = {
    "mivo",      "mivoInfo4.0",     "bin/zebgsfilter", kFilterLinkEntry,    "etc/UNINSTALLMIVO",
    "bin/setup", "etc/mivo4.0.png", "MIVOINST.CONF",   "etc/MIVOINST.CONF", kFilterLinkEntry,
    "bin/nc"};
constexpr const char* kInstalledDirs[] = {"Default", "ppd", "etc", "bin"};

void logOutcome(const std::string& line, bool done) {
  logIfAny(line + messageText(done ? msg::kOk : msg::kNotPossible));
}

void removeQueueCommands(const std::string& name) {
  const CommandTable& commands = runSettings().commands;
  std::string removal = queueRemovalCommand(commands.lpadmin, name);
  logMsg(msg::kRunningCommand, removal);
  if (effects().runCommand(removal) == 0) return;
  std::string query = queueQueryCommand(commands.lpstat, name);
  logMsg(msg::kRunningCommand, query);
  runShell(query);
  ::sleep(1);
  logMsg(msg::kRunningCommand, removal);
  effects().runCommand(removal);
}

// What a queue may have left in /dev; the system's own entries there
// (stdin, fd, log, core and the like) are never touched.
void removeDeviceEntry(const std::string& name) {
  if (name == "null") return;
  std::optional<SafeDir> dev = SafeDir::open("/dev");
  struct stat info {};
  if (!dev || entryType(dev->fd(), name, &info) == EntryType::Missing) return;
  if (isRemovableDeviceEntry(S_ISREG(info.st_mode), S_ISFIFO(info.st_mode), info.st_uid))
    effects().removeFile(dev->pathOf(name), nullptr);
}

std::optional<std::string> modelDirOf(int printerManager) {
  if (printerManager == kPrinterLp) return "/usr/spool/lp/model";
  const std::string& dataDir = runSettings().commands.cupsDataDir;
  if (printerManager == kPrinterCups && !dataDir.empty()) return canonicalPath(dataDir + "/model", "/");
  return std::nullopt;
}

// The queue's model file is moved aside to NAME.old, without following links.
void retireModelFile(const std::string& modelDir, const std::string& name) {
  std::optional<SafeDir> dir = SafeDir::open(modelDir);
  if (!dir || entryType(dir->fd(), name) == EntryType::Missing) return;
  std::string path = dir->pathOf(name);
  effects().rename(path, name + ".old", nullptr);
  if (entryType(dir->fd(), name) != EntryType::Missing) effects().removeFile(path, nullptr);
}

bool handlesPrinterManager(int kind) { return kind == kPrinterUnknown || kind == kPrinterLp || kind == kPrinterCups; }

// A file of the installation, without following another user's link on the way.
bool removeInstalledFile(const std::string& path) {
  Failure why;
  if (effects().removeFile(path, &why)) {
    productRecord().forgetFile(path);
    return true;
  }
  if (why.kind == FailureKind::LinkInTheWay || why.kind == FailureKind::NotARegularFile)
    logMsg(msg::kFileNotInstalled, describe(why));
  return false;
}

// A directory of the installation goes whole where the product made it;
// elsewhere only the files the product installed in it go.
bool removeInstalledDir(const std::string& dir) {
  if (!effects().isDirectory(dir)) return false;
  if (!productMadeDirectory(dir)) {
    std::vector<RecordedFile> files = productRecord().files;
    for (const RecordedFile& file : files) {
      if (isAtOrBelow(file.path, dir)) removeInstalledFile(file.path);
    }
    logMsg(msg::kDirNotMadeByProduct, dir);
    return false;
  }
  Failure why;
  int result = effects().removeTree(dir, &why);
  if (result != 0 && why.kind == FailureKind::LinkInTheWay) logMsg(msg::kFileNotInstalled, describe(why));
  if (result == 0) productRecord().forgetDirectory(dir);
  return result == 0;
}

// Files the product installed beyond the fixed list (its manual, its list
// of hashes) go too, and the directories it made for them.
int removeOtherRecordedFiles(const std::string& installDir) {
  int removed = 0;
  std::vector<RecordedFile> files = productRecord().files;
  for (const RecordedFile& file : files) {
    if (!isAtOrBelow(file.path, installDir) || !effects().exists(file.path)) continue;
    bool done = removeInstalledFile(file.path);
    logOutcome(formatMessage(msg::kRemovingFile, file.path), done);
    runReport().addFile(file.path, FileAction::Remove).outcome = done ? FileOutcome::Done : FileOutcome::Skipped;
    removed += done;
  }
  std::vector<std::string> dirs = productRecord().directoriesMade;
  for (const std::string& dir : dirs) {
    if (dir == installDir || !isAtOrBelow(dir, installDir) || !effects().isDirectory(dir)) continue;
    bool done = removeInstalledDir(dir);
    logOutcome(formatMessage(msg::kRemovingDir, dir), done);
    runReport().addFile(dir, FileAction::Remove).outcome = done ? FileOutcome::Done : FileOutcome::Skipped;
    removed += done;
  }
  return removed;
}

}  // namespace

bool isRemovableDeviceEntry(bool regular, bool fifo, unsigned uid) { return (regular || fifo) && uid == 0; }

std::string queueRemovalCommand(const std::string& lpadmin, const std::string& name) {
  return shellQuote(lpadmin) + " -x" + shellQuote(name) + " 2>/dev/null";
}

std::string queueQueryCommand(const std::string& lpstat, const std::string& name) {
  return shellQuote(lpstat) + " -p" + shellQuote(name) + " -l > /dev/null";
}

int removeTree(const std::string& path) {
  std::optional<std::string> canonical = canonicalPath(directoryOf(path), "/");
  return canonical ? effects().removeTree(joinPath(*canonical, lastComponent(path)), nullptr) : -1;
}

int removeQueue(const std::string& name) {
  int printerManager = runSettings().printerManager;
  if (!handlesPrinterManager(printerManager) || !isUsableQueueName(name)) return 0;
  removeQueueCommands(name);
  removeDeviceEntry(name);
  if (std::optional<std::string> modelDir = modelDirOf(printerManager)) retireModelFile(*modelDir, name);
  return 1;
}

int removeQueueDir(const std::string& name) {
  const std::string& installDir = runSettings().installDir;
  std::optional<SafeDir> dir = isUsableQueueName(name) ? SafeDir::open(installDir) : std::nullopt;
  if (!dir || entryType(dir->fd(), name) == EntryType::Missing) return -1;
  int result = effects().removeTree(dir->pathOf(name), nullptr);
  std::string script = name + ".sh";
  if (entryType(dir->fd(), script) == EntryType::Regular) effects().removeFile(dir->pathOf(script), nullptr);
  return result;
}

int removeQueues(const QueueList& list) {
  int removed = 0;
  for (size_t i = 1; i < list.records.size(); ++i) {
    const std::string& name = list.records[i].name;
    if (name.empty() || name == "Default") continue;
    if (!isUsableQueueName(name)) {
      logMsg(msg::kQueueNamePassedOver, name);
      continue;
    }
    removeQueue(name);
    removeQueueDir(name);
    logChange(formatMessage(msg::kRemovingQueue, name));
    runReport().addQueue(name).outcome = QueueOutcome::Removed;
    std::erase_if(productRecord().queues, [&name](const RecordedQueue& q) { return q.name == name; });
    ++removed;
  }
  return removed;
}

int removeInstalledFiles() {
  const std::string dir = runSettings().installDir;
  const std::string& filterLink = runSettings().places.filterLink;
  if (!SafeDir::open(dir)) {
    logMsg(msg::kInstallDirMissing, dir);
    return 0;
  }
  int removed = 0;
  for (const char* file : kInstalledFiles) {
    std::string path = *file ? joinPath(dir, file) : filterLink;
    bool done = removeInstalledFile(path);
    logOutcome(formatMessage(msg::kRemovingFile, path), done);
    runReport().addFile(path, FileAction::Remove).outcome = done ? FileOutcome::Done : FileOutcome::Skipped;
    removed += done;
  }
  for (const char* sub : kInstalledDirs) {
    std::string path = joinPath(dir, sub);
    bool done = removeInstalledDir(path);
    logOutcome(formatMessage(msg::kRemovingDir, path), done);
    runReport().addFile(path, FileAction::Remove).outcome = done ? FileOutcome::Done : FileOutcome::Skipped;
    removed += done;
  }
  return removed + removeOtherRecordedFiles(dir);
}

void reportQueuesLeft(const QueueList& list) {
  for (const QueueFile& file : queueFilesIn(cupsPpdDirectory())) {
    bool named = std::any_of(list.records.begin() + 1, list.records.end(),
                             [&file](const QueueRecord& q) { return q.name == file.name; });
    if (named || !productQueueOf(file)) continue;
    ReportQueue& report = runReport().addQueue(file.name);
    report.oldPpd = file.path;
    report.outcome = QueueOutcome::Kept;
    report.detail = formatMessage(msg::kQueueLeft);
  }
}
