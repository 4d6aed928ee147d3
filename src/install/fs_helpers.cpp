#include "install/fs_helpers.h"

#include <sys/stat.h>

#include <array>

#include "services/effects.h"
#include "services/failure_text.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/atomic_files.h"
#include "sys/file_reading.h"
#include "sys/sha256.h"
#include "sys/text.h"

namespace {

// Never writable by group or others: in a world-writable /opt/orv any user
// could swap the programs that root runs from it.
constexpr mode_t kForeignWrite = S_IWGRP | S_IWOTH;
// The directories an installation of the product has by its layout.
constexpr std::array kLayoutDirs = {"bin", "etc", "ppd", "man", "Default"};

std::string absolute(const std::string& given) {
  return withoutTrailingSlashes(given.front() == '/' ? given : canonicalPath(given, ".").value_or(given));
}

// The "orv" directory of a PPD tree that the run uses or found is the product's by its name.
bool isProductPpdDirectory(const std::string& path) {
  const RunSettings& s = runSettings();
  return lastComponent(path) == "orv" && (path == s.ppdInstallDir || path == s.existingPpdDir);
}

}  // namespace

int ensureDirectory(const std::string& given, int create, mode_t requested) {
  if (given.empty()) return -1;
  std::string path = absolute(given);
  if (path == "/" || effects().isDirectory(path)) return 0;
  Failure why;
  std::optional<SafeDir> parent = SafeDir::open(directoryOf(path), &why);
  EntryType type = parent ? entryType(parent->fd(), lastComponent(path)) : EntryType::Missing;
  if (type == EntryType::Link) fail(&why, FailureKind::LinkInTheWay, path);
  if (type == EntryType::Link || (!parent && why.kind == FailureKind::LinkInTheWay)) {
    logFailure(describe(why));
    return -1;
  }
  if (type != EntryType::Missing || create == 0) return -1;
  mode_t mode = requested & ~kForeignWrite;
  // The record names the directory before it exists: a run killed right
  // after making it leaves a directory the next run knows as the product's.
  OwnershipRecord& record = productRecord();
  const bool known = record.madeDirectory(path);
  record.addMadeDirectory(path);
  if (!effects().onlyPlans() && !known) saveProductRecord(nullptr);
  if (!effects().makeDirectory(path, mode, &why)) {
    if (!known) record.forgetDirectory(path);
    return -1;
  }
  logChange(formatMessage(msg::kDirCreated, path));
  logChange(formatMessage(msg::kModeSet, path, mode));
  return 1;
}

void makePath(const std::string& path) {
  for (size_t slash = path.find('/', 2); slash != std::string::npos; slash = path.find('/', slash + 1))
    ensureDirectory(path.substr(0, slash), 1, 0777);
  ensureDirectory(path, 1, 0777);
}

int symlinkIfAbsent(const std::string& target, const std::string& link) {
  if (!effects().exists(target)) {
    logMsg(msg::kNoFile, target);
    return -1;
  }
  if (effects().exists(link)) {
    logMsg(msg::kLinkPathExists, link);
    return -1;
  }
  return effects().makeLink(link, target, nullptr) ? 0 : -1;
}

void flattenLine(std::string& text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
}

bool writeProductFile(const std::string& path, const std::string& text, const FileAccess& access, Failure* why,
                      bool* wrote, const std::function<bool(std::string_view)>& alreadyRight) {
  std::optional<std::string> old = readWholeFile(path);
  struct stat info {};
  bool sameAccess = ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                    (info.st_mode & 07777) == access.mode && (!access.owner || info.st_uid == *access.owner) &&
                    (!access.group || info.st_gid == *access.group);
  bool right = old && sameAccess && (alreadyRight ? alreadyRight(*old) : *old == text);
  if (!right && !effects().writeFile({path, text, access}, why)) return false;
  if (wrote) *wrote = !right;
  productRecord().setFile({path, sha256Hex(right ? *old : text), access.mode});
  return true;
}

bool takeBackDirectory(const std::string& path) {
  std::optional<SafeDir> dir = SafeDir::open(path);
  struct stat info {};
  if (!dir || ::fstat(dir->fd(), &info) != 0) return false;
  if (info.st_uid == 0 && info.st_gid == 0 && (info.st_mode & kForeignWrite) == 0) return true;
  mode_t mode = info.st_mode & 07777 & ~kForeignWrite;
  std::string line = formatMessage(msg::kTakingBackDir, path, mode, static_cast<int>(info.st_uid),
                                   static_cast<int>(info.st_gid), info.st_mode & 07777);
  if (!effects().takeBackDirectory(path, mode, nullptr)) {
    logFailure(withErrorMark(line));
    return false;
  }
  logChange(line);
  return true;
}

void removeLeftoverTemporaries(const std::string& dir) {
  std::optional<SafeDir> handle = SafeDir::open(dir);
  if (!handle) return;
  int removed = 0;
  for (const std::string& name : staleTemporaries(*handle)) removed += effects().removeFile(joinPath(dir, name), nullptr);
  if (removed > 0) logChange(formatMessage(msg::kRemovedLeftovers, removed, dir));
}

bool productMadeDirectory(const std::string& path) {
  const OwnershipRecord& record = productRecord();
  const RunSettings& s = runSettings();
  if (!record.installDir.empty() && path == record.installDir) return record.installDirMade;
  if (record.madeDirectory(path)) return true;
  if (productRecordFound()) return false;
  // Without a record, the installation that a root-owned information file
  // names is the product's, with the directories of its layout.
  if (isProductPpdDirectory(path)) return true;
  if (!s.existingInstall || s.installDir != s.existingInstallDir) return false;
  if (path == s.installDir) return true;
  for (const char* sub : kLayoutDirs) {
    if (path == joinPath(s.installDir, sub)) return true;
  }
  return false;
}

void seedRecordFromInstallation() {
  const RunSettings& s = runSettings();
  if (productRecordFound() || !productMadeDirectory(s.installDir)) return;
  OwnershipRecord& record = productRecord();
  record.installDir = s.installDir;
  record.installDirMade = true;
  for (const char* sub : kLayoutDirs) {
    std::string dir = joinPath(s.installDir, sub);
    if (effects().isDirectory(dir)) record.addMadeDirectory(dir);
  }
}
