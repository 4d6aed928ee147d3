// The information file that records an installation.
#pragma once

#include <string>

int writeInfoFile();
int migrateInfoFile();
// 1 when an information file with a USRDIR line was found: dirOut holds the
// directory, kindOut 1 (older file) or 2 (current file); else 0 and kind -1.
int findExistingInstall(std::string& dirOut, int& kindOut);
