#include "ppd/model_dir_links.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>

#include "install/fs_helpers.h"
#include "ppd/ppd_directories.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "sys/file_handles.h"
#include "sys/paths.h"
#include "sys/text.h"

namespace {

std::vector<ModelLink>& modelLinks() { return runSettings().modelLinks; }

std::string linkTarget(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  target.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return target;
}

// A link, or a directory that has subdirectories of its own.
bool worthExamining(const std::string& path) {
  struct stat followed {};
  struct stat own {};
  ::stat(path.c_str(), &followed);
  ::lstat(path.c_str(), &own);
  return S_ISLNK(own.st_mode) || (S_ISDIR(followed.st_mode) && followed.st_nlink > 2);
}

void recordLink(const std::string& entry, std::string target) {
  modelLinks().push_back({entry, std::move(target)});
  logMsg(msg::kLinked, static_cast<int>(modelLinks().size()), entry, modelLinks().back().target);
}

void scanEntries(DIR* dir, const std::string& modelDir, int flags) {
  bool sawFoomatic = false;
  while (modelLinks().size() < kModelLinkRows) {
    const dirent* entry = ::readdir(dir);
    if (!entry) break;
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = modelDir + "/" + name;
    sawFoomatic = sawFoomatic || contains(path, "foomatic");
    if (!worthExamining(path)) continue;
    std::string target = linkTarget(path);
    LinkDecision decision = decideModelLink(flags, path, target);
    if (decision == LinkDecision::Skip) continue;
    recordLink(path, std::move(target));
    if (decision == LinkDecision::RecordAndStop) break;
  }
  if (modelLinks().empty() && !sawFoomatic) logMsg(msg::kNoKnownLinks, modelDir);
}

// The old-CUPS choice among the recorded rows, by the first flag that is set.
std::optional<std::string> dirFromRecordedRows(const InstallDirInputs& in) {
  const char* pattern = (in.flags & PPDLOC_CUSTOM)      ? "custom"
                        : (in.flags & PPDLOC_FOOMATIC)  ? "foomatic"
                        : (in.flags & PPDLOC_USR_SHARE) ? "/share/ppd"
                        : (in.flags & PPDLOC_OPT_SHARE) ? "/share/ppd"
                                                        : nullptr;
  if (!pattern) return std::nullopt;
  for (const ModelLink& row : in.rows) {
    if (!contains(row.entry, pattern)) continue;
    const std::string& path = !row.target.empty() && row.target.front() == '/' ? row.target : row.entry;
    size_t slash = path.rfind('/');
    std::string_view last =
        slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
    return last == "orv" ? path : path + "/orv";
  }
  return std::nullopt;
}

std::string newCupsDir(const InstallDirInputs& in) {
  if (in.flags & PPDLOC_USR_SHARE) {
    if (in.flags & PPDLOC_OPENPRINTING) return "/usr/share/ppd/openprinting/orv";
    if (in.flags & (PPDLOC_DISTRO_TREE | PPDLOC_OPT_SHARE)) return "/usr/share/ppd/orv";
    return contains(in.proposal, "/usr/share") ? in.proposal : "/usr/share/ppd/orv";
  }
  // The /opt/share/ppd tree is what CUPS of such a layout serves.
  if (in.flags & PPDLOC_OPT_SHARE) return "/opt/share/ppd/orv";
  return in.cupsModelDir + "/orv";
}

void makeModelDirLink(const std::string& ppdInstallDir, const std::string& linkPath) {
  std::string text = formatMessage(msg::kLinked, 1, linkPath, ppdInstallDir);
  if (symlinkIfAbsent(ppdInstallDir, linkPath) != 0) text += messageText(msg::kErrorMark);
  logIfAny(text);
}

}  // namespace

const std::vector<ModelLink>& modelLinkTable() { return runSettings().modelLinks; }

