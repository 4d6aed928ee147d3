// The installation's small file-system helpers, shared by the PPD placement
// and the driver. Directories are made and checked through a walk that never
// follows a link (sys/safe_dirs.h).
#pragma once

#include <sys/types.h>

#include <string>

// 1 created now, 0 exists as a directory, -1 otherwise (see create flag). A
// created directory gets the mode without group and other write bits. A link
// where the directory (or one above it) should be is logged and left alone.
int ensureDirectory(const std::string& path, int create, mode_t mode);
// Creates every missing directory along the path.
void makePath(const std::string& path);
// Makes link -> target unless the link path exists; 0 when made.
int symlinkIfAbsent(const std::string& target, const std::string& link);
// Replaces every byte below 0x20 by a blank.
void flattenLine(std::string& text);

// Takes back a directory of the product: owner root, no group or other
// write; logs when it had to. False when it is not a plain directory.
bool takeBackDirectory(const std::string& path);
