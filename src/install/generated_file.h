// Files that the installation generates: written without following a link
// planted at their path, and read back whole.
#pragma once

#include <optional>
#include <string>

// Creates or replaces the file's content; an existing symbolic link at the
// path is refused. False when it could not be opened or fully written.
bool writeGeneratedFile(const std::string& path, const std::string& content);

// Mode and owner of a generated file (failures are not reported).
void setGeneratedFileAccess(const std::string& path, int mode, int uid, int gid);

// The whole content of a readable regular file.
std::optional<std::string> readWholeFile(const std::string& path);
