#include "install/info_file.h"

#include <sys/stat.h>

#include <array>
#include <cstdlib>

#include "install/fs_helpers.h"
#include "services/effects.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/sha256.h"
#include "sys/text.h"
#include "sys/trusted_paths.h"

namespace {

constexpr const char* kMigratedHeader = "# Mivo 3.0 Information File\n";
constexpr std::string_view kPrintersBegin = "%%ZEBBLOCK_PRINTERS_BEGIN";
constexpr std::string_view kPrintersEnd = "%%ZEBBLOCK_PRINTERS_END";

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

std::string infoDir(const std::string& installDir) {
  return installDir.empty() ? runSettings().places.productDir : installDir;
}

// Written whole into the installation directory, never through a link.
bool writeInfoText(const std::string& path, const std::string& text, const FileAccess& access) {
  return writeProductFile(path, text, access, nullptr);
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

std::string candidatePath(const char* named, UpdateKind kind) {
  return named ? named : infoFilePath(runSettings().places.productDir, kind);
}

}  // namespace

std::string infoFilePath(const std::string& installDir, UpdateKind kind) {
  return joinPath(infoDir(installDir), kind == UpdateKind::FromOlder ? kOlderInfoName : kCurrentInfoName);
}

bool isRootsInfoFile(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || !isRootOnly(info)) return false;
  std::string dir = directoryOf(path);
  std::string real = canonicalPath(dir, "/").value_or(dir);
  return isTrustedDirectory(directoryOf(dir)) && isTrustedDirectory(directoryOf(real));
}

std::optional<std::string> readTrustedInfoFile(const std::string& path) {
  if (!pathExists(path)) return std::nullopt;
  if (!isRootsInfoFile(path)) {
    logFailureMsg(msg::kInfoFileNotTrusted, path);
    return std::nullopt;
  }
  return readWholeFile(path);
}

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
  while (!infoText.empty()) {
    size_t end = infoText.find('\n');
    std::string line(upToNul(infoText.substr(0, end)));
    infoText.remove_prefix(end == std::string_view::npos ? infoText.size() : end + 1);
    trimLineEnd(line);
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
    if (!headerReplaced && contains(piece, "Information File")) {
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
  std::string path = infoFilePath(s.installDir, UpdateKind::Current);
  // The queues an existing file of root's lists are the product's own: a fresh file keeps them.
  std::vector<std::string> printers = {"Default"};
  if (std::optional<std::string> existing = readTrustedInfoFile(path)) {
    std::optional<std::vector<std::string>> kept = printersBlock(*existing);
    if (kept && !kept->empty()) printers = *kept;
  }
  FileAccess access;
  access.mode = 0755;
  access.owner = static_cast<uid_t>(s.uid);
  access.group = static_cast<gid_t>(s.gid);
  if (!writeInfoText(path, infoFileText(s.installDir, printers), access)) {
    logMsg(msg::kCannotOpenFile, path);
    return 0;
  }
  return 1;
}

int migrateInfoFile() {
  const RunSettings& s = runSettings();
  std::string olderPath = infoFilePath(s.installDir, UpdateKind::FromOlder);
  std::string currentPath = infoFilePath(s.installDir, UpdateKind::Current);
  std::optional<std::string> olderText = readTrustedInfoFile(olderPath);
  if (!olderText) {
    logMsg(msg::kCannotOpenFile, olderPath);
    return writeInfoFile();
  }
  FileAccess access;
  access.mode = creationMode();
  if (!writeInfoText(currentPath, migratedInfoText(*olderText), access)) {
    logMsg(msg::kCannotOpenFile, currentPath);
    return writeInfoFile();
  }
  logMsg(msg::kInfoFileMigrated);
  return 1;
}

int findExistingInstall(std::string& dirOut, int& kindOut) {
  kindOut = -1;
  const char* named = std::getenv("MIVOINFO");
  // A file named by MIVOINFO stands for both; it is read (and judged) once.
  std::optional<std::string> namedText = named ? readTrustedInfoFile(named) : std::nullopt;
  for (UpdateKind kind : {UpdateKind::FromOlder, UpdateKind::Current}) {
    std::optional<std::string> text = named ? namedText : readTrustedInfoFile(candidatePath(named, kind));
    std::optional<std::string> value = text ? usrDirValue(*text) : std::nullopt;
    if (!value) continue;
    dirOut = *value;
    kindOut = static_cast<int>(kind);
    // Once the older file has been migrated, the directory it names holds a
    // current file too: that installation is of the current version.
    if (kind == UpdateKind::FromOlder && !value->empty()) {
      std::optional<std::string> current = readTrustedInfoFile(infoFilePath(*value, UpdateKind::Current));
      if (std::optional<std::string> migrated = current ? usrDirValue(*current) : std::nullopt) {
        dirOut = *migrated;
        kindOut = static_cast<int>(UpdateKind::Current);
      }
    }
    return 1;
  }
  return 0;
}
