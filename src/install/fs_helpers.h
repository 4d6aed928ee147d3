// Small file-system helpers shared by installation, PPD placement, discovery
// and the driver.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

#include "run/file_handles.h"

// 1 created now, 0 exists as a directory, -1 otherwise (see create flag).
// A created directory gets the mode without group and other write bits.
int ensureDirectory(const std::string& path, int create, mode_t mode);
// Creates every missing directory along the path.
void makePath(const std::string& path);
// Makes link -> target unless the link path exists; 0 when made.
int symlinkIfAbsent(const std::string& target, const std::string& link);
// Replaces every byte below 0x20 by a blank.
void flattenLine(std::string& text);

// 1 when the path exists (links followed).
bool pathExists(const std::string& path);

// The host's text files are read in lines of at most this many bytes; a
// longer line comes in several pieces.
constexpr size_t kLinePieceMax = 255;

FilePtr openForReading(const std::string& path);
// The next line, with its line feed, or its next piece of kLinePieceMax
// bytes; false at the end of the file.
bool readLinePiece(FILE* file, std::string& line);

// Creates a new empty file of mode 0600 at a fixed, guessable path: whatever
// stands there is removed first (a link is removed, never followed), and the
// file is created exclusively, so that a command writing to the path by name
// writes only into this file. Null when the file cannot be made.
FilePtr createExclusiveFile(const std::string& path);
