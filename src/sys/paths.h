// Questions about paths, asked by name (links followed).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// The path exists (access with F_OK; a dangling link does not).
bool pathExists(const std::string& path);
// 1 when the path exists and, links followed, is a directory; else 0.
int isDirectory(const std::string& path);
// The path is, links followed, a regular file.
bool isRegularFile(const std::string& path);
// The path made absolute (relative to cwd) and canonical: links resolved as
// far as the path exists, "." and ".." taken out, no trailing '/'. Nothing
// for an empty path.
std::optional<std::string> canonicalPath(const std::string& path, const std::string& cwd);