LinkDecision decideModelLink(int flags, std::string_view entryPath, std::string_view target) {
  if (flags & PPDLOC_CUSTOM) return contains(entryPath, "custom") ? LinkDecision::Record : LinkDecision::Skip;
  const char* wanted = (flags & PPDLOC_FOOMATIC)    ? "foomatic"
                       : (flags & PPDLOC_USR_SHARE) ? "/usr/share/ppd"
                       : (flags & PPDLOC_OPT_SHARE) ? "/opt/share/ppd"
                                                    : nullptr;
  return wanted && contains(target, wanted) ? LinkDecision::RecordAndStop : LinkDecision::Skip;
}

InstallDirPlan planPpdInstallDir(const InstallDirInputs& in) {
  if (!in.existingPpdDir.empty()) return {in.existingPpdDir, InstallDirAction::Reuse};
  if (in.cupsVersion >= kNewCupsVersion) return {newCupsDir(in), InstallDirAction::Settle};
  if (!in.rows.empty()) return {dirFromRecordedRows(in).value_or(in.cupsModelDir + "/orv"), InstallDirAction::Settle};
  if (in.flags & PPDLOC_USR_SHARE) return {"/usr/share/ppd/orv", InstallDirAction::LinkAfterCreating};
  if (in.flags & PPDLOC_OPT_SHARE) return {"/opt/share/ppd/orv", InstallDirAction::LinkOnly};
  return {in.cupsModelDir + "/orv", InstallDirAction::NameOnly};
}

void scanModelDirLinks(int& rowCount) {
  const RunSettings& s = runSettings();
  rowCount = 0;
  if (!pathExists(s.cupsModelDir)) return;
  modelLinks().clear();
  constexpr int kScannedBits = PPDLOC_FOOMATIC | PPDLOC_CUSTOM | PPDLOC_USR_SHARE | PPDLOC_OPT_SHARE;
  DirPtr dir(::opendir(s.cupsModelDir.c_str()));
  if (dir) {
    scanEntries(dir.get(), s.cupsModelDir, s.ppdLocationFlags & kScannedBits);
  } else {
    logMsg(msg::kNoKnownLinks, s.cupsModelDir);
  }
  rowCount = static_cast<int>(modelLinks().size());
}

void choosePpdInstallDir(const std::string& existingPpdDir, int rowCount) {
  RunSettings& s = runSettings();
  if (!pathExists(s.cupsModelDir)) return;
  InstallDirInputs in{existingPpdDir, s.ppdInstallDir, s.cupsModelDir, s.ppdLocationFlags, s.cupsVersion, {}};
  in.rows.assign(modelLinks().begin(), modelLinks().begin() + std::min<size_t>(rowCount, modelLinks().size()));
  InstallDirPlan plan = planPpdInstallDir(in);
  s.ppdInstallDir = plan.dir;
  logMsg(msg::kPpdInstallDir, s.ppdInstallDir);
  std::string linkPath = s.cupsModelDir + "/orv";
  if (s.dryRun && plan.action != InstallDirAction::Reuse) return;  // nothing is made in a dry run
  switch (plan.action) {
    case InstallDirAction::Reuse: logMsg(msg::kReusingProductPpdDir, s.ppdInstallDir); return;
    case InstallDirAction::NameOnly: return;
    case InstallDirAction::LinkAfterCreating:
      if (pathExists(linkPath)) return;
      if (!pathExists(s.ppdInstallDir)) ensureDirectory(s.ppdInstallDir, 1, 0755);
      makeModelDirLink(s.ppdInstallDir, linkPath);
      return;
    case InstallDirAction::LinkOnly:
      if (pathExists(linkPath)) return;
      makeModelDirLink(s.ppdInstallDir, linkPath);
      return;
    case InstallDirAction::Settle:
      if (isDirectory(s.ppdInstallDir)) return;
      ensureDirectory(s.ppdInstallDir, 1, 0755);
      logMsg(msg::kDirCreated, s.ppdInstallDir);
      return;
  }
}
