#include "sandbox/real_ppd_sample.h"

#include <strings.h>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

constexpr std::string_view kCopyMark = "Defaults differential copy: ";

using Lines = std::vector<std::string>;

[[noreturn]] void fail(const std::string& why) { throw std::runtime_error(why); }

Lines splitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string joinLines(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> pieces;
  std::istringstream in(text);
  for (std::string piece; std::getline(in, piece, by);)
    if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool isSpace(char c) { return c == ' ' || c == '\t'; }

// The main keyword of a live statement ("OpenUI" of "*OpenUI *X: PickOne"), or "".
std::string mainKeyword(const std::string& line) {
  if (line.size() < 2 || line[0] != '*' || line[1] == '%') return "";
  size_t end = line.find_first_of(" \t:", 1);
  return line.substr(1, (end == std::string::npos ? line.size() : end) - 1);
}

// The word after the main keyword, up to '/', ':' or a blank ("PageSize" of
// "*OpenUI *PageSize/Page Size: PickOne", "A4" of "*PageSize A4/A4: ...").
std::string firstArgument(const std::string& line) {
  size_t at = line.find_first_of(" \t", 1);
  if (at == std::string::npos) return "";
  while (at < line.size() && isSpace(line[at])) ++at;
  size_t end = line.find_first_of("/: \t", at);
  return line.substr(at, (end == std::string::npos ? line.size() : end) - at);
}

bool opensBlockOf(const std::string& line, const std::string& option) {
  std::string keyword = mainKeyword(line);
  return (keyword == "OpenUI" || keyword == "JCLOpenUI") && firstArgument(line) == "*" + option;
}

// The value of a statement without its quotes' surroundings: "A4" of "*DefaultPageSize: A4".
std::string valueOf(const std::string& line) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return "";
  size_t first = line.find_first_not_of(" \t", colon + 1);
  if (first == std::string::npos) return "";
  return line.substr(first, line.find_last_not_of(" \t") + 1 - first);
}

bool closesBlockOf(const std::string& line, const std::string& option) {
  std::string keyword = mainKeyword(line);
  return (keyword == "CloseUI" || keyword == "JCLCloseUI") && valueOf(line) == "*" + option;
}

// The last line of the statement starting at `first`: a quoted value may run
// over several lines and be followed by *End.
size_t statementEnd(const Lines& lines, size_t first) {
  size_t colon = lines[first].find(':');
  if (colon == std::string::npos) return first;
  size_t quotes = std::count(lines[first].begin() + colon, lines[first].end(), '"');
  size_t last = first;
  while (quotes % 2 == 1 && last + 1 < lines.size()) {
    ++last;
    quotes += std::count(lines[last].begin(), lines[last].end(), '"');
  }
  if (last > first && last + 1 < lines.size() && lines[last + 1].starts_with("*End")) ++last;
  return last;
}

struct Span {
  size_t first;
  size_t last;  // inclusive
};

Span findBlock(const Lines& lines, const std::string& option) {
  for (size_t open = 0; open < lines.size(); ++open) {
    if (!opensBlockOf(lines[open], option)) continue;
    for (size_t close = open + 1; close < lines.size(); ++close)
      if (closesBlockOf(lines[close], option)) return {open, close};
    fail("option " + option + " has no closing line");
  }
  fail("no option " + option);
}

struct Choice {
  Span span;
  std::string keyword;
};

std::vector<Choice> choicesOf(const Lines& lines, const std::string& option) {
  Span block = findBlock(lines, option);
  std::vector<Choice> choices;
  for (size_t at = block.first + 1; at < block.last; at = statementEnd(lines, at) + 1)
    if (mainKeyword(lines[at]) == option) choices.push_back({{at, statementEnd(lines, at)}, firstArgument(lines[at])});
  return choices;
}

Choice findChoice(const Lines& lines, const std::string& option, const std::string& choice) {
  for (const Choice& candidate : choicesOf(lines, option))
    if (candidate.keyword == choice) return candidate;
  fail("option " + option + " has no choice " + choice);
}

