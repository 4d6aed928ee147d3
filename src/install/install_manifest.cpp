#include "install/install_manifest.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "services/run_log.h"
#include "services/run_settings.h"
#include "services/terminal.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"

namespace {

// Field bytes are 0x21 to 0x7E; everything else separates fields.
bool isSeparator(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte <= 0x20 || byte >= 0x7F;
}

bool isOctalDigit(char c) { return c >= '0' && c <= '7'; }

// Trailing line feeds, carriage returns and blanks, never the first byte.
std::string_view trimmedLineEnd(std::string_view line) {
  while (line.size() > 1 && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.remove_suffix(1);
  }
  return line;
}

// The next field at or after pos; pos is left just past it.
std::string_view nextField(std::string_view line, size_t& pos) {
  while (pos < line.size() && isSeparator(line[pos])) ++pos;
  size_t start = pos;
  while (pos < line.size() && !isSeparator(line[pos])) ++pos;
  return line.substr(start, pos - start);
}

// The mode begins at the first "00" after the destination and is read as
// octal; a zero value means the default mode, no "00" means no mode.
int modeAfterDestination(std::string_view rest) {
  size_t start = rest.find("00");
  if (start == std::string_view::npos) return 0;
  int value = 0;
  for (size_t i = start; i < rest.size() && isOctalDigit(rest[i]); ++i) {
    if (value > 07777777) break;  // permission bits never need more
    value = value * 8 + (rest[i] - '0');
  }
  return value == 0 ? kDefaultItemMode : value;
}

// A file of the distribution tree (the manifest, its list of hashes), read
// without following a link someone other than root could have made below the
// tree: a manifest swapped for a link must not make root read (and log)
// another file.
std::optional<std::string> readTreeFile(const std::string& dir, const std::string& name) {
  std::optional<SafeDir> handle = SafeDir::open(dir);
  if (!handle || !isSingleComponent(name)) return std::nullopt;
  FdHolder fd(::openat(handle->fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return readWholeDescriptor(fd.get());
}

std::string treeDir(const RunSettings& s) { return canonicalPath(s.sourceDir, s.startDir).value_or(s.sourceDir); }

bool isHexDigest(std::string_view text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

bool endsManifest(std::string_view piece) { return piece.empty() || piece.find("@@NULL") != std::string_view::npos; }

std::optional<InstallItem> parseManifestLine(std::string_view line) {
  if (line.empty() || line[0] == '#' || line[0] == '\n') return std::nullopt;
  line = trimmedLineEnd(line);
  if (isSeparator(line[0])) return std::nullopt;
  InstallItem item;
  size_t pos = 0;
  item.source = nextField(line, pos);
  item.destination = nextField(line, pos);
  if (!item.destination.empty()) item.mode = modeAfterDestination(line.substr(pos));
  return item;
}

ManifestParse parseManifest(std::string_view text) {
  ManifestParse result;
  int lineNumber = 1;
  for (size_t at = 0; at < text.size();) {
    size_t length = std::min(text.size() - at, kLinePieceMax);
    size_t lineFeed = text.substr(at, length).find('\n');
    if (lineFeed != std::string_view::npos) length = lineFeed + 1;
    std::string_view raw = text.substr(at, length);
    at += length;
    int pieceLine = lineNumber;
    if (raw.back() == '\n') ++lineNumber;
    std::string_view piece = upToNul(raw);
    if (endsManifest(piece)) break;
    std::optional<InstallItem> item = parseManifestLine(piece);
    if (!item) continue;
    if (item->source.size() > kSourceNameMax) {
      result.droppedLines.push_back(
          formatMessage(msg::kManifestNameTooLong, pieceLine, item->source, static_cast<int>(kSourceNameMax)));
    } else if (result.items.size() >= kInstallItemMax) {
      result.droppedLines.push_back(formatMessage(msg::kManifestTooLong, pieceLine, static_cast<int>(kInstallItemMax)));
    } else {
      result.items.push_back(std::move(*item));
    }
  }
  return result;
}

std::optional<TreeHashes> parseHashList(std::string_view text) {
  TreeHashes hashes;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = withoutLineEnd(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty()) continue;
    // "<64 hex digits><two blanks><path>", as the tree's list is written.
    if (line.size() < 67 || !isHexDigest(line.substr(0, 64)) || line.substr(64, 2) != "  ") return std::nullopt;
    hashes[std::string(line.substr(66))] = std::string(line.substr(0, 64));
  }
  return hashes;
}

int getInfoData(InstallTable& table) {
  const RunSettings& s = runSettings();
  table.clear();
  std::string dir = treeDir(s) + "/etc";
  std::string path = s.sourceDir + "/etc/" + s.manifestName;
  std::optional<std::string> text = readTreeFile(dir, s.manifestName);
  if (!text) {
    dir = treeDir(s);
    path = s.sourceDir + "/" + s.manifestName;
    text = readTreeFile(dir, s.manifestName);
  }
  if (!text) {
    logMsg(msg::kCannotOpenManifest, path);
    return 0;
  }
  logMsg(msg::kManifestOpened, path);
  ManifestParse manifest = parseManifest(*text);
  for (const std::string& line : manifest.droppedLines) logMessage(line);
  table = std::move(manifest.items);
  for (const InstallItem& item : table) {
    if (s.debugLevel > 0 && item.mode > 0) {
      writeStderr(formatText("getInfoData: %s ===> %s, o%o.\n", item.source.c_str(), item.destination.c_str(),
                             static_cast<unsigned>(item.mode)));
    }
  }
  return static_cast<int>(table.size());
}

std::optional<TreeHashes> readTreeHashes() {
  const RunSettings& s = runSettings();
  for (const std::string& dir : {treeDir(s) + "/etc", treeDir(s)}) {
    std::optional<std::string> text = readTreeFile(dir, kHashListName);
    if (!text) continue;
    std::optional<TreeHashes> hashes = parseHashList(*text);
    if (hashes) return hashes;
    // A list that cannot be read vouches for nothing.
    logFailureMsg(msg::kHashListUnreadable, joinPath(dir, kHashListName));
    return TreeHashes{};
  }
  logMsg(msg::kNoHashList, s.sourceDir);
  return std::nullopt;
}
