// Directories reached by a walk that never follows a symbolic link: every
// write, chmod and removal in the product's directories, the PPD directories
// and the scheduler's directory goes through one, so a link that someone put
// in the way is found and left alone instead of being followed.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "sys/file_handles.h"

class SafeDir {
 public:
  // Walks an absolute path from "/" one component at a time; nothing (and
  // why) when a component is a link, not a directory or cannot be opened.
  static std::optional<SafeDir> open(const std::string& absolutePath, std::string* why = nullptr);
  // One entry below, by the same rule.
  std::optional<SafeDir> child(const std::string& name, std::string* why = nullptr) const;
  // The same, made with exactly mode when missing; created tells whether it was made now.
  std::optional<SafeDir> childOrCreate(const std::string& name, mode_t mode, bool* created,
                                       std::string* why = nullptr) const;
  // A relative path of several components below, made where missing when mode is given.
  std::optional<SafeDir> below(const std::string& relative, std::optional<mode_t> createMode,
                               std::string* why = nullptr) const;

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  std::string pathOf(const std::string& name) const;

 private:
  SafeDir(FdHolder fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  FdHolder fd_;
  std::string path_;
};

enum class EntryType { Missing, Regular, Directory, Link, Other };
// What stands at name in the directory, the entry itself (a link is a link).
EntryType entryType(int dirFd, const std::string& name, struct stat* info = nullptr);
// A name that is one path component: not empty, no '/', not "." or "..".
bool isSingleComponent(const std::string& name);

// Removes a regular file or a link itself (never what it points to); false
// when there was nothing, or something else, or the removal failed.
bool removeFileAt(const SafeDir& dir, const std::string& name, std::string* why = nullptr);
// Removes a directory tree bottom-up without following links (a link inside
// is removed itself); fifos, sockets and devices stay, and then so do the
// directories holding them. -1 when name is missing or not a directory (a
// link there is left alone), else the result of removing the emptied directory.
int removeTreeAt(const SafeDir& dir, const std::string& name, std::string* why = nullptr);