// The live *Default line of an option, its keyword matched without regard to
// case as the scheduler matches it; inside the option's block first.
size_t findDefault(const Lines& lines, const std::string& option) {
  Span block = findBlock(lines, option);
  auto isDefault = [&](size_t at) {
    std::string keyword = mainKeyword(lines[at]);
    return keyword.starts_with("Default") && equalsIgnoringCase(keyword.substr(7), option);
  };
  for (size_t at = block.first; at <= block.last; ++at)
    if (isDefault(at)) return at;
  for (size_t at = 0; at < lines.size(); ++at)
    if (isDefault(at)) return at;
  fail("option " + option + " has no default line");
}

void setDefault(Lines& lines, const std::string& option, const std::string& choice) {
  size_t at = findDefault(lines, option);
  lines[at] = lines[at].substr(0, lines[at].find(':') + 1) + " " + choice;
}

// Constraints outside the block that name the option.
bool mentions(const std::string& line, const std::string& option) {
  std::string keyword = mainKeyword(line);
  if (keyword == "UIConstraints" || keyword == "NonUIConstraints") {
    std::istringstream words(line.substr(line.find(':') + 1));
    for (std::string word; words >> word;)
      if (word == "*" + option) return true;
  }
  return false;
}

bool mentionsChoice(const std::string& line, const std::string& option, const std::string& choice) {
  if (!mentions(line, option)) return false;
  std::istringstream words(line.substr(line.find(':') + 1));
  std::string previous;
  for (std::string word; words >> word; previous = word)
    if (previous == "*" + option && word == choice) return true;
  return false;
}

template <typename Predicate>
void eraseLines(Lines& lines, Predicate predicate) {
  lines.erase(std::remove_if(lines.begin(), lines.end(), predicate), lines.end());
}

void dropOption(Lines& lines, const std::string& option) {
  Span block = findBlock(lines, option);
  lines.erase(lines.begin() + block.first, lines.begin() + block.last + 1);
  eraseLines(lines, [&](const std::string& line) { return mentions(line, option); });
}

void dropChoice(Lines& lines, const std::string& option, const std::string& choice) {
  Choice gone = findChoice(lines, option, choice);
  lines.erase(lines.begin() + gone.span.first, lines.begin() + gone.span.last + 1);
  eraseLines(lines, [&](const std::string& line) { return mentionsChoice(line, option, choice); });
  // foomatic-rip's own setting of that choice
  const std::string setting = "*FoomaticRIPOptionSetting " + option + "=" + choice + ":";
  for (size_t at = 0; at < lines.size(); ++at)
    if (lines[at].starts_with(setting)) {
      lines.erase(lines.begin() + at, lines.begin() + statementEnd(lines, at) + 1);
      break;
    }
  std::vector<Choice> rest = choicesOf(lines, option);
  if (rest.empty()) fail("option " + option + " would have no choice left");
  if (valueOf(lines[findDefault(lines, option)]) == choice) setDefault(lines, option, rest.front().keyword);
}

// A copy of the option's first choice under a new name.
void addChoice(Lines& lines, const std::string& option, const std::string& choice) {
  std::vector<Choice> choices = choicesOf(lines, option);
  if (choices.empty()) fail("option " + option + " has no choice to copy");
  const Choice& model = choices.front();
  Lines copy(lines.begin() + model.span.first, lines.begin() + model.span.last + 1);
  copy.front() = "*" + option + " " + choice + "/" + choice + copy.front().substr(copy.front().find(':'));
  lines.insert(lines.begin() + choices.back().span.last + 1, copy.begin(), copy.end());
}

void moveBefore(Lines& lines, const std::string& option, const std::string& before) {
  Span block = findBlock(lines, option);
  Lines moved(lines.begin() + block.first, lines.begin() + block.last + 1);
  lines.erase(lines.begin() + block.first, lines.begin() + block.last + 1);
  size_t at = findBlock(lines, before).first;
  lines.insert(lines.begin() + at, moved.begin(), moved.end());
}

void respellDefault(Lines& lines, const std::string& option, const std::string& spelling) {
  if (!equalsIgnoringCase(option, spelling)) fail(spelling + " does not spell " + option);
  size_t at = findDefault(lines, option);
  lines[at] = "*Default" + spelling + lines[at].substr(lines[at].find(':'));
}

