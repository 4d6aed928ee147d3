#include "install/fs_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "services/run_log.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

// Never writable by group or others: in a world-writable /opt/orv any user
// could swap the programs that root runs from it.
constexpr mode_t kForeignWrite = S_IWGRP | S_IWOTH;

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The directory holding path's last component, reached without following links.
std::optional<SafeDir> parentOf(const std::string& path) {
  std::string why;
  std::optional<SafeDir> parent = SafeDir::open(directoryOf(path), &why);
  if (!parent && why.find("symbolic link") != std::string::npos) logFailure(why + ".");
  return parent;
}

int makeDirectoryAt(const SafeDir& parent, const std::string& name, const std::string& path, mode_t mode) {
  if (::mkdirat(parent.fd(), name.c_str(), mode) != 0) return -1;
  logMsg(msg::kDirCreated, path);
  bool changed = false;
  if (std::optional<SafeDir> made = parent.child(name)) changed = ::fchmod(made->fd(), mode) == 0;
  if (changed) {
    logMsg(msg::kModeSet, path, mode);
  } else {
    logMsg(msg::kChmodFailed, path, mode);
  }
  return 1;
}

}  // namespace

int ensureDirectory(const std::string& given, int create, mode_t requested) {
  if (given.empty()) return -1;
  std::string path = withoutTrailingSlashes(given.front() == '/' ? given : canonicalPath(given, ".").value_or(given));
  if (path == "/") return 0;
  std::optional<SafeDir> parent = parentOf(path);
  if (!parent) return -1;
  std::string name = lastComponent(path);
  switch (entryType(parent->fd(), name)) {
    case EntryType::Directory: return 0;
    case EntryType::Missing: return create == 0 ? -1 : makeDirectoryAt(*parent, name, path, requested & ~kForeignWrite);
    case EntryType::Link:
      logFailure("'" + path + "' is a symbolic link where a directory was expected; left alone.");
      return -1;
    default: return -1;
  }
}

void makePath(const std::string& path) {
  for (size_t slash = path.find('/', 2); slash != std::string::npos; slash = path.find('/', slash + 1))
    ensureDirectory(path.substr(0, slash), 1, 0777);
  ensureDirectory(path, 1, 0777);
}

int symlinkIfAbsent(const std::string& target, const std::string& link) {
  if (!pathExists(target)) {
    logIfAny(formatText("No file: %s", target.c_str()));
    return -1;
  }
  if (!pathExists(link)) {
    std::optional<SafeDir> parent = parentOf(link);
    if (!parent) return -1;
    return ::symlinkat(target.c_str(), parent->fd(), lastComponent(link).c_str());
  }
  logMsg(msg::kLinkPathExists, link);
  return -1;
}

void flattenLine(std::string& text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
}

bool takeBackDirectory(const std::string& path) {
  std::optional<SafeDir> parent = parentOf(path);
  std::optional<SafeDir> dir = parent ? parent->child(lastComponent(path)) : std::nullopt;
  if (!dir) return false;
  struct stat info {};
  if (::fstat(dir->fd(), &info) != 0) return false;
  if (info.st_uid == 0 && info.st_gid == 0 && (info.st_mode & kForeignWrite) == 0) return true;
  mode_t mode = info.st_mode & 07777 & ~kForeignWrite;
  bool done = ::fchown(dir->fd(), 0, 0) == 0 && ::fchmod(dir->fd(), mode) == 0;
  std::string line = formatText("Taking back %s: owner root, mode %04o (it was owner %d, group %d, mode %04o).",
                                path.c_str(), static_cast<unsigned>(mode), static_cast<int>(info.st_uid),
                                static_cast<int>(info.st_gid), static_cast<unsigned>(info.st_mode & 07777));
  if (done) {
    logMessage(line);
  } else {
    logFailure(withErrorMark(line));
  }
  return done;
}
