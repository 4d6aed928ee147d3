#include "sys/safe_dirs.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>

#include "sys/dir_listing.h"
#include "sys/text.h"

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// How many links one walk may follow, as the kernel allows.
constexpr int kLinkLimit = 40;

// Why an entry could not be entered as a directory.
bool refusal(Failure* why, int dirFd, const std::string& name, const std::string& path, int error) {
  switch (entryType(dirFd, name)) {
    case EntryType::Link: return fail(why, FailureKind::LinkInTheWay, path);
    case EntryType::Missing: return fail(why, FailureKind::Missing, path);
    case EntryType::Directory: return fail(why, FailureKind::CannotOpen, path, error);
    default: return fail(why, FailureKind::NotADirectory, path);
  }
}

bool rootOnlyAt(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && isRootOnly(info);
}

}  // namespace

bool isSingleComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool isRootOnly(const struct stat& info) { return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0; }

EntryType entryType(int dirFd, const std::string& name, struct stat* info) {
  struct stat own {};
  if (::fstatat(dirFd, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) return EntryType::Missing;
  if (info) *info = own;
  if (S_ISREG(own.st_mode)) return EntryType::Regular;
  if (S_ISDIR(own.st_mode)) return EntryType::Directory;
  if (S_ISLNK(own.st_mode)) return EntryType::Link;
  return EntryType::Other;
}

std::optional<SafeDir> SafeDir::open(const std::string& absolutePath, Failure* why) {
  return walk(absolutePath, why, kLinkLimit);
}

std::optional<SafeDir> SafeDir::walk(const std::string& absolutePath, Failure* why, int linksLeft) {
  if (absolutePath.empty() || absolutePath.front() != '/') {
    fail(why, FailureKind::NotAbsolute, absolutePath);
    return std::nullopt;
  }
  FdHolder root(::open("/", kDirFlags));
  if (root.get() < 0) {
    fail(why, FailureKind::CannotOpen, "/", errno);
    return std::nullopt;
  }
  bool rootOnly = rootOnlyAt(root.get());
  SafeDir current(std::move(root), "/", rootOnly);
  size_t at = 1;
  while (at <= absolutePath.size()) {
    size_t slash = absolutePath.find('/', at);
    if (slash == std::string::npos) slash = absolutePath.size();
    std::string name = absolutePath.substr(at, slash - at);
    at = slash + 1;
    if (name.empty() || name == ".") continue;
    std::optional<SafeDir> next = current.step(name, why, linksLeft);
    if (!next) return std::nullopt;
    current = std::move(*next);
  }
  return current;
}

std::string SafeDir::pathOf(const std::string& name) const { return joinPath(path_, name); }

std::optional<SafeDir> SafeDir::child(const std::string& name, Failure* why) const {
  return step(name, why, kLinkLimit);
}

std::optional<SafeDir> SafeDir::step(const std::string& name, Failure* why, int linksLeft) const {
  if (!isSingleComponent(name)) {
    fail(why, FailureKind::NotAName, pathOf(name));
    return std::nullopt;
  }
  FdHolder fd(::openat(fd_.get(), name.c_str(), kDirFlags));
  if (fd.get() >= 0) {
    bool rootOnly = rootOnly_ && rootOnlyAt(fd.get());
    return SafeDir(std::move(fd), pathOf(name), rootOnly);
  }
  int error = errno;
  struct stat info {};
  if (rootOnly_ && linksLeft > 0 && entryType(fd_.get(), name, &info) == EntryType::Link && info.st_uid == 0)
    return followLink(name, why, linksLeft - 1);
  refusal(why, fd_.get(), name, pathOf(name), error);
  return std::nullopt;
}

// A link only root could have made: its target, walked by the same rule
// from the root, under the name the caller used.
std::optional<SafeDir> SafeDir::followLink(const std::string& name, Failure* why, int linksLeft) const {
  std::array<char, 4096> buffer{};
  ssize_t length = ::readlinkat(fd_.get(), name.c_str(), buffer.data(), buffer.size() - 1);
  if (length <= 0) {
    fail(why, FailureKind::CannotRead, pathOf(name), errno);
    return std::nullopt;
  }
  std::string target(buffer.data(), static_cast<size_t>(length));
  std::filesystem::path resolved = target.front() == '/' ? std::filesystem::path(target)
                                                         : std::filesystem::path(path_) / target;
  std::optional<SafeDir> reached = walk(resolved.lexically_normal().string(), why, linksLeft);
  if (!reached) return std::nullopt;
  reached->path_ = pathOf(name);
  return reached;
}

std::optional<SafeDir> SafeDir::childOrCreate(const std::string& name, mode_t mode, bool* created,
                                              Failure* why) const {
  if (created) *created = false;
  if (isSingleComponent(name) && ::mkdirat(fd_.get(), name.c_str(), mode) == 0) {
    if (created) *created = true;
    std::optional<SafeDir> made = child(name, why);
    // mkdir is subject to the umask; the mode asked for is the mode wanted.
    if (made) ::fchmod(made->fd(), mode);
    return made;
  }
  return child(name, why);
}

std::optional<SafeDir> SafeDir::below(const std::string& relative, Failure* why) const {
  FdHolder start(::openat(fd_.get(), ".", kDirFlags));
  if (start.get() < 0) {
    fail(why, FailureKind::CannotOpen, path_, errno);
    return std::nullopt;
  }
  SafeDir current(std::move(start), path_, rootOnly_);
  size_t at = 0;
  while (at <= relative.size()) {
    size_t slash = relative.find('/', at);
    if (slash == std::string::npos) slash = relative.size();
    std::string name = relative.substr(at, slash - at);
    at = slash + 1;
    if (name.empty() || name == ".") continue;
    std::optional<SafeDir> next = current.child(name, why);
    if (!next) return std::nullopt;
    current = std::move(*next);
  }
  return current;
}

std::optional<SafeDir> openRootOnlyDirectory(const std::string& path, Failure* why) {
  std::optional<SafeDir> parent = SafeDir::open(directoryOf(path), why);
  if (!parent) return std::nullopt;
  std::optional<SafeDir> dir = parent->childOrCreate(lastComponent(path), 0755, nullptr, why);
  if (dir && !dir->rootOnly()) {
    fail(why, FailureKind::NotRootOnly, path);
    return std::nullopt;
  }
  return dir;
}

bool removeFileAt(const SafeDir& dir, const std::string& name, Failure* why) {
  EntryType type = entryType(dir.fd(), name);
  if (type == EntryType::Missing) return fail(why, FailureKind::Missing, dir.pathOf(name));
  if (type != EntryType::Regular && type != EntryType::Link)
    return fail(why, FailureKind::NotARegularFile, dir.pathOf(name));
  if (::unlinkat(dir.fd(), name.c_str(), 0) == 0) return true;
  return fail(why, FailureKind::CannotRemove, dir.pathOf(name), errno);
}

namespace {

void emptyDirectory(const SafeDir& dir) {
  for (const std::string& name : listDirectoryAt(dir.fd())) {
    switch (entryType(dir.fd(), name)) {
      case EntryType::Directory: removeTreeAt(dir, name); break;
      case EntryType::Regular:
      case EntryType::Link: ::unlinkat(dir.fd(), name.c_str(), 0); break;
      default: break;  // fifos, sockets and devices stay
    }
  }
}

}  // namespace

int removeTreeAt(const SafeDir& dir, const std::string& name, Failure* why) {
  // Inside a tree being removed a link is never followed, whoever made it.
  if (entryType(dir.fd(), name) != EntryType::Directory) {
    refusal(why, dir.fd(), name, dir.pathOf(name), ENOTDIR);
    return -1;
  }
  std::optional<SafeDir> tree = dir.child(name, why);
  if (!tree) return -1;
  emptyDirectory(*tree);
  if (::unlinkat(dir.fd(), name.c_str(), AT_REMOVEDIR) == 0) return 0;
  fail(why, FailureKind::CannotRemove, dir.pathOf(name), errno);
  return -1;
}
