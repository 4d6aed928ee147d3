// The install manifest: which files an installation copies, where, and with
// which permission bits.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Lines are read in pieces of this many bytes at most; each piece is a line.
constexpr size_t kReadPieceMax = 255;
// Room of the install table and of an item's source name.
constexpr size_t kInstallItemMax = 256;
constexpr size_t kSourceNameMax = 47;
// The mode given when the mode field reads as zero.
constexpr int kDefaultItemMode = 0755;

struct InstallItem {
  std::string source;
  std::string destination;
  int mode = 0;
  friend bool operator==(const InstallItem&, const InstallItem&) = default;
};

using InstallTable = std::vector<InstallItem>;

// The items read by the last getInfoData, in manifest order.
InstallTable& installTable();

// Reads the manifest of the run settings into the install table; the item count.
int getInfoData();

// The text cut as a reader of kReadPieceMax-byte pieces sees it: each piece
// ends after a line feed or at the size limit, and is cut at a NUL byte.
// The pieces are views into text, which must outlive them.
std::vector<std::string_view> linePieces(std::string_view text);

// True for a piece that ends the manifest (first byte NUL, or "@@NULL").
bool endsManifest(std::string_view piece);

// The item of one manifest line; nothing for a comment, an empty line or a
// line that begins with a separator.
std::optional<InstallItem> parseManifestLine(std::string_view line);

struct ManifestParse {
  InstallTable items;
  std::vector<std::string> droppedLines;  // one log line per line not taken
};

// The whole manifest text: its items and what had to be left out.
ManifestParse parseManifest(std::string_view text);
