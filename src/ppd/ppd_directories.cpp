#include "ppd/ppd_directories.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <optional>

#include "services/run_log.h"
#include "services/run_settings.h"

namespace {

constexpr const char* kDefaultModelDir = "/usr/share/cups/model";
constexpr const char* kFoomaticDir = "/usr/share/foomatic/db/source/PPD";
constexpr const char* kFoomaticTamraDir = "/usr/share/foomatic/db/source/PPD/Tamra";
constexpr const char* kFoomaticOrvDir = "/usr/share/foomatic/db/source/PPD/orv";
constexpr const char* kOpenPrintingDir = "/usr/share/ppd/openprinting";
constexpr const char* kNotFound = "???";

constexpr std::array kModelDirCandidates = {
    "/usr/share/cups/model", "/usr/share/ppd", "/etc/cups/model", "/opt/cups/model", "/opt/cups/share/model",
};
constexpr std::array kSystemDirCandidates = {
    "/usr/share/ppd", "/usr/ppd", "/opt/share/ppd", "/usr/local/share/ppd", kFoomaticDir,
};

template <size_t N>
std::optional<std::string> firstDirectory(const std::array<const char*, N>& candidates, const DirectoryTest& isDir) {
  for (const char* candidate : candidates) {
    if (isDir(candidate)) return std::string(candidate);
  }
  return std::nullopt;
}

int locationFlags(const PpdDirectoryFacts& facts, bool modelFound, bool systemFound, const DirectoryTest& isDir) {
  int flags = 0;
  auto setWhen = [&flags](bool condition, int bit) {
    if (condition) flags |= bit;
  };
  setWhen(modelFound, PPDLOC_MODEL_DIR);
  setWhen(isDir(kFoomaticDir), PPDLOC_FOOMATIC);
  setWhen((flags & PPDLOC_FOOMATIC) && isDir(kFoomaticTamraDir), PPDLOC_FOOMATIC_TAMRA);
  setWhen((flags & PPDLOC_MODEL_DIR) && isDir(facts.cupsModelDir + "/custom"), PPDLOC_CUSTOM);
  setWhen(isDir("/usr/share/ppd"), PPDLOC_USR_SHARE);
  setWhen(isDir("/opt/share/ppd"), PPDLOC_OPT_SHARE);
  setWhen(systemFound, PPDLOC_SYSTEM_DIR);
  setWhen((flags & PPDLOC_FOOMATIC) && isDir(kFoomaticOrvDir), PPDLOC_FOOMATIC_ORV);
  setWhen((isDir("/usr/share/ppd/cups-included") && isDir(kOpenPrintingDir)) ||
              (isDir("/usr/share/ppd/HP") && isDir("/usr/share/ppd/Epson")),
          PPDLOC_DISTRO_TREE);
  setWhen(isDir(kOpenPrintingDir), PPDLOC_OPENPRINTING);
  return flags;
}

std::string existingProductDir(const PpdDirectoryFacts& facts, const DirectoryTest& isDir) {
  const int flags = facts.flags;
  const std::pair<bool, std::string> candidates[] = {
      {(flags & PPDLOC_FOOMATIC) != 0, kFoomaticOrvDir},
      {(flags & PPDLOC_FOOMATIC_TAMRA) != 0, std::string(kFoomaticTamraDir) + "/orv"},
      {(flags & PPDLOC_OPENPRINTING) != 0, std::string(kOpenPrintingDir) + "/orv"},
      {true, "/opt/share/ppd/orv"},
      {true, "/usr/share/ppd/orv"},
      {(flags & PPDLOC_DISTRO_TREE) != 0, "/usr/share/ppd/cups-included/orv"},
      {(flags & PPDLOC_CUSTOM) != 0, facts.cupsModelDir + "/custom/orv"},
  };
  for (const auto& [allowed, path] : candidates) {
    if (allowed && isDir(path)) return path;
  }
  return {};
}

std::string proposedInstallDir(const PpdDirectoryFacts& facts, const DirectoryTest& isDir) {
  const int flags = facts.flags;
  if (flags & PPDLOC_OPENPRINTING) {
    bool vendorTree = (flags & PPDLOC_DISTRO_TREE) && isDir(std::string(kOpenPrintingDir) + "/HP") &&
                      isDir(std::string(kOpenPrintingDir) + "/Epson");
    return vendorTree ? std::string(kOpenPrintingDir) + "/orv" : "/usr/share/ppd/orv";
  }
  if (flags & PPDLOC_CUSTOM) return facts.cupsModelDir + "/custom/orv";
  if (flags & PPDLOC_FOOMATIC) {
    bool useTamra = (flags & PPDLOC_FOOMATIC_TAMRA) && !(flags & PPDLOC_FOOMATIC_ORV);
    return useTamra ? std::string(kFoomaticTamraDir) + "/orv" : kFoomaticOrvDir;
  }
  return {};
}

std::string foundOr(int flags, int bit, const std::string& path) { return (flags & bit) ? path : kNotFound; }

}  // namespace

