#include "discovery/print_system.h"

#include <unistd.h>

#include <array>
#include <cstdlib>

#include "services/run_log.h"
#include "services/terminal.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/paths.h"
#include "sys/temp_files.h"
#include "sys/text.h"
#include "sys/trusted_paths.h"

namespace {

constexpr std::array kStartScripts = {
    "/etc/init.d/cups",        "/etc/init.d/cupsys",  "/etc/rc.d/init.d/cups", "/sbin/init.d/cups",
    "/etc/rc.d/init.d/cupsys", "/sbin/init.d/cupsys", "/etc/cups/cups",
};

constexpr std::array kFoomaticRipPlaces = {
    "/usr/bin/foomatic-rip",
    "/bin/foomatic-rip",
    "/sbin/foomatic-rip",
    "/usr/local/bin/foomatic-rip",
    "/opt/bin/foomatic-rip",
    "/usr/lib/cups/filter/foomatic-rip",
    "/usr/local/lib/cups/filter/foomatic-rip",
    "/opt/lib/cups/filter/foomatic-rip",
    "/lib/cups/filter/foomatic-rip",
};

// The processes looked for, in order; the last is a second look for a
// scheduler that started while the others were listed.
constexpr std::array kProcessNames = {"cupsd", "lpsched", "lpd", "cupsd"};

void dropOneLineEnd(std::string& text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
}

std::string tempPath(const char* format) { return formatText(format, static_cast<int>(::getpid())); }

// The first process-list line naming the process, its own grep left out.
std::optional<std::string> findProcessLine(FILE* listing, std::string_view name, int attempt) {
  std::string line;
  while (readLinePiece(listing, line)) {
    if (runSettings().debugLevel > 0) writeStderr(formatText("STRING=(%s) i=%d\n", line.c_str(), attempt));
    if (contains(line, "grep")) continue;
    if (contains(line, name)) return line;
  }
  return std::nullopt;
}

// The process id of a "ps -ef" line (its second word).
std::optional<int> processIdOf(std::string_view line) {
  size_t start = line.find_first_not_of(" \t");
  start = line.find_first_of(" \t", start);
  start = line.find_first_not_of(" \t", start);
  if (start == std::string_view::npos) return std::nullopt;
  int pid = 0;
  for (size_t i = start; i < line.size() && line[i] >= '0' && line[i] <= '9' && pid < 10000000; ++i)
    pid = pid * 10 + (line[i] - '0');
  return pid > 0 ? std::optional<int>(pid) : std::nullopt;
}

bool runsAsRoot(int pid) {
  FilePtr status = openRegularFile(formatText("/proc/%d/status", pid));
  std::string line;
  while (status && readLinePiece(status.get(), line)) {
    if (line.starts_with("Uid:")) return uidLineIsRoot(line);
  }
  return false;
}

// The scheduler of a process line may tell where the CUPS programs are.
bool believable(std::string_view processLine, const std::string& prefix) {
  std::optional<int> pid = processIdOf(processLine);
  if (!pid || !runsAsRoot(*pid)) return false;
  return isTrustedFile(prefix + "/sbin/cupsd") || isTrustedFile(prefix + "/bin/cupsd");
}

void adoptCupsPrefixes(std::string_view processLine) {
  RunSettings& s = runSettings();
  std::optional<std::string> binDir = cupsdPrefix(wordOnwards(processLine, "cupsd"));
  if (binDir && believable(processLine, *binDir)) s.cupsBinDir = *binDir;
  std::string prefix;
  std::string execPrefix;
  if (readCupsStartScript(prefix, execPrefix) != 1) return;
  if (!prefix.empty() && prefix != s.cupsBaseDir) s.cupsBaseDir = prefix;
  if (!execPrefix.empty() && execPrefix != s.cupsBinDir) s.cupsBinDir = execPrefix;
}

enum class ProbeOutcome { Decided, GoOnWithLprngCheck };

// One "ps -ef | grep NAME" look; sets kind when the listing decides.
std::optional<ProbeOutcome> lookForProcess(int attempt, const std::string& fixedPath, int& kind) {
  const char* name = kProcessNames[attempt];
  std::string listingPath = fixedPath;
  FilePtr listing = createOwnFile(fixedPath, listingPath);
  std::string command = formatText("ps -ef | grep %s > %s", name, shellQuote(listingPath).c_str());
  if (listing) {
    runShell(command);
    ::sleep(1);
  }
  if (!listing) {
    writeStderr(formatText("Cannot open file(cmd=%s) i=%d\n", command.c_str(), attempt));
    kind = kPrinterUnknown;
    return ProbeOutcome::GoOnWithLprngCheck;
  }
  std::optional<std::string> line = findProcessLine(listing.get(), name, attempt);
  listing.reset();
  ::unlink(listingPath.c_str());
  if (!line) return std::nullopt;
  switch (attempt) {
    case 0:
      adoptCupsPrefixes(*line);
      kind = kPrinterCups;
      return ProbeOutcome::Decided;
    case 1: kind = kPrinterLp; return ProbeOutcome::Decided;
    case 2: kind = kPrinterLpr; return ProbeOutcome::GoOnWithLprngCheck;
    default: kind = kPrinterCups; return ProbeOutcome::Decided;
  }
}

int lprngCheck(int kind) {
  std::string outputPath;
  FilePtr output = createOwnFile(tempPath("/tmp/ZEBLPRNG%d"), outputPath);
  if (!output) return kind;
  runShell(formatText("lpd -V 2> %s", shellQuote(outputPath).c_str()));
  std::string line;
  while (readLinePiece(output.get(), line)) {
    if (contains(line, "LPRng")) kind = kPrinterLprng;
  }
  output.reset();
  ::unlink(outputPath.c_str());
  return kind;
}

// The fallback when no start script names the prefixes: what is installed.
int installedCupsPrefixes(std::string& prefix, std::string& execPrefix) {
  const std::string& binDir = runSettings().cupsBinDir;
  if (!binDir.empty()) {
    if (!pathExists(binDir)) return 0;
    execPrefix = binDir;
    if (binDir != "/usr") return 0;
  } else {
    if (!pathExists("/usr/share/cups")) return 0;
    execPrefix = "/usr";
  }
  if (!pathExists("/etc/cups")) return 0;
  prefix = "/";
  return 1;
}

}  // namespace

