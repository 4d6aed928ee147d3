// Carries out an installation or update from the install table.
#pragma once

#include <optional>
#include <string>

#include "install/install_manifest.h"

void goInstall(int count);
// 1 when the directory and its bin and etc subdirectories exist.
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
// "CP  SOURCE TARGET", with source and target quoted for the shell where needed.
std::string copyCommand(const std::string& cp, const InstallItem& item, const CopyTarget& target);
// The installed file whose mode is set after the copy.
std::string installedFilePath(const InstallItem& item, const CopyTarget& target);