// A commented-out copy of the option's block, with its own default, after the live one.
void addCommentedCopy(Lines& lines, const std::string& option, const std::string& choice) {
  findChoice(lines, option, choice);
  Span block = findBlock(lines, option);
  Lines copy(lines.begin() + block.first, lines.begin() + block.last + 1);
  for (std::string& line : copy) {
    std::string keyword = mainKeyword(line);
    if (keyword.starts_with("Default") && equalsIgnoringCase(keyword.substr(7), option))
      line = line.substr(0, line.find(':') + 1) + " " + choice;
    line = "*% " + line;
  }
  copy.insert(copy.begin(), "");
  lines.insert(lines.begin() + block.last + 1, copy.begin(), copy.end());
}

// The option under another keyword, everywhere it is named.
void renameOption(Lines& lines, const std::string& option, const std::string& name) {
  findBlock(lines, option);
  auto replaceWord = [](std::string& line, const std::string& from, const std::string& to) {
    for (size_t at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size())) {
      size_t end = at + from.size();
      if (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '/' && line[end] != ':' &&
          line[end] != '=')
        continue;
      line.replace(at, from.size(), to);
    }
  };
  for (std::string& line : lines) {
    std::string keyword = mainKeyword(line);
    if (keyword.empty()) continue;
    if (keyword.starts_with("Default") && equalsIgnoringCase(keyword.substr(7), option)) {
      line = "*Default" + name + line.substr(line.find(':'));
    } else if (keyword == option || keyword == "?" + option) {
      line.replace(keyword[0] == '?' ? 2 : 1, option.size(), name);
    } else {
      replaceWord(line, "*" + option, "*" + name);
      if (keyword.starts_with("FoomaticRIPOption")) replaceWord(line, " " + option, " " + name);
    }
  }
}

void makePickMany(Lines& lines, const std::string& option) {
  std::string& open = lines[findBlock(lines, option).first];
  size_t type = open.rfind("PickOne");
  if (type == std::string::npos) fail("option " + option + " is not PickOne");
  open.replace(type, 7, "PickMany");
}

void expectArgs(const PpdEdit& edit, size_t count) {
  if (edit.args.size() != count) fail("edit " + edit.op + " takes " + std::to_string(count) + " arguments");
}

std::string replaceValue(const std::string& line, const std::string& value) {
  return line.substr(0, line.find(':') + 1) + " \"" + value + "\"";
}

bool hasCrLf(const std::string& text) { return text.find("\r\n") != std::string::npos; }

// The copy's side in a comment after the first line, so a result tells which PPD it came from.
// Line ends (crlf), the last line's line feed (no-final-lf) and compression
// (gz) are edits of the whole file, not of its text.
std::string editedSide(std::string text, const RealPpdSample& sample, const std::string& side, bool crLf) {
  auto has = [&](const std::string& op) {
    return std::any_of(sample.edits.begin(), sample.edits.end(),
                       [&](const PpdEdit& e) { return (e.side == side || e.side == "both") && e.op == op; });
  };
  text.insert(text.find('\n') + 1, "*% " + std::string(kCopyMark) + side + "\n");
  for (const PpdEdit& edit : sample.edits)
    if ((edit.side == side || edit.side == "both") && edit.op != "crlf" && edit.op != "gz" && edit.op != "no-final-lf")
      text = ppdtext::applyEdit(text, edit);
  if (crLf || has("crlf")) text = ppdtext::withCrLf(text);
  while (has("no-final-lf") && (text.ends_with('\n') || text.ends_with('\r'))) text.pop_back();
  return text;
}

}  // namespace

bool RealPpdSample::shipsGzipped() const {
  if (isProduct()) return path.ends_with(".gz");
  return std::any_of(edits.begin(), edits.end(), [](const PpdEdit& edit) { return edit.op == "gz"; });
}

std::string copyMark(const std::string& side) { return "*% " + std::string(kCopyMark) + side; }

std::string RealPpdSample::newFileName() const { return name + (shipsGzipped() ? ".ppd.gz" : ".ppd"); }

std::vector<PpdEdit> RealPpdSample::queueEdits() const {
  std::vector<PpdEdit> queue;
  std::copy_if(edits.begin(), edits.end(), std::back_inserter(queue),
               [](const PpdEdit& edit) { return edit.side == "queue"; });
  return queue;
}