bool uidLineIsRoot(std::string_view line) {
  return line.starts_with("Uid:") && line.find_first_not_of("0 \t\n", 4) == std::string_view::npos;
}

int printerManagerFromName(std::string_view value) {
  if (value == "CUPS") return kPrinterCups;
  if (value == "LPRNG") return kPrinterLprng;
  if (value == "LPR") return kPrinterLpr;
  if (value == "LP") return kPrinterLp;
  return kPrinterUnknown;
}

int printerManagerFromEnvironment() {
  const char* value = std::getenv("ZEBLPMODE");
  if (!value) value = std::getenv("MIVOLPMODE");
  return value ? printerManagerFromName(value) : kPrinterUnknown;
}

int detectPrinterManager() {
  std::string listingPath = tempPath("/tmp/ZEBLPD%d");
  int kind = kPrinterUnknown;
  for (int attempt = 0; attempt < static_cast<int>(kProcessNames.size()); ++attempt) {
    std::optional<ProbeOutcome> outcome = lookForProcess(attempt, listingPath, kind);
    if (outcome == ProbeOutcome::Decided) return kind;
    if (outcome == ProbeOutcome::GoOnWithLprngCheck) break;
  }
  return lprngCheck(kind);
}

std::string_view wordOnwards(std::string_view line, std::string_view name) {
  size_t match = line.find(name);
  if (match == std::string_view::npos) return {};
  size_t blank = line.rfind(' ', match);
  return line.substr(blank == std::string_view::npos ? 0 : blank + 1);
}

std::optional<std::string> cupsdPrefix(std::string_view rest) {
  if (rest.empty()) return std::nullopt;
  if (rest.front() == ' ') rest.remove_prefix(1);
  if (rest.empty() || rest.front() != '/') return std::nullopt;
  for (int i = 0; i < 2 && (rest.back() == '\n' || rest.back() == '\r'); ++i) rest.remove_suffix(1);
  if (!contains(rest, "cupsd")) return std::nullopt;
  size_t at = rest.find("/sbin/cupsd");
  if (at == std::string_view::npos) at = rest.find("/bin/cupsd");
  if (at == std::string_view::npos) return std::nullopt;
  return std::string(rest.substr(0, at));
}

StartScriptPrefixes scanStartScript(std::string_view script) {
  StartScriptPrefixes found;
  std::vector<std::string_view> lines = linePieces(script, false);
  for (std::string_view line : lines) {
    size_t at = line.find("exec_prefix=");
    if (at == std::string_view::npos) continue;
    found.execPrefix = line.substr(at + 12);
    dropOneLineEnd(found.execPrefix);
    found.hasExecPrefix = true;
    break;
  }
  for (std::string_view line : lines) {
    size_t at = line.find("prefix=");
    if (at == std::string_view::npos || contains(line, "exec_prefix=")) continue;
    found.prefix = line.substr(at + 7);
    dropOneLineEnd(found.prefix);
    found.hasPrefix = true;
    break;
  }
  return found;
}

int readCupsStartScript(std::string& prefix, std::string& execPrefix) {
  prefix.clear();
  for (const char* path : kStartScripts) {
    std::optional<std::string> script = readWholeFile(path);
    if (!script) continue;
    StartScriptPrefixes found = scanStartScript(*script);
    if (found.hasExecPrefix) execPrefix = found.execPrefix;
    if (found.hasPrefix) prefix = found.prefix;
    if (found.hasPrefix || found.hasExecPrefix) return 1;
    break;
  }
  return installedCupsPrefixes(prefix, execPrefix);
}

int hasFoomaticRip() {
  for (const char* place : kFoomaticRipPlaces) {
    if (pathExists(place)) return 1;
  }
  return 0;
}
