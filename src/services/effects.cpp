#include "services/effects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "services/message_catalogue.h"
#include "services/run_log.h"
#include "services/shell.h"
#include "sys/dir_listing.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/temp_files.h"
#include "sys/text.h"

namespace {

std::optional<SafeDir> parentOf(const std::string& path, Failure* why) {
  return SafeDir::open(directoryOf(path), why);
}

class RealStaged : public StagedFile {
 public:
  RealStaged(std::shared_ptr<SafeDir> dir, std::string target)
      : dir_(std::move(dir)), file_(*dir_), target_(std::move(target)) {}
  const std::string& target() const override { return target_; }
  std::string stagedPath() const override { return file_.path(); }
  std::optional<std::string> readBack() const override { return file_.readBack(); }
  PendingFile& file() { return file_; }

 private:
  std::shared_ptr<SafeDir> dir_;
  PendingFile file_;
  std::string target_;
};

class RealEffects : public Effects {
 public:
  bool makeDirectory(const std::string& path, mode_t mode, Failure* why) override {
    std::optional<SafeDir> parent = parentOf(path, why);
    if (!parent) return false;
    std::string name = lastComponent(path);
    if (::mkdirat(parent->fd(), name.c_str(), mode) != 0) return fail(why, FailureKind::CannotMake, path, errno);
    // mkdir is subject to the umask; the mode asked for is the mode wanted.
    if (std::optional<SafeDir> made = parent->child(name)) ::fchmod(made->fd(), mode);
    note(ChangeKind::MakeDirectory, path);
    return true;
  }

  bool takeBackDirectory(const std::string& path, mode_t mode, Failure* why) override {
    std::optional<SafeDir> dir = SafeDir::open(path, why);
    if (!dir) return false;
    if (::fchown(dir->fd(), 0, 0) != 0 || ::fchmod(dir->fd(), mode) != 0)
      return fail(why, FailureKind::CannotSetOwner, path, errno);
    note(ChangeKind::TakeBackDirectory, path);
    return true;
  }

  bool writeFile(const FileWrite& file, Failure* why) override {
    std::optional<SafeDir> dir = parentOf(file.path, why);
    if (!dir || !writeFileAtomically(*dir, lastComponent(file.path), file.content, file.access, why, file.atLink))
      return false;
    note(ChangeKind::WriteFile, file.path, file.source);
    return true;
  }

  bool makeLink(const std::string& path, const std::string& target, Failure* why) override {
    std::optional<SafeDir> parent = parentOf(path, why);
    if (!parent) return false;
    if (::symlinkat(target.c_str(), parent->fd(), lastComponent(path).c_str()) != 0)
      return fail(why, FailureKind::CannotMake, path, errno);
    note(ChangeKind::MakeLink, path, target);
    return true;
  }

  bool removeFile(const std::string& path, Failure* why) override {
    std::optional<SafeDir> parent = parentOf(path, why);
    if (!parent || !removeFileAt(*parent, lastComponent(path), why)) return false;
    note(ChangeKind::RemoveFile, path);
    return true;
  }

  int removeTree(const std::string& path, Failure* why) override {
    std::optional<SafeDir> parent = parentOf(path, why);
    if (!parent) return -1;
    int result = removeTreeAt(*parent, lastComponent(path), why);
    if (result == 0) note(ChangeKind::RemoveTree, path);
    return result;
  }

  bool rename(const std::string& path, const std::string& newName, Failure* why) override {
    std::optional<SafeDir> parent = parentOf(path, why);
    if (!parent) return false;
    if (::renameat(parent->fd(), lastComponent(path).c_str(), parent->fd(), newName.c_str()) != 0)
      return fail(why, FailureKind::CannotRename, path, errno);
    note(ChangeKind::Rename, path, newName);
    return true;
  }

  int runCommand(const std::string& command) override {
    note(ChangeKind::RunCommand, "", command);
    return runShell(command);
  }

  bool makeFileByCommand(const std::string& path, const std::function<std::string(const std::string&)>& commandFor,
                         Failure* why) override {
    TempFile temp;
    if (!makeTempFile(directoryOf(path), "." + lastComponent(path) + ".", "", temp))
      return fail(why, FailureKind::CannotCreateIn, directoryOf(path), errno);
    temp.fd.reset();
    runShell(commandFor(temp.path));
    bool published = publish(temp.path, path, why);
    ::unlink(temp.path.c_str());
    if (published) note(ChangeKind::MakeFileByCommand, path);
    return published;
  }

