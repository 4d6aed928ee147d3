#include "sys/line_reading.h"

#include <algorithm>

bool readLinePiece(FILE* file, std::string& piece) {
  piece.clear();
  for (int c; piece.size() < kLinePieceMax && (c = std::getc(file)) != EOF;) {
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

std::vector<std::string_view> linePieces(std::string_view text, bool cutAtNul) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    size_t length = std::min(text.size(), kLinePieceMax);
    size_t lineFeed = text.substr(0, length).find('\n');
    if (lineFeed != std::string_view::npos) length = lineFeed + 1;
    pieces.push_back(cutAtNul ? upToNul(text.substr(0, length)) : text.substr(0, length));
    text.remove_prefix(length);
  }
  return pieces;
}

std::string_view upToNul(std::string_view piece) { return piece.substr(0, piece.find('\0')); }
