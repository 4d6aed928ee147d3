// Every change a run makes to the host goes through the current Effects: the
// real one makes it, the planner only notes it (the dry run, and tests).
// Both answer the few questions whose answer this run's own changes alter
// (is this a directory now, what does it hold), so the code that plans and
// the code that acts are one and the same.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sys/atomic_files.h"
#include "sys/failure.h"

enum class ChangeKind {
  MakeDirectory,
  TakeBackDirectory,
  WriteFile,
  MakeLink,
  RemoveFile,
  RemoveTree,
  Rename,
  RunCommand,
  MakeFileByCommand,
};

// One change made (or planned): what, where, and its source, target, new
// name or command.
struct Change {
  ChangeKind kind;
  std::string path;
  std::string detail;
  friend bool operator==(const Change&, const Change&) = default;
};

// A file to write whole. source: the file its content was read from, when
// it is a copy (a plan reads the copy from there).
struct FileWrite {
  FileWrite(std::string path, std::string_view content, FileAccess access = {},
            LinkAtTarget atLink = LinkAtTarget::Refuse, std::string source = {})
      : path(std::move(path)), content(content), access(access), atLink(atLink), source(std::move(source)) {}
  std::string path;
  std::string_view content;
  FileAccess access;
  LinkAtTarget atLink;
  std::string source;
};

// A file written beside its target, to be put in place later.
class StagedFile {
 public:
  virtual ~StagedFile() = default;
  virtual const std::string& target() const = 0;
  // The hidden file beside the target that holds the content until then.
  virtual std::string stagedPath() const = 0;
  // The content as it now stands on disk (a plan: as it would); nothing
  // when it cannot be read.
  virtual std::optional<std::string> readBack() const = 0;
};

class Effects {
 public:
  virtual ~Effects() = default;

  // Changes: true when made (or planned); false and why when not.
  virtual bool makeDirectory(const std::string& path, mode_t mode, Failure* why) = 0;
  // Owner root, the given mode.
  virtual bool takeBackDirectory(const std::string& path, mode_t mode, Failure* why) = 0;
  virtual bool writeFile(const FileWrite& file, Failure* why) = 0;
  virtual bool makeLink(const std::string& path, const std::string& target, Failure* why) = 0;
  // A regular file or a link itself.
  virtual bool removeFile(const std::string& path, Failure* why) = 0;
  // 0 removed, else -1 (see removeTreeAt).
  virtual int removeTree(const std::string& path, Failure* why) = 0;
  // Renames the entry at path to newName in the same directory.
  virtual bool rename(const std::string& path, const std::string& newName, Failure* why) = 0;
  // A command that changes the host; its wait status.
  virtual int runCommand(const std::string& command) = 0;
  // A new file at path, which must be free, made by the command that
  // commandFor gives for a scratch file beside it; empty output counts as failed.
  virtual bool makeFileByCommand(const std::string& path, const std::function<std::string(const std::string&)>& commandFor,
                                 Failure* why) = 0;

  // Many files written beside their targets, made durable together, then
  // put in place one by one, their directories flushed once at the end.
  virtual std::unique_ptr<StagedFile> stage(const FileWrite& file, Failure* why) = 0;
  virtual bool makeStagedDurable() = 0;
  virtual bool place(StagedFile& file, Failure* why) = 0;
  virtual void flushPlaced() = 0;

  // Questions about the host as this run leaves it. A directory counts when
  // it is reached without a link that someone other than root could have made.
  virtual bool isDirectory(const std::string& path) = 0;
  virtual bool exists(const std::string& path) = 0;
  // The names a directory holds (without "." and "..").
  virtual std::vector<std::string> entriesOf(const std::string& dir) = 0;
  // Where the content of path can be read: path itself, or, for a copy that
  // is only planned, its source.
  virtual std::string contentPathOf(const std::string& path) = 0;

  // Whether changes are only planned.
  virtual bool onlyPlans() const = 0;
  // Every change made or planned so far, in order.
  const std::vector<Change>& changes() const { return changes_; }

 protected:
  void note(ChangeKind kind, const std::string& path, const std::string& detail = "") {
    changes_.push_back({kind, path, detail});
  }

 private:
  std::vector<Change> changes_;
};

// The effects of this run; real ones unless others were put in place.
Effects& effects();
// Fresh effects for a run, nothing noted yet: a planner, or the real ones.
void startEffects(bool planOnly);

// Whether this run changed (a plan: would change) a file, directory or link
// on the host; commands such as relabelling do not count.
bool hostChanged();
// Whether it changed one since the scheduler was last restarted, and noting that restart.
bool hostChangedSinceRestart();
void noteRestart();

// Logs a line that tells of a change: in a plan, as one that would be made.
void logChange(const std::string& text);
