// Directory listings.
#pragma once

#include <string>
#include <vector>

// Entries other than "." and "..", in listing order; empty when the
// directory cannot be listed.
std::vector<std::string> listDirectory(const std::string& dir);
// The same for a directory open at fd (the descriptor stays open).
std::vector<std::string> listDirectoryAt(int fd);
