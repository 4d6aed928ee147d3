// Files written whole: the content goes into a new hidden file beside the
// target, is flushed to disk and renamed over the target, and the directory
// is flushed too. The target is at every moment the old file or the whole
// new one, whatever happens to the run.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sys/safe_dirs.h"

struct FileAccess {
  mode_t mode = 0644;
  std::optional<uid_t> owner;
  std::optional<gid_t> group;
  // Take mode and owner from the file being replaced, when there is one.
  bool keepExisting = false;
};

// What to do when a symbolic link stands at the target's name: leave it
// alone (and fail), or replace the link itself (never writing through it).
enum class LinkAtTarget { Refuse, Replace };

bool writeFileAtomically(const SafeDir& dir, const std::string& name, std::string_view content,
                         const FileAccess& access, Failure* why = nullptr, LinkAtTarget atLink = LinkAtTarget::Refuse);

// A file being written beside its target: write, then commit (flush, rename
// over the target, flush the directory). Many files can share the flushes
// instead: finish each (mode, owner, closed), make them durable together
// (DurableBatch), then place each. Removed unless placed.
class PendingFile {
 public:
  explicit PendingFile(const SafeDir& dir);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool ok() const { return !hasError_; }
  const Failure& error() const { return error_; }
  std::string path() const { return dir_.pathOf(name_); }
  bool write(std::string_view text);
  // Puts it at name (see writeFileAtomically for the rules on what stands there).
  bool commit(const std::string& name, const FileAccess& access, LinkAtTarget atLink = LinkAtTarget::Refuse);
  // The first half: mode and owner set for name, the file closed, not flushed.
  bool finish(const std::string& name, const FileAccess& access, LinkAtTarget atLink = LinkAtTarget::Refuse);
  // The second half, once the data is on disk: renamed over the target.
  bool place();
  // The content as it stands on disk, before it is placed.
  std::optional<std::string> readBack() const;

 private:
  bool failed(FailureKind kind, const std::string& path);
  bool settle(const std::string& name, const FileAccess& requested, bool flush);
  const SafeDir& dir_;
  std::string name_;
  std::string target_;
  LinkAtTarget atLink_ = LinkAtTarget::Refuse;
  FdHolder fd_;
  bool hasError_ = false;
  Failure error_;
  bool created_ = false;
  bool committed_ = false;
};

// Flushes shared by many files: the data of every file system the
// directories are on, before the renames; each directory once, after them.
class DurableBatch {
 public:
  void add(const SafeDir& dir);
  // False when a file system reports that it could not write back.
  bool flushData();
  void flushDirectories();

 private:
  std::vector<int> dirs_;
};

// Hidden temporary names of ours: ".zebtmp" and six letters or digits (and
// ".zebot" ones that earlier releases left in the scheduler's PPD directory).
// Scans never take them for anything else.
bool isOwnTemporaryName(std::string_view name);
// The temporaries of ours that a killed run left in the directory (regular
// files owned by root only).
std::vector<std::string> staleTemporaries(const SafeDir& dir);
