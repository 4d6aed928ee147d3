// Directories reached by a walk that follows a symbolic link only where root
// alone could have made it: every write, chmod and removal in the product's
// directories, the PPD directories and the scheduler's directory goes through
// one, so a link that another user put in the way is found and left alone
// instead of being followed.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "sys/failure.h"
#include "sys/file_handles.h"

class SafeDir {
 public:
  // Walks an absolute path from "/" one component at a time; nothing (and
  // why) when a component is not a directory, cannot be opened, or is a link
  // that someone other than root could have made (see child).
  static std::optional<SafeDir> open(const std::string& absolutePath, Failure* why = nullptr);
  // One entry below. A link there is followed only when root owns it and
  // every directory of the walk so far is root's alone (owned by root, not
  // writable by group or others); its target is walked by the same rule.
  std::optional<SafeDir> child(const std::string& name, Failure* why = nullptr) const;
  // The same, made with exactly mode when missing; created tells whether it was made now.
  std::optional<SafeDir> childOrCreate(const std::string& name, mode_t mode, bool* created,
                                       Failure* why = nullptr) const;
  // A relative path of several components below.
  std::optional<SafeDir> below(const std::string& relative, Failure* why = nullptr) const;

  int fd() const { return fd_.get(); }
  // The path as the caller named it (links not resolved).
  const std::string& path() const { return path_; }
  std::string pathOf(const std::string& name) const;
  // Every directory of the walk that reached this one is root's alone.
  bool rootOnly() const { return rootOnly_; }

 private:
  SafeDir(FdHolder fd, std::string path, bool rootOnly)
      : fd_(std::move(fd)), path_(std::move(path)), rootOnly_(rootOnly) {}
  static std::optional<SafeDir> walk(const std::string& absolutePath, Failure* why, int linksLeft);
  std::optional<SafeDir> step(const std::string& name, Failure* why, int linksLeft) const;
  std::optional<SafeDir> followLink(const std::string& name, Failure* why, int linksLeft) const;
  FdHolder fd_;
  std::string path_;
  bool rootOnly_ = false;
};

enum class EntryType { Missing, Regular, Directory, Link, Other };
// What stands at name in the directory, the entry itself (a link is a link).
EntryType entryType(int dirFd, const std::string& name, struct stat* info = nullptr);
// A name that is one path component: not empty, no '/', not "." or "..".
bool isSingleComponent(const std::string& name);
// Owned by root and writable by nobody else.
bool isRootOnly(const struct stat& info);

// A directory for files only root may write (a record, a report): made with
// mode 0755 when missing; nothing (and why) unless it and every directory
// above it are root's alone.
std::optional<SafeDir> openRootOnlyDirectory(const std::string& path, Failure* why = nullptr);

// Removes a regular file or a link itself (never what it points to); false
// when there was nothing, or something else, or the removal failed.
bool removeFileAt(const SafeDir& dir, const std::string& name, Failure* why = nullptr);
// Removes a directory tree bottom-up without following links (a link inside
// is removed itself); fifos, sockets and devices stay, and then so do the
// directories holding them. -1 when name is missing or not a directory (a
// link there is left alone), else the result of removing the emptied directory.
int removeTreeAt(const SafeDir& dir, const std::string& name, Failure* why = nullptr);
