// Reading text in line pieces, as the host's files are read: one read takes
// a line up to and including its line feed, but never more than
// kLinePieceMax bytes; the rest of a longer line comes with the next reads.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kLinePieceMax = 255;

// The next piece, with its line feed; false at the end of the file.
bool readLinePiece(FILE* file, std::string& piece);
// The text cut into the pieces such a reader sees; each piece is also cut at
// its first NUL byte, as C string functions see it, unless told otherwise.
// Views into text.
std::vector<std::string_view> linePieces(std::string_view text, bool cutAtNul = true);
// The piece as far as C string functions see it: up to its first NUL byte.
std::string_view upToNul(std::string_view piece);
