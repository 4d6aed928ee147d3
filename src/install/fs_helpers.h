// The installation's small file-system helpers, shared by the PPD placement
// and the driver. Every change goes through the run's effects; directories
// are reached by a walk that never follows another user's link.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

#include "sys/atomic_files.h"
#include "sys/failure.h"

// 1 created now, 0 exists as a directory, -1 otherwise (see create flag). A
// created directory gets the mode without group and other write bits and is
// recorded as the product's. A link where the directory (or one above it)
// should be that someone other than root could have made is logged and left alone.
int ensureDirectory(const std::string& path, int create, mode_t mode);
// Creates every missing directory along the path.
void makePath(const std::string& path);
// Makes link -> target unless the link path exists; 0 when made.
int symlinkIfAbsent(const std::string& target, const std::string& link);
// Replaces every byte below 0x20 by a blank.
void flattenLine(std::string& text);

// Writes a file of the product whole, unless it already stands there with
// this content (or one that alreadyRight accepts), mode and owner; the
// record keeps what is there. True when it is right now; wrote tells
// whether it had to be written.
bool writeProductFile(const std::string& path, const std::string& text, const FileAccess& access, Failure* why,
                      bool* wrote = nullptr, const std::function<bool(std::string_view)>& alreadyRight = {});

// Takes back a directory of the product: owner root, no group or other
// write; logs when it had to. False when it is not a plain directory or
// could not be taken back.
bool takeBackDirectory(const std::string& path);
// Removes the temporaries of ours that an interrupted run left in the
// directory, with a line when there were any.
void removeLeftoverTemporaries(const std::string& dir);
// Whether the product made the directory: as its record says, or, on a host
// without a record, by the layout of an installation that root owns.
bool productMadeDirectory(const std::string& path);
// On a host without a record, the installation that a root-owned
// information file names is the product's, with the directories of its
// layout: the record starts from it.
void seedRecordFromInstallation();
