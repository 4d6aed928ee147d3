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
#include "services/effects.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "sys/file_handles.h"
#include "sys/paths.h"
#include "sys/text.h"

namespace {

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

void recordLink(std::vector<ModelLink>& rows, const std::string& entry, std::string target) {
  rows.push_back({entry, std::move(target)});
  logMsg(msg::kLinked, static_cast<int>(rows.size()), entry, rows.back().target);
}

void scanEntries(DIR* dir, const std::string& modelDir, int flags, std::vector<ModelLink>& rows) {
  bool sawFoomatic = false;
  while (rows.size() < kModelLinkRows) {
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
    recordLink(rows, path, std::move(target));
    if (decision == LinkDecision::RecordAndStop) break;
  }
  if (rows.empty() && !sawFoomatic) logMsg(msg::kNoKnownLinks, modelDir);
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
  if (symlinkIfAbsent(ppdInstallDir, linkPath) != 0) {
    logIfAny(withErrorMark(text));
  } else {
    logChange(text);
  }
}

}  // namespace

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

void scanModelDirLinks(std::vector<ModelLink>& rows) {
  const RunSettings& s = runSettings();
  rows.clear();
  if (!pathExists(s.cupsModelDir)) return;
  constexpr int kScannedBits = PPDLOC_FOOMATIC | PPDLOC_CUSTOM | PPDLOC_USR_SHARE | PPDLOC_OPT_SHARE;
  DirPtr dir(::opendir(s.cupsModelDir.c_str()));
  if (dir) {
    scanEntries(dir.get(), s.cupsModelDir, s.ppdLocationFlags & kScannedBits, rows);
  } else {
    logMsg(msg::kNoKnownLinks, s.cupsModelDir);
  }
}

InstallDirPlan choosePpdInstallDir(const std::string& existingPpdDir, const std::vector<ModelLink>& rows) {
  RunSettings& s = runSettings();
  if (!pathExists(s.cupsModelDir)) return {s.ppdInstallDir, InstallDirAction::NameOnly};
  InstallDirInputs in{existingPpdDir, s.ppdInstallDir, s.cupsModelDir, s.ppdLocationFlags, s.cupsVersion, rows};
  InstallDirPlan plan = planPpdInstallDir(in);
  s.ppdInstallDir = plan.dir;
  logMsg(msg::kPpdInstallDir, s.ppdInstallDir);
  if (plan.action == InstallDirAction::Reuse) logMsg(msg::kReusingProductPpdDir, s.ppdInstallDir);
  return plan;
}

void settlePpdInstallDir(const InstallDirPlan& plan) {
  const RunSettings& s = runSettings();
  std::string linkPath = s.cupsModelDir + "/orv";
  switch (plan.action) {
    case InstallDirAction::Reuse:
    case InstallDirAction::NameOnly: return;
    case InstallDirAction::LinkAfterCreating:
      if (effects().exists(linkPath)) return;
      if (!effects().exists(plan.dir)) ensureDirectory(plan.dir, 1, 0755);
      makeModelDirLink(plan.dir, linkPath);
      return;
    case InstallDirAction::LinkOnly:
      if (effects().exists(linkPath)) return;
      makeModelDirLink(plan.dir, linkPath);
      return;
    case InstallDirAction::Settle:
      // ensureDirectory says "created" itself, and only when it was.
      if (!effects().isDirectory(plan.dir)) ensureDirectory(plan.dir, 1, 0755);
      return;
  }
}
