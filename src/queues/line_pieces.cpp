#include "queues/line_pieces.h"

#include <cstring>

bool readLinePiece(std::istream& in, std::string& piece) {
  piece.clear();
  std::streambuf* buffer = in.rdbuf();
  while (piece.size() < kLinePieceMax) {
    int c = buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit);
      break;
    }
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

std::string_view upToNul(const std::string& piece) {
  return std::string_view(piece.c_str(), std::strlen(piece.c_str()));
}
