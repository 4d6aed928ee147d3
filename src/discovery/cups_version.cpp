#include "discovery/cups_version.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "discovery/command_locator.h"
#include "services/effects.h"
#include "services/product.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "sys/dir_listing.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/temp_files.h"
#include "sys/text.h"
#include "sys/trusted_paths.h"

namespace {

// Digit texts are read into small zero-filled buffers: this many characters.
constexpr size_t kHttpDigitsMax = 31;
constexpr size_t kLocalDigitsMax = 23;
// A netcat path built from the source directory must fit 80 bytes.
constexpr size_t kNetcatPathMax = 79;
constexpr int kFallbackVersion = 1400;
// A scheduler that takes the connection and never answers must not hold the
// run: the probes give up after this long, as if nothing had answered.
constexpr std::chrono::seconds kProbeLimit{5};
// The largest raw version kept; anything above normalises to 9999 anyway.
constexpr int kRawVersionCap = 999999999;

constexpr std::array kCupsConfigPlaces = {"/usr/bin/cups-config", "/usr/sbin/cups-config", "/sbin/cups-config"};

// The text after the first marker that follows the first phrase.
std::optional<std::string_view> afterPhraseAndMarker(std::string_view line, std::string_view phrase,
                                                     std::string_view marker) {
  size_t at = line.find(phrase);
  if (at == std::string_view::npos) return std::nullopt;
  size_t markerAt = line.find(marker, at + phrase.size());
  if (markerAt == std::string_view::npos) return std::nullopt;
  return line.substr(markerAt + marker.size());
}

// 0 (no digits) and 100 (version 1.0.0) are no answer: the next source is tried.
bool namesAVersion(long raw) { return raw != 0 && raw != 100; }

int clampRaw(long raw) { return static_cast<int>(std::min<long>(raw, kRawVersionCap)); }

int logLocalVersion(int version, const char* separator, const std::string& text) {
  logIfAny(formatText("CUPS Version : %d%s %s", version, separator, text.c_str()));
  return version;
}

using LineRule = std::optional<std::string_view> (*)(std::string_view);

// The version on the first line of the file that the rule accepts.
std::optional<int> versionFromFile(const std::string& path, LineRule rule, const char* separator) {
  if (!pathExists(path)) return std::nullopt;
  FilePtr file = openRegularFile(path);
  if (!file) return std::nullopt;
  std::string line;
  while (readLinePiece(file.get(), line)) {
    std::optional<std::string_view> digits = rule(line);
    if (!digits) continue;
    long raw = digitTextValue(*digits);
    if (!namesAVersion(raw)) return std::nullopt;
    return logLocalVersion(normalizeCupsVersion(clampRaw(raw)), separator, line);
  }
  return std::nullopt;
}

std::optional<int> versionFromCupsConfig() {
  auto place = std::find_if(kCupsConfigPlaces.begin(), kCupsConfigPlaces.end(),
                            [](const char* path) { return pathExists(path); });
  if (place == kCupsConfigPlaces.end()) return std::nullopt;
  std::optional<std::string> scratch = myTmpName(runSettings().places.scratchDir, "ZEB");
  if (!scratch) return std::nullopt;
  const std::string& output = *scratch;
  runShellBounded(std::string(*place) + " --version > " + formatText(" %s", shellQuote(output).c_str()), kProbeLimit);
  std::string line;
  if (FilePtr file = openRegularFile(output)) readLinePiece(file.get(), line);
  ::unlink(output.c_str());
  long raw = digitTextValue(line);
  if (!namesAVersion(raw)) return std::nullopt;
  return logLocalVersion(normalizeCupsVersion(clampRaw(raw)), " //", line);
}

std::optional<int> versionFromDocDirectories() {
  for (int minor = 0; minor <= 5; ++minor) {
    std::string path = formatText("%s/cups-1.%d", "/usr/share/doc", minor);
    if (pathExists(path)) return logLocalVersion(1000 + 100 * minor, "//", path);
  }
  return std::nullopt;
}

std::string firstExisting(const char* preferred, const char* other) {
  return pathExists(preferred) ? preferred : other;
}

std::string netcatCommand() {
  const std::string& sourceDir = runSettings().sourceDir;
  if (!sourceDir.empty()) {
    std::string own = sourceDir + "/zebnc";
    if (own.size() <= kNetcatPathMax && pathExists(own) && isTrustedFile(own)) return shellQuote(own);
  }
  const std::string installed = std::string(kProductBinDir) + "/zebnc";
  if (pathExists(installed) && isTrustedFile(installed)) return installed;
  return shellQuote(findCommand("nc").value_or("nc"));
}

}  // namespace

int normalizeCupsVersion(int version) {
  if (version <= 0) return version;
  while (version <= 999) version *= 10;
  while (version > 9999) version /= 10;
  return version;
}

long digitTextValue(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == '.') continue;
    if (!std::isdigit(static_cast<unsigned char>(c)) || digits.size() == kLocalDigitsMax) break;
    digits.push_back(c);
  }
  return std::strtol(digits.c_str(), nullptr, 10);
}

std::optional<int> serverHeaderVersion(std::string_view line) {
  if (!contains(line, "Server:")) return std::nullopt;
  size_t at = line.find("CUPS");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(at + 4);
  if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  std::string digits;
  for (char c : rest) {
    if (digits.size() == kHttpDigitsMax || !(std::isdigit(static_cast<unsigned char>(c)) || c == '.')) break;
    digits.push_back(c);
  }
  // Single precision as the digits were always read, rounded to the nearest
  // whole number: 2.1 comes out as 210, not the 209 a cut would give.
  float value = static_cast<float>(std::strtod(digits.c_str(), nullptr));
  if (value < 10.0f) {
    value *= 100.0f;
  } else if (value < 100.0f) {
    value *= 10.0f;
  }
  if (value >= static_cast<float>(kRawVersionCap)) return kRawVersionCap;
  return static_cast<int>(std::lround(value));
}