  std::unique_ptr<StagedFile> stage(const FileWrite& file, Failure* why) override {
    std::shared_ptr<SafeDir> dir = stagingDir(directoryOf(file.path), why);
    if (!dir) return nullptr;
    auto staged = std::make_unique<RealStaged>(dir, file.path);
    PendingFile& pending = staged->file();
    if (pending.write(file.content) && pending.finish(lastComponent(file.path), file.access, file.atLink))
      return staged;
    if (why) *why = pending.error();
    return nullptr;
  }

  bool makeStagedDurable() override { return batch_.flushData(); }

  bool place(StagedFile& file, Failure* why) override {
    PendingFile& pending = static_cast<RealStaged&>(file).file();
    if (!pending.place()) {
      if (why) *why = pending.error();
      return false;
    }
    note(ChangeKind::WriteFile, file.target());
    return true;
  }

  void flushPlaced() override {
    batch_.flushDirectories();
    batch_ = DurableBatch{};
    stagingDirs_.clear();
  }

  bool isDirectory(const std::string& path) override { return SafeDir::open(path).has_value(); }
  bool exists(const std::string& path) override { return pathExists(path); }
  std::vector<std::string> entriesOf(const std::string& dir) override { return listDirectory(dir); }
  std::string contentPathOf(const std::string& path) override { return path; }
  bool onlyPlans() const override { return false; }

 private:
  // Each directory that receives staged files is opened once per batch.
  std::shared_ptr<SafeDir> stagingDir(const std::string& path, Failure* why) {
    auto known = stagingDirs_.find(path);
    if (known != stagingDirs_.end()) return known->second;
    std::optional<SafeDir> dir = SafeDir::open(path, why);
    if (!dir) return nullptr;
    auto shared = std::make_shared<SafeDir>(std::move(*dir));
    batch_.add(*shared);
    stagingDirs_.emplace(path, shared);
    return shared;
  }

  // Puts the finished file at its name, which must still be free: linkat
  // never replaces what another hand may have put there meanwhile.
  static bool publish(const std::string& temp, const std::string& path, Failure* why) {
    FdHolder file(::open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || info.st_size == 0)
      return fail(why, FailureKind::WroteNothing, path);
    if (::fsync(file.get()) != 0) return fail(why, FailureKind::CannotFlush, temp, errno);
    if (::linkat(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), 0) != 0)
      return fail(why, FailureKind::CannotMake, path, errno);
    FdHolder dir(::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
  }

  std::map<std::string, std::shared_ptr<SafeDir>> stagingDirs_;
  DurableBatch batch_;
};

class PlannedStaged : public StagedFile {
 public:
  PlannedStaged(std::string target, std::string content) : target_(std::move(target)), content_(std::move(content)) {}
  const std::string& target() const override { return target_; }
  std::string stagedPath() const override { return joinPath(directoryOf(target_), ".zebtmpXXXXXX"); }
  std::optional<std::string> readBack() const override { return content_; }

 private:
  std::string target_;
  std::string content_;
};

// Notes every change and makes none; answers questions about the host as
// the changes would leave it.
class Planner : public Effects {
 public:
  bool makeDirectory(const std::string& path, mode_t, Failure*) override {
    plannedDirs_.insert(path);
    removed_.erase(path);
    note(ChangeKind::MakeDirectory, path);
    return true;
  }
  bool takeBackDirectory(const std::string& path, mode_t, Failure*) override {
    note(ChangeKind::TakeBackDirectory, path);
    return true;
  }
  bool writeFile(const FileWrite& file, Failure*) override {
    planFile(file.path, file.source);
    note(ChangeKind::WriteFile, file.path, file.source);
    return true;
  }
  bool makeLink(const std::string& path, const std::string& target, Failure*) override {
    planFile(path, "");
    note(ChangeKind::MakeLink, path, target);
    return true;
  }
  bool removeFile(const std::string& path, Failure*) override {
    forget(path);
    note(ChangeKind::RemoveFile, path);
    return true;
  }
  int removeTree(const std::string& path, Failure*) override {
    forget(path);
    note(ChangeKind::RemoveTree, path);
    return 0;
  }
  bool rename(const std::string& path, const std::string& newName, Failure*) override {
    forget(path);
    planFile(joinPath(directoryOf(path), newName), "");
    note(ChangeKind::Rename, path, newName);
    return true;
  }
  int runCommand(const std::string& command) override {
    note(ChangeKind::RunCommand, "", command);
    return 0;
  }
  bool makeFileByCommand(const std::string& path, const std::function<std::string(const std::string&)>&,
                         Failure*) override {
    planFile(path, "");
    note(ChangeKind::MakeFileByCommand, path);
    return true;
  }
  std::unique_ptr<StagedFile> stage(const FileWrite& file, Failure*) override {
    return std::make_unique<PlannedStaged>(file.path, std::string(file.content));
  }
  bool makeStagedDurable() override { return true; }
  bool place(StagedFile& file, Failure*) override {
    planFile(file.target(), "");
    note(ChangeKind::WriteFile, file.target());
    return true;
  }
  void flushPlaced() override {}

