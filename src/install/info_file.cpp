#include "install/info_file.h"

#include <array>
#include <cstdlib>

#include "install/generated_file.h"
#include "install/install_manifest.h"
#include "run/run_log.h"
#include "run/run_settings.h"

namespace {

constexpr const char* kDefaultInstallDir = "/opt/orv";
constexpr const char* kCurrentInfoName = "mivoInfo4.0";
constexpr const char* kOlderInfoName = "mivoInfo2.0";
constexpr const char* kMigratedHeader = "# Mivo 3.0 Information File\n";

constexpr std::array<const char*, 21> kInfoFileTail = {
    "HOMEDIR         $HOME",
    "TMPDIR          /tmp",
    "%%ZEBBLOCK_GENERAL_END",
    "#",
    "#",
    "%%ZEBBLOCK_PRINTERS_BEGIN",
    "Default",
    "%%ZEBBLOCK_PRINTERS_END",
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

std::string infoPath(const std::string& installDir, const char* name) {
  return (installDir.empty() ? kDefaultInstallDir : installDir) + "/" + name;
}

bool isValueSkipByte(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte <= 0x20 || byte >= 0x80;
}

// The value after "USRDIR" and one more byte, leading separators skipped,
// up to a blank or a line feed.
std::string valueAfterKey(std::string_view piece, size_t keyPosition) {
  size_t pos = std::min(keyPosition + 7, piece.size());
  while (pos < piece.size() && isValueSkipByte(piece[pos])) ++pos;
  size_t end = piece.find_first_of(" \n", pos);
  return std::string(piece.substr(pos, end == std::string_view::npos ? end : end - pos));
}

}  // namespace

std::string infoFileText(const std::string& installDir) {
  std::string text = "#\n# Mivo 4.0 Information File\n#\n%%ZEBBLOCK_GENERAL_BEGIN\n";
  text += "USRDIR          " + installDir + "\n";
  for (const char* line : kInfoFileTail) text += std::string(line) + "\n";
  return text;
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
  if (!writeGeneratedFile(path, infoFileText(s.installDir))) {
    logMsg(msg::kCannotOpenFile, path);
    return 0;
  }
  setGeneratedFileAccess(path, 0755, s.uid, s.gid);
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
  if (!writeGeneratedFile(currentPath, migratedInfoText(*olderText))) {
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
    std::string candidate = named ? named
                                  : infoPath(kDefaultInstallDir, kind == kUpdateFromOlder
                                                                     ? kOlderInfoName
                                                                     : kCurrentInfoName);
    std::optional<std::string> text = readWholeFile(candidate);
    if (!text) continue;
    std::optional<std::string> value = usrDirValue(*text);
    if (!value) continue;
    dirOut = *value;
    kindOut = kind;
    return 1;
  }
  return 0;
}
