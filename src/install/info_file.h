// The information file that records an installation, and its one reader.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/run_settings.h"

// 1 when the current information file of installDir was written, else 0.
int writeInfoFile();
// Makes the current information file from the older one (or a fresh one).
int migrateInfoFile();
// 1 when an information file with a USRDIR line was found: dirOut holds the
// directory, kindOut 1 (older file) or 2 (current file, or an older one whose
// directory already holds a migrated current file); else 0 and kind -1. Only
// a file that root alone could have written counts; another is passed over
// with a line.
int findExistingInstall(std::string& dirOut, int& kindOut);

// The information file of an installation directory for an update kind.
std::string infoFilePath(const std::string& installDir, UpdateKind kind);
// Whether an information file can be believed: root's own regular file that
// nobody else may write, in a directory whose every directory above is
// root's alone. (The directory itself an older installer may have left open
// to others; it is the product's, and taken back before anything is written.)
bool isRootsInfoFile(const std::string& path);
// The text of such a file; nothing otherwise, with a line when a file is
// there but cannot be believed.
std::optional<std::string> readTrustedInfoFile(const std::string& path);

// The lines of a fresh information file (26 with the one printer "Default").
std::string infoFileText(const std::string& installDir, const std::vector<std::string>& printers = {"Default"});
// The names of the printers block, each line whole without its line end and
// trailing blanks; nothing without the begin marker.
std::optional<std::vector<std::string>> printersBlock(std::string_view infoText);
// The current file made from the older file's text: its first header piece replaced.
std::string migratedInfoText(std::string_view olderText);
// The USRDIR value of the first piece that names it; nothing when none does.
std::optional<std::string> usrDirValue(std::string_view infoText);
