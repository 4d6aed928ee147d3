// Temporary files for the output of the commands the program runs.
#pragma once

#include <string>

#include "sys/file_handles.h"

// A new file "DIR/PREFIXxxxxxxSUFFIX" created exclusively (mode 0600).
struct TempFile {
  std::string path;
  FdHolder fd;
};
bool makeTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix, TempFile& temp);

// A new empty file of our own, open for reading, for a command to write its
// output into by name. It is made at the fixed path when that path is free (or
// holds only a file or link of ours to replace); when someone else's file,
// directory or link stands there, a new exclusive name beside it is used
// instead. path receives the name used; null when no file could be made.
FilePtr createOwnFile(const std::string& fixedPath, std::string& path);
