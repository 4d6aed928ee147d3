// The install manifest: which files an installation copies, where, and with
// which permission bits.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install/install_item.h"

// Room of the install table and of an item's source name.
constexpr size_t kInstallItemMax = 256;
constexpr size_t kSourceNameMax = 47;
// The mode given when the mode field reads as zero.
constexpr int kDefaultItemMode = 0755;

// Reads the manifest of the run settings (its distribution tree and name)
// into the table; the item count.
int getInfoData(InstallTable& table);

// The distribution tree's list of hashes: SHA-256 by path within the tree.
using TreeHashes = std::map<std::string, std::string>;
// The tree's list beside its manifest; nothing when the tree has none (said
// in the log); an empty list when it cannot be read (a failure: nothing
// from the tree may then be installed).
std::optional<TreeHashes> readTreeHashes();
// The lines "<64 hex digits>  <path>"; nothing when a line is not one.
std::optional<TreeHashes> parseHashList(std::string_view text);

// True for a piece that ends the manifest (first byte NUL, or "@@NULL").
bool endsManifest(std::string_view piece);

// The item of one manifest line; nothing for a comment, an empty line or a
// line that begins with a separator.
std::optional<InstallItem> parseManifestLine(std::string_view line);

struct ManifestParse {
  InstallTable items;
  std::vector<std::string> droppedLines;  // one log line per line not taken
};

// The whole manifest text, read as 255-byte pieces: its items and what had
// to be left out. Linear in the size of the text.
ManifestParse parseManifest(std::string_view text);
