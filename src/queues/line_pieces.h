// Reading text in line pieces, as the host's files are read: one read takes
// a line up to and including its line feed, but never more than
// kLinePieceMax bytes; the rest of a longer line comes with the next reads.
// The FILE* reader is readLinePiece of install/fs_helpers.h.
#pragma once

#include <istream>
#include <string>
#include <string_view>

#include "install/fs_helpers.h"

// False at end of input (nothing read).
bool readLinePiece(std::istream& in, std::string& piece);

// The piece as far as C string functions see it: up to its first NUL byte.
std::string_view upToNul(const std::string& piece);