  bool isDirectory(const std::string& path) override {
    if (plannedDirs_.count(path)) return true;
    return !isRemoved(path) && SafeDir::open(path).has_value();
  }
  bool exists(const std::string& path) override {
    if (plannedDirs_.count(path) || files_.count(path)) return true;
    return !isRemoved(path) && pathExists(path);
  }
  std::vector<std::string> entriesOf(const std::string& dir) override {
    std::vector<std::string> names;
    if (!isRemoved(dir)) {
      for (const std::string& name : listDirectory(dir)) {
        if (!isRemoved(joinPath(dir, name))) names.push_back(name);
      }
    }
    std::set<std::string> planned;
    for (const auto& [path, source] : files_) {
      if (directoryOf(path) == dir) planned.insert(lastComponent(path));
    }
    for (const std::string& path : plannedDirs_) {
      if (directoryOf(path) == dir) planned.insert(lastComponent(path));
    }
    for (const std::string& name : planned) {
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
  }
  std::string contentPathOf(const std::string& path) override {
    auto planned = files_.find(path);
    return planned != files_.end() && !planned->second.empty() ? planned->second : path;
  }
  bool onlyPlans() const override { return true; }

 private:
  void planFile(const std::string& path, const std::string& source) {
    files_[path] = source;
    removed_.erase(path);
  }
  void forget(const std::string& path) {
    removed_.insert(path);
    std::erase_if(files_, [&path](const auto& entry) { return isAtOrBelow(entry.first, path); });
    std::erase_if(plannedDirs_, [&path](const std::string& dir) { return isAtOrBelow(dir, path); });
  }
  bool isRemoved(const std::string& path) const {
    for (const std::string& gone : removed_) {
      if (isAtOrBelow(path, gone)) return true;
    }
    return false;
  }

  std::set<std::string> plannedDirs_;
  std::map<std::string, std::string> files_;  // planned file -> the source of its content
  std::set<std::string> removed_;
};

std::unique_ptr<Effects> gOwned;
Effects* gEffects = nullptr;

// The host changes that the last restart of the scheduler has seen.
size_t gChangesAtRestart = 0;

size_t hostChangeCount() {
  const std::vector<Change>& changes = effects().changes();
  return static_cast<size_t>(std::count_if(changes.begin(), changes.end(),
                                           [](const Change& change) { return change.kind != ChangeKind::RunCommand; }));
}

}  // namespace

Effects& effects() {
  if (!gEffects) startEffects(false);
  return *gEffects;
}

void startEffects(bool planOnly) {
  gOwned = planOnly ? std::unique_ptr<Effects>(std::make_unique<Planner>()) : std::make_unique<RealEffects>();
  gEffects = gOwned.get();
  gChangesAtRestart = 0;
}

bool hostChanged() { return hostChangeCount() > 0; }

bool hostChangedSinceRestart() { return hostChangeCount() > gChangesAtRestart; }

void noteRestart() { gChangesAtRestart = hostChangeCount(); }

void logChange(const std::string& text) {
  if (text.empty()) return;
  if (!effects().onlyPlans()) {
    logMessage(text);
    return;
  }
  logMessage(std::string(messageText(msg::kPlannedChange)) + text);
}
