#include "removal/uninstall.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "run/run_log.h"
#include "run/file_handles.h"
#include "run/run_settings.h"
#include "run/shell.h"

namespace {

bool isDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool lstatPath(int dirFd, const char* name, struct stat& info) {
  return ::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

int removeDirectoryAt(int parentFd, const char* name);

// One entry of a directory being emptied. Regular files go, and so do links
// to regular files or directories (the link, never what it points to); a
// directory is emptied and removed; fifos, sockets and devices stay.
void removeEntryAt(int dirFd, const char* name) {
  struct stat self {};
  if (!lstatPath(dirFd, name, self)) return;
  if (S_ISDIR(self.st_mode)) {
    removeDirectoryAt(dirFd, name);
    return;
  }
  struct stat target = self;
  if (S_ISLNK(self.st_mode) && ::fstatat(dirFd, name, &target, 0) != 0) return;
  if (S_ISREG(target.st_mode) || S_ISDIR(target.st_mode)) ::unlinkat(dirFd, name, 0);
}

// Removes every entry it can; false when the directory could not be listed.
bool emptyDirectory(DIR* dir) {
  int fd = ::dirfd(dir);
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (!entry) return errno == 0;
    if (!isDotEntry(entry->d_name)) removeEntryAt(fd, entry->d_name);
  }
}

// O_NOFOLLOW: a directory swapped for a link while we walk is never entered.
int removeDirectoryAt(int parentFd, const char* name) {
  FdHolder fd(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return -1;
  DirPtr dir(::fdopendir(fd.get()));
  if (!dir) return -1;
  fd.release();  // the listing owns it now
  if (!emptyDirectory(dir.get())) return -1;
  return ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0 ? 0 : -1;
}

bool pathExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A link counts as existing by itself, so a dangling one is removed too.
bool removeFile(const std::string& path) {
  struct stat info {};
  if (!lstatPath(AT_FDCWD, path.c_str(), info)) return false;
  return ::unlink(path.c_str()) == 0;
}

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

// What a queue may have left in /dev: never a device, a socket or a directory.
void removeDeviceEntry(const std::string& name) {
  std::string path = "/dev/" + name;
  if (path == "/dev/null") return;
  struct stat info {};
  if (!lstatPath(AT_FDCWD, path.c_str(), info)) return;
  if (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISLNK(info.st_mode))
    ::unlink(path.c_str());
}

std::optional<std::string> modelFilePath(int printerManager, const std::string& name) {
  if (printerManager == kPrinterLp) return "/usr/spool/lp/model/" + name;
  const std::string& dataDir = runSettings().commands.cupsDataDir;
  if (printerManager == kPrinterCups && !dataDir.empty()) return dataDir + "/model/" + name;
  return std::nullopt;
}

void retireModelFile(const std::string& model) {
  if (!pathExists(model)) return;
  std::string old = model + ".old";
  ::rename(model.c_str(), old.c_str());
  if (pathExists(model)) ::unlink(model.c_str());
}

bool handlesPrinterManager(int kind) {
  return kind == kPrinterUnknown || kind == kPrinterLp || kind == kPrinterCups;
}

}  // namespace

bool isUsableQueueName(const std::string& name) {
  if (name.find('/') != std::string::npos || name == "." || name == "..") return false;
  return name.find_first_not_of(" \t\n\r\f\v") != std::string::npos;
}

std::string queueRemovalCommand(const std::string& lpadmin, const std::string& name) {
  return shellQuote(lpadmin) + " -x" + shellQuote(name) + " 2>/dev/null";
}

std::string queueQueryCommand(const std::string& lpstat, const std::string& name) {
  return shellQuote(lpstat) + " -p" + shellQuote(name) + " -l > /dev/null";
}

int removeTree(const std::string& path) {
  if (!pathExists(path)) return -1;
  struct stat info {};
  if (!lstatPath(AT_FDCWD, path.c_str(), info)) return -1;
  if (S_ISLNK(info.st_mode)) return ::unlink(path.c_str()) == 0 ? 0 : -1;
  return removeDirectoryAt(AT_FDCWD, path.c_str());
}

int removeQueue(const std::string& name) {
  int printerManager = runSettings().printerManager;
  if (!handlesPrinterManager(printerManager) || !isUsableQueueName(name)) return 0;
  removeQueueCommands(name);
  removeDeviceEntry(name);
  if (std::optional<std::string> model = modelFilePath(printerManager, name)) retireModelFile(*model);
  return 1;
}

int removeQueueDir(const std::string& name) {
  if (!isUsableQueueName(name)) return -1;
  std::string dir = runSettings().installDir + "/" + name;
  if (!pathExists(dir)) return -1;
  int result = removeTree(dir);
  std::string script = dir + ".sh";
  if (pathExists(script)) ::unlink(script.c_str());
  return result;
}

void removeQueues() {
  const std::vector<QueueRecord>& records = runSettings().queueList.records;
  for (size_t i = 1; i < records.size(); ++i) {
    const std::string& name = records[i].name;
    if (name.empty() || name == "Default") continue;
    if (!isUsableQueueName(name)) {
      logMessage(formatText("Queue name passed over, it cannot name a queue or a file: '%s'.",
                            name.c_str()));
      continue;
    }
    removeQueue(name);
    removeQueueDir(name);
    logMsg(msg::kRemovingQueue, name);
  }
}

void removeInstalledFiles() {
  const std::string dir = runSettings().installDir;
  if (::chdir(dir.c_str()) != 0) {
    logMsg(msg::kInstallDirMissing, dir);
    return;
  }
  const std::string files[] = {
      dir + "/mivo",          dir + "/mivoInfo4.0",      dir + "/bin/zebgsfilter",
      "/usr/bin/zebgsfilter", dir + "/etc/UNINSTALLMIVO", dir + "/bin/setup",
      dir + "/etc/mivo4.0.png", dir + "/MIVOINST.CONF",  dir + "/etc/MIVOINST.CONF",
      "/usr/bin/zebgsfilter", dir + "/bin/nc",
  };
  for (const std::string& file : files) logOutcome(formatMessage(msg::kRemovingFile, file), removeFile(file));
  for (const char* sub : {"/Default", "/ppd", "/etc", "/bin"}) {
    std::string path = dir + sub;
    logOutcome(formatMessage(msg::kRemovingDir, path), removeTree(path) == 0);
  }
}
