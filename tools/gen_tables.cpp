// Turns the plain-text tables of data/ into C++ source.
//
//   gen_tables messages data/messages.tsv out.cpp out.h -> the message catalogue and its names
//   gen_tables models   data/models.tsv   out.cpp        -> the model table
//
// Input rows are tab-separated columns, UTF-8; '#' lines and blank lines are
// skipped. Texts are emitted as ISO-8859-1 bytes. The build fails on a
// duplicate number or name, a wrong column count, a bad number, a conversion
// the messages may not use, or a character that ISO-8859-1 cannot hold.
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
  std::vector<std::string> columns;
};

[[noreturn]] void fail(const std::string& file, int line, const std::string& why) {
  std::cerr << file << ":" << line << ": " << why << "\n";
  std::exit(1);
}

std::vector<Row> readRows(const std::string& file, size_t columns) {
  std::ifstream in(file);
  if (!in) fail(file, 0, "cannot open");
  std::vector<Row> rows;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (text.empty() || text[0] == '#') continue;
    Row row{line, {}};
    std::istringstream fields(text);
    for (std::string field; std::getline(fields, field, '\t');) row.columns.push_back(field);
    if (row.columns.size() != columns)
      fail(file, line, "expected exactly " + std::to_string(columns) + " tab-separated columns");
    rows.push_back(std::move(row));
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

// The argument kinds that a message text asks for, in order: Text for %s,
// Int for %d, Octal for %o (numbers may carry a width, %04o). Any other
// conversion fails the build.
std::vector<std::string> argumentKinds(const std::string& file, int line, const std::string& text) {
  std::vector<std::string> kinds;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (++i == text.size()) fail(file, line, "a lone % at the end");
    size_t width = i;
    while (i + 1 < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i > width && text[i] != 'd' && text[i] != 'o') fail(file, line, "a width on a conversion other than %d or %o");
    switch (text[i]) {
      case '%': break;
      case 's': kinds.push_back("Text"); break;
      case 'd': kinds.push_back("Int"); break;
      case 'o': kinds.push_back("Octal"); break;
      default: fail(file, line, std::string("conversion %") + text[i] + " is not one the messages may use");
    }
  }
  return kinds;
}

struct MessageRow {
  std::string name;
  std::string text;
  std::vector<std::string> kinds;
};

std::map<int, MessageRow> readMessages(const std::string& file) {
  std::map<int, MessageRow> messages;
  std::set<std::string> names;
  for (const Row& row : readRows(file, 3)) {
    int number = parseNumber(file, row.line, row.columns[0]);
    const std::string& name = row.columns[1];
    if (name.size() < 2 || name[0] != 'k' || !names.insert(name).second)
      fail(file, row.line, "message name missing, not kName or used twice: '" + name + "'");
    std::string text = toLatin1(file, row.line, unescape(file, row.line, row.columns[2]));
    std::vector<std::string> kinds = argumentKinds(file, row.line, text);
    if (!messages.emplace(number, MessageRow{name, text, kinds}).second)
      fail(file, row.line, "duplicate message number " + row.columns[0]);
  }
  return messages;
}

void writeMessages(const std::map<int, MessageRow>& messages, std::ostream& out) {
  out << "// Generated from data/messages.tsv; edit that file instead.\n"
      << "#include \"services/message_catalogue.h\"\n\n"
      << "const MessageEntry kMessageEntries[] = {\n";
  for (const auto& [number, row] : messages) out << "    {" << number << ", " << literal(row.text) << "},\n";
  out << "};\nconst int kMessageEntryCount = " << messages.size() << ";\n";
}

void writeMessageNames(const std::map<int, MessageRow>& messages, std::ostream& out) {
  out << "// Generated from data/messages.tsv; edit that file instead.\n"
      << "#pragma once\n\n"
      << "namespace msg {\n";
  for (const auto& [number, row] : messages) {
    out << "inline constexpr Message<";
    for (size_t i = 0; i < row.kinds.size(); ++i) out << (i ? ", " : "") << "arg::" << row.kinds[i];
    out << "> " << row.name << "{" << number << "};\n";
  }
  out << "}  // namespace msg\n";
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

void writeModels(const std::string& file, std::ostream& out) {
  std::vector<Row> rows = readRows(file, 2);
  out << "// Generated from data/models.tsv; edit that file instead.\n"
      << "#include \"queues/model_table.h\"\n\n"
      << "const ModelEntry kModelTable[] = {\n";
  for (const Row& row : rows) {
    int id = parseNumber(file, row.line, row.columns[1]);
    out << "    {" << literal(toLatin1(file, row.line, row.columns[0])) << ", " << id << "},\n";
  }
  out << "};\nconst int kModelTableSize = " << rows.size() << ";\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string kind = argc > 1 ? argv[1] : "";
  if (kind == "messages" && argc == 5) {
    std::map<int, MessageRow> messages = readMessages(argv[2]);
    std::ostringstream table, names;
    writeMessages(messages, table);
    writeMessageNames(messages, names);
    return writeFile(argv[3], table.str()) && writeFile(argv[4], names.str()) ? 0 : 1;
  }
  if (kind == "models" && argc == 4) {
    std::ostringstream table;
    writeModels(argv[2], table);
    return writeFile(argv[3], table.str()) ? 0 : 1;
  }
  std::cerr << "usage: gen_tables messages INPUT OUTPUT.cpp OUTPUT.h | gen_tables models INPUT OUTPUT.cpp\n";
  return 2;
}
