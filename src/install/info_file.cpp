#include "install/info_file.h"

#include <array>
#include <cstdlib>

#include <sys/stat.h>

#include "services/run_log.h"
#include "services/run_settings.h"
#include "sys/atomic_files.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/product.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

constexpr const char* kCurrentInfoName = "mivoInfo4.0";
constexpr const char* kOlderInfoName = "mivoInfo2.0";
constexpr const char* kMigratedHeader = "# Mivo 3.0 Information File\n";

constexpr const char* kPrintersBegin = "%%ZEBBLOCK_PRINTERS_BEGIN";
constexpr const char* kPrintersEnd = "%%ZEBBLOCK_PRINTERS_END";

constexpr std::array<const char*, 5> kGeneralTail = {
    "HOMEDIR         $HOME", "TMPDIR          /tmp", "%%ZEBBLOCK_GENERAL_END", "#", "#",
};

constexpr std::array<const char*, 13> kInfoFileTail = {
    "#",
    "#",
    "%%ZEBBLOCK_USERS_BEGIN",
    "root",
    "%%ZEBBLOCK_USERS_END",
    "#",
    "#",
    "%%ZEBBLOCK_PRNT_BEGIN Default",
    "root",
    "%%ZEBBLOCK_PRNT_END Default",
    "#",
    "#",
    "%%ZEBEND",
};

std::string infoDir(const std::string& installDir) { return installDir.empty() ? kProductDir : installDir; }

std::string infoPath(const std::string& installDir, const char* name) { return infoDir(installDir) + "/" + name; }

// Written whole into the installation directory, never through a link.
bool writeInfoText(const std::string& installDir, const char* name, const std::string& text, const FileAccess& access) {
  std::optional<SafeDir> dir = SafeDir::open(infoDir(installDir));
  return dir && writeFileAtomically(*dir, name, text, access);
}

// What a new file gets without a mode of its own: 0666 less the umask.
mode_t creationMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool isValueSkipByte(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte <= 0x20 || byte >= 0x80;
}

// The value after "USRDIR" and one more byte, leading separators skipped,
// up to a blank or the line end (a CR of a CR LF file is not part of it).
std::string valueAfterKey(std::string_view piece, size_t keyPosition) {
  size_t pos = std::min(keyPosition + 7, piece.size());
  while (pos < piece.size() && isValueSkipByte(piece[pos])) ++pos;
  size_t end = piece.find_first_of(" \r\n", pos);
  return std::string(piece.substr(pos, end == std::string_view::npos ? end : end - pos));
}

}  // namespace

std::string infoFileText(const std::string& installDir, const std::vector<std::string>& printers) {
  std::string text = "#\n# Mivo 4.0 Information File\n#\n%%ZEBBLOCK_GENERAL_BEGIN\n";
  text += "USRDIR          " + installDir + "\n";
  for (const char* line : kGeneralTail) text += std::string(line) + "\n";
  text += std::string(kPrintersBegin) + "\n";
  for (const std::string& printer : printers) text += printer + "\n";
  text += std::string(kPrintersEnd) + "\n";
  for (const char* line : kInfoFileTail) text += std::string(line) + "\n";
  return text;
}

std::optional<std::vector<std::string>> printersBlock(std::string_view infoText) {
  std::optional<std::vector<std::string>> printers;
  for (std::string_view piece : linePieces(infoText)) {
    std::string line(piece);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!printers) {
      if (line == kPrintersBegin) printers.emplace();
    } else if (line == kPrintersEnd) {
      return printers;
    } else {
      printers->push_back(line);
    }
  }
  return printers;
}

std::string migratedInfoText(std::string_view olderText) {
  std::string text;
  bool headerReplaced = false;
  for (std::string_view piece : linePieces(olderText)) {
    if (!headerReplaced && piece.find("Information File") != std::string_view::npos) {
      text += kMigratedHeader;
      headerReplaced = true;
    } else {
      text += piece;
    }
  }
  return text;
}

std::optional<std::string> usrDirValue(std::string_view infoText) {
  for (std::string_view piece : linePieces(infoText)) {
    size_t key = piece.find("USRDIR");
    if (key != std::string_view::npos) return valueAfterKey(piece, key);
  }
  return std::nullopt;
}

int writeInfoFile() {
  const RunSettings& s = runSettings();
  std::string path = infoPath(s.installDir, kCurrentInfoName);
  // The queues an existing file lists are the product's own: a fresh file keeps them.
  std::vector<std::string> printers = {"Default"};
  if (std::optional<std::string> existing = readWholeFile(path)) {
    std::optional<std::vector<std::string>> kept = printersBlock(*existing);
    if (kept && !kept->empty()) printers = *kept;
  }
  FileAccess access;
  access.mode = 0755;
  access.owner = static_cast<uid_t>(s.uid);
  access.group = static_cast<gid_t>(s.gid);
  if (!writeInfoText(s.installDir, kCurrentInfoName, infoFileText(s.installDir, printers), access)) {
    logMsg(msg::kCannotOpenFile, path);
    return 0;
  }
  return 1;
}

int migrateInfoFile() {
  const RunSettings& s = runSettings();
  std::string olderPath = infoPath(s.installDir, kOlderInfoName);
  std::string currentPath = infoPath(s.installDir, kCurrentInfoName);
  std::optional<std::string> olderText = readWholeFile(olderPath);
  if (!olderText) {
    logMsg(msg::kCannotOpenFile, olderPath);
    return writeInfoFile();
  }
  FileAccess access;
  access.mode = creationMode();
  if (!writeInfoText(s.installDir, kCurrentInfoName, migratedInfoText(*olderText), access)) {
    logMsg(msg::kCannotOpenFile, currentPath);
    return writeInfoFile();
  }
  logMsg(msg::kInfoFileMigrated);
  return 1;
}

int findExistingInstall(std::string& dirOut, int& kindOut) {
  kindOut = -1;
  const char* named = std::getenv("MIVOINFO");
  for (int kind : {kUpdateFromOlder, kUpdateCurrent}) {
    std::string candidate =
        named ? named : infoPath(kProductDir, kind == kUpdateFromOlder ? kOlderInfoName : kCurrentInfoName);
    std::optional<std::string> text = readWholeFile(candidate);
    if (!text) continue;
    std::optional<std::string> value = usrDirValue(*text);
    if (!value) continue;
    dirOut = *value;
    kindOut = kind;
    // Once the older file has been migrated, the directory it names holds a
    // current file too: that installation is of the current version.
    if (kind == kUpdateFromOlder && !value->empty()) {
      std::optional<std::string> current = readWholeFile(infoPath(*value, kCurrentInfoName));
      if (std::optional<std::string> migrated = current ? usrDirValue(*current) : std::nullopt) {
        dirOut = *migrated;
        kindOut = kUpdateCurrent;
      }
    }
    return 1;
  }
  return 0;
}