int findCupsModelDir() {
  std::optional<std::string> found = firstDirectory(kModelDirCandidates, isDirectory);
  runSettings().cupsModelDir = found.value_or(kDefaultModelDir);
  return found ? 1 : 0;
}

int findSystemPpdDir() {
  std::optional<std::string> found = firstDirectory(kSystemDirCandidates, isDirectory);
  runSettings().systemPpdDir = found.value_or(kDefaultModelDir);
  return found ? 1 : 0;
}

PpdDirectoryFacts surveyPpdDirectories(const DirectoryTest& isDir) {
  PpdDirectoryFacts facts;
  std::optional<std::string> modelDir = firstDirectory(kModelDirCandidates, isDir);
  std::optional<std::string> systemDir = firstDirectory(kSystemDirCandidates, isDir);
  facts.cupsModelDir = modelDir.value_or(kDefaultModelDir);
  facts.systemPpdDir = systemDir.value_or(kDefaultModelDir);
  facts.flags = locationFlags(facts, modelDir.has_value(), systemDir.has_value(), isDir);
  facts.existingPpdDir = existingProductDir(facts, isDir);
  facts.proposal = proposedInstallDir(facts, isDir);
  return facts;
}

std::vector<std::string> ppdSummaryLines(const PpdDirectoryFacts& facts) {
  const int flags = facts.flags;
  std::string tamra = (flags & PPDLOC_FOOMATIC_ORV)     ? kFoomaticOrvDir
                      : (flags & PPDLOC_FOOMATIC_TAMRA) ? kFoomaticTamraDir
                                                        : kNotFound;
  std::vector<std::string> lines = {
      kLogSeparator,
      formatMessage(msg::kPpdLocations),
      formatMessage(msg::kCupsModelDir, foundOr(flags, PPDLOC_MODEL_DIR, facts.cupsModelDir)),
      formatMessage(msg::kFoomaticDir, foundOr(flags, PPDLOC_FOOMATIC, kFoomaticDir)),
      formatMessage(msg::kTamraDir, tamra),
      formatMessage(msg::kCustomPpdDir, foundOr(flags, PPDLOC_CUSTOM, facts.cupsModelDir + "/custom")),
  };
  if (flags & PPDLOC_USR_SHARE) lines.push_back(formatMessage(msg::kSharedUsrPpdDir));
  if (flags & PPDLOC_OPT_SHARE) lines.push_back(formatMessage(msg::kSharedOptPpdDir));
  lines.push_back(formatMessage(msg::kSystemPpdDir, foundOr(flags, PPDLOC_SYSTEM_DIR, facts.systemPpdDir)));
  if (!facts.existingPpdDir.empty()) lines.push_back(formatMessage(msg::kProductPpdDirFound, facts.existingPpdDir));
  return lines;
}

int findPpdDirectories(std::string& existingPpdDir) {
  RunSettings& s = runSettings();
  s.ppdInstallDir.clear();
  PpdDirectoryFacts facts = surveyPpdDirectories([](const std::string& path) { return isDirectory(path) == 1; });
  s.cupsModelDir = facts.cupsModelDir;
  s.systemPpdDir = facts.systemPpdDir;
  if (!facts.existingPpdDir.empty()) existingPpdDir = facts.existingPpdDir;
  s.ppdInstallDir = facts.proposal;
  for (const std::string& line : ppdSummaryLines(facts)) logIfAny(line);
  return facts.flags;
}
