// The information file that records an installation.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// 1 when the current information file of installDir was written, else 0.
int writeInfoFile();
// Makes the current information file from the older one (or a fresh one).
int migrateInfoFile();
// 1 when an information file with a USRDIR line was found: dirOut holds the
// directory, kindOut 1 (older file) or 2 (current file); else 0 and kind -1.
int findExistingInstall(std::string& dirOut, int& kindOut);

// The 26 lines of a fresh information file.
std::string infoFileText(const std::string& installDir);
// The current file made from the older file's text: its first header piece replaced.
std::string migratedInfoText(std::string_view olderText);
// The USRDIR value of the first piece that names it; nothing when none does.
std::optional<std::string> usrDirValue(std::string_view infoText);
