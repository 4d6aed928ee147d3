#include "removal/uninstall.h"

#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "queues/queue_list.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

constexpr const char* kFilterLink = "/usr/bin/zebgsfilter";

void logOutcome(const std::string& line, bool done) {
  logIfAny(line + messageText(done ? msg::kOk : msg::kNotPossible));
}

void logCommandAndRun(const std::string& command) {
  logMsg(msg::kRunningCommand, command);
  runShell(command);
}

void removeQueueCommands(const std::string& name) {
  const CommandTable& commands = runSettings().commands;
  std::string removal = queueRemovalCommand(commands.lpadmin, name);
  logMsg(msg::kRunningCommand, removal);
  if (runShell(removal) == 0) return;
  logCommandAndRun(queueQueryCommand(commands.lpstat, name));
  ::sleep(1);
  logCommandAndRun(removal);
}

// What a queue may have left in /dev; the system's own entries there
// (stdin, fd, log, core and the like) are never touched.
void removeDeviceEntry(const std::string& name) {
  if (name == "null") return;
  std::optional<SafeDir> dev = SafeDir::open("/dev");
  struct stat info {};
  if (!dev || entryType(dev->fd(), name, &info) == EntryType::Missing) return;
  if (isRemovableDeviceEntry(S_ISREG(info.st_mode), S_ISFIFO(info.st_mode), info.st_uid))
    ::unlinkat(dev->fd(), name.c_str(), 0);
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
  std::string old = name + ".old";
  ::renameat(dir->fd(), name.c_str(), dir->fd(), old.c_str());
  if (entryType(dir->fd(), name) != EntryType::Missing) ::unlinkat(dir->fd(), name.c_str(), 0);
}

bool handlesPrinterManager(int kind) { return kind == kPrinterUnknown || kind == kPrinterLp || kind == kPrinterCups; }

std::optional<SafeDir> installDirHandle() {
  std::string why;
  std::optional<SafeDir> dir = SafeDir::open(runSettings().installDir, &why);
  if (!dir && why.find("symbolic link") != std::string::npos) logFailure(why + ".");
  return dir;
}

// A file of the installation, reached from the installation directory
// without following a link; a link where a file should be is left alone.
bool removeInstalledFile(const SafeDir& installDir, const std::string& relative) {
  std::string why;
  std::optional<SafeDir> dir = installDir.below(directoryOf("/" + relative), std::nullopt, &why);
  std::string name = lastComponent(relative);
  if (dir && entryType(dir->fd(), name) == EntryType::Link) {
    logMessage("\t'" + dir->pathOf(name) + "' is a symbolic link where a file was expected; left alone.");
    return false;
  }
  return dir && removeFileAt(*dir, name);
}

// /usr/bin/zebgsfilter is the product's link itself: it goes as a link.
bool removeFilterLink() {
  std::optional<SafeDir> bin = SafeDir::open(directoryOf(kFilterLink));
  return bin && removeFileAt(*bin, lastComponent(kFilterLink));
}

bool removeInstalledDir(const SafeDir& installDir, const std::string& name) {
  std::string why;
  int result = removeTreeAt(installDir, name, &why);
  if (result != 0 && why.find("symbolic link") != std::string::npos) logMessage("\t" + why + ".");
  return result == 0;
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
  std::optional<SafeDir> parent = canonical ? SafeDir::open(*canonical) : std::nullopt;
  return parent ? removeTreeAt(*parent, lastComponent(path)) : -1;
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
  std::optional<SafeDir> installDir = isUsableQueueName(name) ? installDirHandle() : std::nullopt;
  if (!installDir || entryType(installDir->fd(), name) == EntryType::Missing) return -1;
  int result = removeTreeAt(*installDir, name);
  std::string script = name + ".sh";
  if (entryType(installDir->fd(), script) == EntryType::Regular) ::unlinkat(installDir->fd(), script.c_str(), 0);
  return result;
}

int removeQueues() {
  const std::vector<QueueRecord>& records = runSettings().queueList.records;
  int removed = 0;
  for (size_t i = 1; i < records.size(); ++i) {
    const std::string& name = records[i].name;
    if (name.empty() || name == "Default") continue;
    if (!isUsableQueueName(name)) {
      logMessage(formatText("Queue name passed over, it cannot name a queue or a file: '%s'.", name.c_str()));
      continue;
    }
    removeQueue(name);
    removeQueueDir(name);
    logMsg(msg::kRemovingQueue, name);
    runReport().addQueue(name).outcome = "removed";
    ++removed;
  }
  return removed;
}

int removeInstalledFiles() {
  const std::string dir = runSettings().installDir;
  std::optional<SafeDir> installDir = ::chdir(dir.c_str()) == 0 ? installDirHandle() : std::nullopt;
  if (!installDir) {
    logMsg(msg::kInstallDirMissing, dir);
    return 0;
  }
  const char* const files[] = {
      "mivo",      "mivoInfo4.0",     "bin/zebgsfilter", kFilterLink,         "etc/UNINSTALLMIVO",
      "bin/setup", "etc/mivo4.0.png", "MIVOINST.CONF",   "etc/MIVOINST.CONF", kFilterLink,
      "bin/nc"};
  int removed = 0;
  for (const char* file : files) {
    bool isLink = std::string_view(file) == kFilterLink;
    std::string path = isLink ? file : dir + "/" + file;
    bool done = isLink ? removeFilterLink() : removeInstalledFile(*installDir, file);
    logOutcome(formatMessage(msg::kRemovingFile, path), done);
    runReport().addFile(path, "remove").outcome = done ? "ok" : "skipped";
    removed += done;
  }
  for (const char* sub : {"Default", "ppd", "etc", "bin"}) {
    bool done = removeInstalledDir(*installDir, sub);
    logOutcome(formatMessage(msg::kRemovingDir, dir + "/" + sub), done);
    runReport().addFile(dir + "/" + sub, "remove").outcome = done ? "ok" : "skipped";
    removed += done;
  }
  return removed;
}
