// Reading whole files without ever blocking on a fifo or a device.
#pragma once

#include <optional>
#include <string>

#include "sys/file_handles.h"

// The whole content of a regular file (links followed); nothing when it is
// missing, not a regular file, or a read fails. error receives errno then.
std::optional<std::string> readWholeFile(const std::string& path, int* error = nullptr);
// The whole content of a regular file open at fd.
std::optional<std::string> readWholeDescriptor(int fd, int* error = nullptr);
// A regular file open for reading; nothing for a missing file, a directory,
// a fifo (which would block) or a device.
FilePtr openRegularFile(const std::string& path);
