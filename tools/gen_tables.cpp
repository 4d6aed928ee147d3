// Turns the plain-text tables of data/ into C++ source.
//
//   gen_tables messages data/messages.tsv out.cpp   -> the message catalogue
//   gen_tables models   data/models.tsv   out.cpp   -> the model table
//
// Input rows are "first<TAB>second", UTF-8; '#' lines and blank lines are
// skipped. Texts are emitted as ISO-8859-1 bytes. The build fails on a
// duplicate number, a wrong column count, a bad number or a character that
// ISO-8859-1 cannot hold.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Row {
  int line;
  std::string first;
  std::string second;
};

[[noreturn]] void fail(const std::string& file, int line, const std::string& why) {
  std::cerr << file << ":" << line << ": " << why << "\n";
  std::exit(1);
}

std::vector<Row> readRows(const std::string& file) {
  std::ifstream in(file);
  if (!in) fail(file, 0, "cannot open");
  std::vector<Row> rows;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (text.empty() || text[0] == '#') continue;
    auto tab = text.find('\t');
    if (tab == std::string::npos || text.find('\t', tab + 1) != std::string::npos)
      fail(file, line, "expected exactly two tab-separated columns");
    rows.push_back({line, text.substr(0, tab), text.substr(tab + 1)});
  }
  return rows;
}

int parseNumber(const std::string& file, int line, const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
    fail(file, line, "not a number: '" + text + "'");
  return std::stoi(text);
}

// UTF-8 to ISO-8859-1; anything above U+00FF is refused.
std::string toLatin1(const std::string& file, int line, const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = utf8[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() &&
               (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
      unsigned code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      out += static_cast<char>(code);
      ++i;
    } else {
      fail(file, line, "character outside ISO-8859-1");
    }
  }
  return out;
}

// Resolves the escapes a row may hold: \n \t \" \\ .
std::string unescape(const std::string& file, int line, const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) fail(file, line, "dangling backslash");
    switch (text[i]) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      default: fail(file, line, std::string("unknown escape \\") + text[i]);
    }
  }
  return out;
}

// A C++ literal that holds exactly these bytes.
std::string literal(const std::string& bytes) {
  std::ostringstream out;
  out << '"';
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '?') {
      out << c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\%03o", c);
      out << hex;
    }
  }
  out << '"';
  return out.str();
}

void writeMessages(const std::string& file, std::ostream& out) {
  std::map<int, std::string> texts;
  for (const Row& row : readRows(file)) {
    int number = parseNumber(file, row.line, row.first);
    if (!texts.emplace(number, toLatin1(file, row.line, unescape(file, row.line, row.second))).second)
      fail(file, row.line, "duplicate message number " + row.first);
  }
  out << "// Generated from data/messages.tsv; edit that file instead.\n"
      << "#include \"run/message_catalogue.h\"\n\n"
      << "const MessageEntry kMessageEntries[] = {\n";
  for (const auto& [number, text] : texts) out << "    {" << number << ", " << literal(text) << "},\n";
  out << "};\nconst int kMessageEntryCount = " << texts.size() << ";\n";
}

void writeModels(const std::string& file, std::ostream& out) {
  std::vector<Row> rows = readRows(file);
  out << "// Generated from data/models.tsv; edit that file instead.\n"
      << "#include \"queues/model_table.h\"\n\n"
      << "const ModelEntry kModelTable[] = {\n";
  for (const Row& row : rows) {
    int id = parseNumber(file, row.line, row.second);
    out << "    {" << literal(toLatin1(file, row.line, row.first)) << ", " << id << "},\n";
  }
  out << "};\nconst int kModelTableSize = " << rows.size() << ";\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: gen_tables messages|models INPUT OUTPUT\n";
    return 2;
  }
  std::string kind = argv[1];
  std::ostringstream text;
  if (kind == "messages") {
    writeMessages(argv[2], text);
  } else if (kind == "models") {
    writeModels(argv[2], text);
  } else {
    std::cerr << "unknown table kind " << kind << "\n";
    return 2;
  }
  std::ofstream out(argv[3], std::ios::binary);
  out << text.str();
  return out ? 0 : 1;
}
