#include "sys/atomic_files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sys/dir_listing.h"
#include "sys/file_reading.h"

namespace {

constexpr std::string_view kTempPrefix = ".zebtmp";
constexpr std::string_view kOlderTempPrefix = ".zebot";
constexpr size_t kTempRandomChars = 6;

std::string randomSuffix() {
  static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::array<unsigned char, kTempRandomChars> bytes{};
  if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    for (auto& b : bytes) b = static_cast<unsigned char>(std::rand());
  }
  std::string suffix;
  for (unsigned char b : bytes) suffix += kAlphabet[b % kAlphabet.size()];
  return suffix;
}

bool writeAllTo(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Whether the target may be replaced; the access to give the new file.
std::optional<FileAccess> settleTarget(const SafeDir& dir, const std::string& name, const FileAccess& access,
                                       LinkAtTarget atLink, Failure* why) {
  struct stat old {};
  EntryType type = entryType(dir.fd(), name, &old);
  std::string path = dir.pathOf(name);
  if (!isSingleComponent(name)) {
    fail(why, FailureKind::NotAName, path);
    return std::nullopt;
  }
  if (type == EntryType::Link && atLink == LinkAtTarget::Refuse) {
    fail(why, FailureKind::LinkInTheWay, path);
    return std::nullopt;
  }
  if (type == EntryType::Directory || type == EntryType::Other) {
    fail(why, FailureKind::NotARegularFile, path);
    return std::nullopt;
  }
  FileAccess settled = access;
  if (access.keepExisting && type == EntryType::Regular) {
    settled.mode = old.st_mode & 07777;
    settled.owner = old.st_uid;
    settled.group = old.st_gid;
  }
  return settled;
}

}  // namespace

PendingFile::PendingFile(const SafeDir& dir) : dir_(dir) {
  for (int attempt = 0; attempt < 100 && fd_.get() < 0; ++attempt) {
    name_ = std::string(kTempPrefix) + randomSuffix();
    fd_.reset(::openat(dir.fd(), name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd_.get() < 0 && errno != EEXIST) break;
  }
  created_ = fd_.get() >= 0;
  if (!created_) failed(FailureKind::CannotCreateIn, dir.path());
}

PendingFile::~PendingFile() {
  if (created_ && !committed_) ::unlinkat(dir_.fd(), name_.c_str(), 0);
}

bool PendingFile::failed(FailureKind kind, const std::string& path) {
  hasError_ = true;
  return fail(&error_, kind, path, errno);
}

bool PendingFile::write(std::string_view text) {
  if (!ok()) return false;
  return writeAllTo(fd_.get(), text) || failed(FailureKind::CannotWrite, path());
}

bool PendingFile::settle(const std::string& name, const FileAccess& requested, bool flush) {
  if (!ok()) return false;
  std::optional<FileAccess> access = settleTarget(dir_, name, requested, atLink_, &error_);
  if (!access) {
    hasError_ = true;
    return false;
  }
  target_ = name;
  if (::fchmod(fd_.get(), access->mode) != 0) return failed(FailureKind::CannotSetMode, path());
  if ((access->owner || access->group) && ::fchown(fd_.get(), access->owner.value_or(static_cast<uid_t>(-1)),
                                                   access->group.value_or(static_cast<gid_t>(-1))) != 0)
    return failed(FailureKind::CannotSetOwner, path());
  if (flush && ::fsync(fd_.get()) != 0) return failed(FailureKind::CannotFlush, path());
  if (::close(fd_.release()) != 0) return failed(FailureKind::CannotWrite, path());
  return true;
}

bool PendingFile::finish(const std::string& name, const FileAccess& access, LinkAtTarget atLink) {
  atLink_ = atLink;
  return settle(name, access, false);
}

bool PendingFile::place() {
  if (!ok() || target_.empty()) return false;
  // Whatever stands at the target now is judged again: it may have changed.
  if (!settleTarget(dir_, target_, FileAccess{}, atLink_, &error_)) {
    hasError_ = true;
    return false;
  }
  if (::renameat(dir_.fd(), name_.c_str(), dir_.fd(), target_.c_str()) != 0)
    return failed(FailureKind::CannotRename, dir_.pathOf(target_));
  committed_ = true;
  return true;
}

std::optional<std::string> PendingFile::readBack() const {
  if (!created_ || committed_) return std::nullopt;
  FdHolder in(::openat(dir_.fd(), name_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (in.get() < 0) return std::nullopt;
  return readWholeDescriptor(in.get());
}

bool PendingFile::commit(const std::string& name, const FileAccess& access, LinkAtTarget atLink) {
  atLink_ = atLink;
  if (!settle(name, access, true) || !place()) return false;
  // The rename is a finished step only once the directory is on disk too.
  ::fsync(dir_.fd());
  return true;
}

void DurableBatch::add(const SafeDir& dir) {
  if (std::find(dirs_.begin(), dirs_.end(), dir.fd()) == dirs_.end()) dirs_.push_back(dir.fd());
}

bool DurableBatch::flushData() {
  std::vector<dev_t> done;
  bool flushed = true;
  for (int fd : dirs_) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || std::find(done.begin(), done.end(), info.st_dev) != done.end()) continue;
    if (::syncfs(fd) != 0) flushed = false;
    done.push_back(info.st_dev);
  }
  return flushed;
}

void DurableBatch::flushDirectories() {
  for (int fd : dirs_) ::fsync(fd);
}

bool writeFileAtomically(const SafeDir& dir, const std::string& name, std::string_view content,
                         const FileAccess& access, Failure* why, LinkAtTarget atLink) {
  if (!settleTarget(dir, name, access, atLink, why)) return false;
  PendingFile file(dir);
  if (file.write(content) && file.commit(name, access, atLink)) return true;
  if (why) *why = file.error();
  return false;
}

bool isOwnTemporaryName(std::string_view name) {
  for (std::string_view prefix : {kTempPrefix, kOlderTempPrefix}) {
    if (name.size() != prefix.size() + kTempRandomChars || !name.starts_with(prefix)) continue;
    std::string_view rest = name.substr(prefix.size());
    if (std::all_of(rest.begin(), rest.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
      return true;
  }
  return false;
}

std::vector<std::string> staleTemporaries(const SafeDir& dir) {
  std::vector<std::string> stale;
  for (const std::string& name : listDirectoryAt(dir.fd())) {
    struct stat info {};
    if (isOwnTemporaryName(name) && entryType(dir.fd(), name, &info) == EntryType::Regular && info.st_uid == 0)
      stale.push_back(name);
  }
  return stale;
}
