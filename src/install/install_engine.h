// Carries out an installation or update from the install table.
#pragma once

#include <string>

void goInstall(int count);
// 1 when the directory and its bin and etc subdirectories exist.
int prepareInstallTree(const std::string& dir);
