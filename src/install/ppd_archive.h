// Archive of the PPD directory before an update from the older version.
#pragma once

#include <string>

int archivePpdFiles(const std::string& dir);
