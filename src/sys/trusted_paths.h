// Whether a file is safe for root to run or believe: nobody but root could
// have put it there or changed it.
#pragma once

#include <string>

// The file is a regular file that belongs to root and that neither its group
// nor others may write, and so is every directory above it, both as the path
// names them and after its links are resolved.
bool isTrustedFile(const std::string& path);
// The same rule for a directory and every directory above it.
bool isTrustedDirectory(const std::string& path);