std::optional<std::string_view> printersConfDigits(std::string_view line) {
  return afterPhraseAndMarker(line, "Printer configuration", " v");
}

std::optional<std::string_view> indexTitleDigits(std::string_view line) {
  std::optional<std::string_view> rest = afterPhraseAndMarker(line, "<TITLE>", "CUPS");
  if (rest) rest->remove_prefix(std::min(rest->find_first_not_of(' '), rest->size()));
  return rest;
}

std::optional<std::string_view> testPagePsDigits(std::string_view line) {
  return afterPhraseAndMarker(line, "Printed Using CUPS", " v");
}

std::optional<std::string_view> testPageTextDigits(std::string_view line) {
  constexpr std::string_view kPhrase = "produced by CUPS";
  std::optional<size_t> at = findIgnoringCase(line, kPhrase);
  if (!at) return std::nullopt;
  std::string_view rest = line.substr(*at + kPhrase.size());
  rest.remove_prefix(std::min(rest.find_first_not_of(" \tvV"), rest.size()));
  return rest;
}

int probeCupsVersion() {
  int version = probeCupsHttpVersion();
  if (version <= 0) return probeCupsLocalVersion();
  version = normalizeCupsVersion(version);
  logIfAny(formatText("CUPS Header Version : %d//HTTP", version));
  return version;
}

int probeCupsHttpVersion() {
  std::optional<std::string> scratch = myTmpName(runSettings().places.scratchDir, "ZEB");
  if (!scratch) return 0;
  const std::string& answerPath = *scratch;
  runShellBounded(formatText("#!/bin/sh\n%s localhost 631 >%s <<EOF\nHEAD / HTTP/1.1\nConnection: Close\n%c\nEOF\n",
                             netcatCommand().c_str(), shellQuote(answerPath).c_str(), 10),
                  kProbeLimit);
  FilePtr answer = openRegularFile(answerPath);
  if (!answer) return 0;
  int version = 0;
  std::string line;
  while (readLinePiece(answer.get(), line)) {
    if (std::optional<int> raw = serverHeaderVersion(line)) {
      version = *raw;
      break;
    }
  }
  answer.reset();
  ::unlink(answerPath.c_str());
  return version;
}

int probeCupsLocalVersion() {
  if (auto v = versionFromCupsConfig()) return *v;
  if (auto v = versionFromFile("/etc/cups/printers.conf", printersConfDigits, " //")) return *v;
  if (auto v = versionFromFile("/usr/share/cups/doc/index.html", indexTitleDigits, "//")) return *v;
  if (auto v = versionFromDocDirectories()) return *v;
  std::string psPage = firstExisting("/etc/cups/data/testprint.ps", "/usr/share/cups/data/testprint.ps");
  if (auto v = versionFromFile(psPage, testPagePsDigits, "//")) return *v;
  std::string textPage = firstExisting("/usr/share/cups/data/testprint", "/etc/cups/data/testprint");
  if (auto v = versionFromFile(textPage, testPageTextDigits, "//")) return *v;
  return logLocalVersion(kFallbackVersion, "//", formatMessage(msg::kVersionNotFound));
}

std::optional<std::string> queryCupsDir(std::string_view key) {
  if (key != "datadir") return std::nullopt;
  const std::string& binDir = runSettings().cupsBinDir;
  if (!binDir.empty() && pathExists(binDir + "/share/cups")) return binDir + "/share/cups";
  for (const char* dir :
       {"/usr/share/cups", "/usr/local/share/cups", "/usr/local/cups", "/usr/cups", "/etc/share/cups"}) {
    if (pathExists(dir)) return std::string(dir);
  }
  return std::nullopt;
}

bool isScratchFileName(std::string_view name) {
  auto alnum = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
  };
  auto digits = [](std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!name.starts_with("ZEB")) return false;
  std::string_view rest = name.substr(3);
  if (rest.size() == 6 && alnum(rest)) return true;
  for (std::string_view listing : {std::string_view("LPRNG"), std::string_view("LPD")}) {
    if (!rest.starts_with(listing)) continue;
    std::string_view pid = rest.substr(listing.size());
    size_t dot = pid.find('.');
    if (dot == std::string_view::npos) return digits(pid);
    return digits(pid.substr(0, dot)) && pid.size() == dot + 7 && alnum(pid.substr(dot + 1));
  }
  return false;
}

int removeStaleScratchFiles() {
  const std::string& scratchDir = runSettings().places.scratchDir;
  std::optional<SafeDir> tmp = SafeDir::open(scratchDir);
  if (!tmp) return 0;
  int removed = 0;
  for (const std::string& name : listDirectoryAt(tmp->fd())) {
    struct stat info {};
    if (!isScratchFileName(name) || entryType(tmp->fd(), name, &info) != EntryType::Regular || info.st_uid != 0) continue;
    if (effects().removeFile(joinPath(scratchDir, name), nullptr)) ++removed;
  }
  return removed;
}

std::optional<std::string> myTmpName(const std::string& dir, const char* name) {
  std::string base = withoutTrailingSlashes(dir);
  TempFile temp;
  if (!makeTempFile(base, "ZEB", "", temp)) {
    // Without a scratch file the probe has no answer; the run goes on.
    logFailure(formatMessage(msg::kScratchFileFailed, dir, name ? name : "ZEB"));
    return std::nullopt;
  }
  return temp.path;
}
