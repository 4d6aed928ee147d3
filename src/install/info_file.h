// The information file that records an installation.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// 1 when the current information file of installDir was written, else 0.
int writeInfoFile();
// Makes the current information file from the older one (or a fresh one).
int migrateInfoFile();
// 1 when an information file with a USRDIR line was found: dirOut holds the
// directory, kindOut 1 (older file) or 2 (current file, or an older one whose
// directory already holds a migrated current file); else 0 and kind -1.
int findExistingInstall(std::string& dirOut, int& kindOut);

// The lines of a fresh information file (26 with the one printer "Default").
std::string infoFileText(const std::string& installDir, const std::vector<std::string>& printers = {"Default"});
// The lines of the printers block (line ends cut); nothing without its begin marker.
std::optional<std::vector<std::string>> printersBlock(std::string_view infoText);
// The current file made from the older file's text: its first header piece replaced.
std::string migratedInfoText(std::string_view olderText);
// The USRDIR value of the first piece that names it; nothing when none does.
std::optional<std::string> usrDirValue(std::string_view infoText);
