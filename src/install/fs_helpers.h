// Small file-system helpers shared by installation, PPD placement and the driver.
#pragma once

#include <sys/types.h>

#include <string>

// 1 created now, 0 exists as a directory, -1 otherwise (see create flag).
int ensureDirectory(const std::string& path, int create, mode_t mode);
// Creates every missing directory along the path.
void makePath(const std::string& path);
// Makes link -> target unless the link path exists; 0 when made.
int symlinkIfAbsent(const std::string& target, const std::string& link);
// Replaces every byte below 0x20 by a blank.
void flattenLine(std::string& text);
