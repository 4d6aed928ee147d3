// Carries out an installation or update from the install table.
#pragma once

#include <optional>
#include <string>

#include "install/install_manifest.h"

// Installs the first count items of the table. False when the run must stop
// (the installation tree or directory cannot be had; logged and reported).
bool goInstall(const InstallTable& table, int count);
// 1 when the directory and its bin and etc subdirectories exist; a
// directory of the product's is taken back (owner root, no foreign write).
int prepareInstallTree(const std::string& dir);

// Where an item goes: a file path, or a directory that receives the file.
struct CopyTarget {
  std::string path;
  bool isDirectory = false;
  friend bool operator==(const CopyTarget&, const CopyTarget&) = default;
};

// The target of an item by its destination code; nothing for an unknown code.
// ppdTargetDir is the directory that "?" items go to.
std::optional<CopyTarget> copyTargetFor(const InstallItem& item, const std::string& installDir,
                                        const std::string& ppdTargetDir);
// Whether the item is copied at all (short names and, in place, all but "?" are not).
bool isCopied(const InstallItem& item, const CopyTarget& target, bool inPlace);
// The installed file: the target path itself, or the source's last component in the target directory.
std::string installedFilePath(const InstallItem& item, const CopyTarget& target);
