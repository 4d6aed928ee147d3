// What changed: snapshots of the upper layer and the difference between two of them.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "sandbox/sandbox_internal.h"

namespace fs = std::filesystem;

namespace {

bool isExcluded(const std::string& path) {
  for (const std::string top : {"/proc", "/run", "/dev", "/sys"}) {
    if (path == top || path.starts_with(top + "/")) return true;
  }
  return false;
}

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool sameAttributes(const struct stat& a, const struct stat& b) {
  return a.st_mode == b.st_mode && a.st_uid == b.st_uid && a.st_gid == b.st_gid;
}

// Directories count as changed by their attributes only: their times move
// whenever an entry inside does, which is reported on its own.
bool sameContent(const struct stat& a, const struct stat& b) {
  if (!sameAttributes(a, b)) return false;
  if (S_ISDIR(a.st_mode)) return true;
  return a.st_size == b.st_size && sameTime(a.st_mtim, b.st_mtim) && a.st_rdev == b.st_rdev;
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const SandboxChange& change) {
  switch (change.kind) {
    case SandboxChange::Kind::Created: os << "created "; break;
    case SandboxChange::Kind::Modified: os << "modified "; break;
    case SandboxChange::Kind::Removed: os << "removed "; break;
  }
  return os << change.path;
}

// Walks one directory at a time, so that a directory vanishing under a
// running scheduler costs only its own entries, not the rest of the walk.
void SandboxHost::scan(const std::string& relative, Snapshot& entries) const {
  std::error_code error;
  for (fs::directory_iterator it(upper_ + relative, error), end; !error && it != end; it.increment(error)) {
    const std::string path = relative + "/" + it->path().filename().string();
    if (isExcluded(path)) continue;
    Entry entry;
    if (::lstat(it->path().c_str(), &entry.info) != 0) continue;  // gone meanwhile
    char flag = 0;
    entry.opaque =
        entry.directory() && ::lgetxattr(it->path().c_str(), "trusted.overlay.opaque", &flag, 1) == 1 && flag == 'y';
    entries.emplace(path, entry);
    if (entry.directory()) scan(path, entries);
  }
}

SandboxHost::Snapshot SandboxHost::snapshot() const {
  Snapshot entries;
  scan("", entries);
  return entries;
}

std::vector<SandboxChange> SandboxHost::diff(const Snapshot& before, const Snapshot& after) const {
  // The machine's copy of a path shows through unless an ancestor is a whiteout or opaque.
  const auto machineHas = [&](const std::string& path, struct stat* info) {
    for (auto parent = fs::path(path).parent_path(); parent != parent.root_path(); parent = parent.parent_path()) {
      const auto found = after.find(parent.string());
      if (found != after.end() && (found->second.opaque || found->second.whiteout())) return false;
    }
    return ::lstat(path.c_str(), info) == 0;
  };
  std::vector<Change> changes;
  const auto note = [&](const std::string& path, Change::Kind kind) { changes.push_back({path, kind}); };
  for (const auto& [path, now] : after) {
    const auto old = before.find(path);
    if (old == before.end()) {
      struct stat machine {};
      if (now.whiteout())
        note(path, Change::Kind::Removed);
      else if (!machineHas(path, &machine))
        note(path, Change::Kind::Created);
      else if (!sameContent(now.info, machine))
        note(path, Change::Kind::Modified);
    } else if (now.whiteout() != old->second.whiteout()) {
      note(path, now.whiteout() ? Change::Kind::Removed : Change::Kind::Created);
    } else if (!sameContent(now.info, old->second.info) || now.info.st_ino != old->second.info.st_ino ||
               now.opaque != old->second.opaque) {
      note(path, Change::Kind::Modified);
    }
  }
  for (const auto& [path, old] : before) {
    if (!old.whiteout() && !after.contains(path)) note(path, Change::Kind::Removed);
  }
  std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.path < b.path; });
  return changes;
}
