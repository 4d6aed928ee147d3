// File-system helpers of the queue update: directory listings, descriptors,
// exclusive temporary files and atomic replacement.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "install/fs_helpers.h"

// Entries other than "." and "..", in listing order; empty when the
// directory cannot be listed.
std::vector<std::string> listDirectory(const std::string& dir);
// Opens a regular file for reading; nothing for a missing file, a directory,
// a FIFO (which would block) or a device.
FilePtr openRegularFile(const std::string& path);

// The directory for temporary files as tempnam picks it: TMPDIR when it names
// an existing directory, else /tmp.
std::string temporaryDirectory();

// A new file "DIR/PREFIXxxxxxxSUFFIX" created exclusively (mode 0600).
struct TempFile {
  std::string path;
  FdHolder fd;
};
// Closes the descriptor now; false when close reports a (late write) error.
bool closeChecked(FdHolder& fd);
bool makeTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                  TempFile& temp);

// Writes all of the text; false on any write error.
bool writeAll(int fd, std::string_view text);
// Size of a regular file, or -1.
off_t fileSize(const std::string& path);

// Gives a finished temporary file the owner and mode of the file it is to
// replace, flushes it to disk and renames it over that file: the target is
// at every moment either the old file or the complete new one.
bool replaceWith(const std::string& tempPath, int tempFd, const std::string& target);

// Copies a file in 40960-byte chunks onto dest (created or truncated, never
// through a symbolic link); false on any read or write error.
bool copyFile(const std::string& source, const std::string& dest);

// Size of the file behind a descriptor, or -1.
off_t descriptorSize(int fd);