std::vector<RealPpdSample> readSampleList(const std::string& path) {
  std::ifstream in(path);
  if (!in) fail("cannot read " + path);
  std::vector<RealPpdSample> samples;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> columns;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) columns.push_back(field);
    if (columns.size() != 5) fail("not five columns: " + line);
    RealPpdSample sample{columns[0], columns[1], columns[2], columns[3] == "-" ? "" : columns[3], {}};
    for (const std::string& step : split(columns[4], ' ')) {
      size_t colon = step.find(':'), equals = step.find('=');
      if (colon == std::string::npos) fail("edit without a side: " + step);
      PpdEdit edit{step.substr(0, colon), step.substr(colon + 1, equals - colon - 1), {}};
      if (equals != std::string::npos) edit.args = split(step.substr(equals + 1), ',');
      sample.edits.push_back(edit);
    }
    samples.push_back(sample);
  }
  return samples;
}

PpdPair makePair(const RealPpdSample& sample, const std::string& base, const std::string& oldBase) {
  const bool crLf = hasCrLf(base);
  std::string text = ppdtext::withoutCr(base);
  if (!sample.modelName.empty()) text = ppdtext::markAsProduct(ppdtext::relabel(text, sample.modelName));
  std::string oldText = oldBase.empty() ? text : ppdtext::withoutCr(oldBase);
  return {editedSide(oldText, sample, "old", crLf), editedSide(text, sample, "new", crLf)};
}

namespace ppdtext {

std::string relabel(const std::string& ppd, const std::string& modelName) {
  const std::string model = modelName.substr(0, modelName.rfind(' '));
  Lines lines = splitLines(ppd);
  bool named = false;
  for (std::string& line : lines) {
    std::string keyword = mainKeyword(line);
    if (keyword == "ModelName" || keyword == "ShortNickName") line = replaceValue(line, modelName), named = true;
    if (keyword == "NickName") line = replaceValue(line, modelName + ", real PPD sample");
    if (keyword == "Product") line = replaceValue(line, "(" + model + ")");
    if (keyword == "Manufacturer") line = replaceValue(line, "Tamra");
  }
  if (!named) fail("no *ModelName to relabel");
  return joinLines(lines);
}

std::string markAsProduct(const std::string& ppd) {
  Lines lines = splitLines(ppd);
  auto model = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return mainKeyword(line) == "ModelName"; });
  if (lines.empty() || model == lines.end()) fail("no *ModelName");
  std::string modelLine = *model;
  lines.erase(model);
  lines.insert(lines.begin() + 1, {"*% Mivo version: 1", modelLine});
  return joinLines(lines);
}

std::string applyEdit(const std::string& ppd, const PpdEdit& edit) {
  Lines lines = splitLines(ppd);
  const std::vector<std::string>& a = edit.args;
  if (edit.op == "drop-option") {
    expectArgs(edit, 1), dropOption(lines, a[0]);
  } else if (edit.op == "drop-choice") {
    expectArgs(edit, 2), dropChoice(lines, a[0], a[1]);
  } else if (edit.op == "add-choice") {
    expectArgs(edit, 2), addChoice(lines, a[0], a[1]);
  } else if (edit.op == "default") {
    expectArgs(edit, 2), findChoice(lines, a[0], a[1]), setDefault(lines, a[0], a[1]);
  } else if (edit.op == "move-before") {
    expectArgs(edit, 2), moveBefore(lines, a[0], a[1]);
  } else if (edit.op == "default-case") {
    expectArgs(edit, 2), respellDefault(lines, a[0], a[1]);
  } else if (edit.op == "commented-copy") {
    expectArgs(edit, 2), addCommentedCopy(lines, a[0], a[1]);
  } else if (edit.op == "rename-option") {
    expectArgs(edit, 2), renameOption(lines, a[0], a[1]);
  } else if (edit.op == "pickmany") {
    expectArgs(edit, 1), makePickMany(lines, a[0]);
  } else if (edit.op == "repeat-default") {  // stated again after its block: libcups keeps the last
    expectArgs(edit, 2), lines.insert(lines.begin() + findBlock(lines, a[0]).last + 1, "*Default" + a[0] + ": " + a[1]);
  } else {
    fail("unknown edit " + edit.op);
  }
  return joinLines(lines);
}

std::string withCrLf(const std::string& ppd) {
  std::string out;
  for (char c : withoutCr(ppd)) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

std::string withoutCr(const std::string& ppd) {
  std::string out;
  for (size_t i = 0; i < ppd.size(); ++i)
    if (!(ppd[i] == '\r' && i + 1 < ppd.size() && ppd[i + 1] == '\n')) out += ppd[i];
  return out;
}

}  // namespace ppdtext
