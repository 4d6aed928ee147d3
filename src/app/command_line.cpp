#include "app/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "services/run_log.h"
#include "services/run_settings.h"
#include "services/terminal.h"

namespace {

constexpr int kHelpOption = 1000;
constexpr int kVersionOption = 1001;
const option kLongOptions[] = {
    {"help", no_argument, nullptr, kHelpOption},
    {"version", no_argument, nullptr, kVersionOption},
    {nullptr, 0, nullptr, 0},
};

// getopt may reorder what it is given, so every parse works on its own copy.
class ParserInput {
 public:
  explicit ParserInput(const std::vector<std::string>& args) : copy_(args) {
    for (std::string& arg : copy_) argv_.push_back(arg.data());
    argv_.push_back(nullptr);
    optind = 0;  // full reset of the parser
    opterr = 0;
  }
  ~ParserInput() { optind = 0; }
  int argc() const { return static_cast<int>(copy_.size()); }
  char** argv() { return argv_.data(); }

 private:
  std::vector<std::string> copy_;
  std::vector<char*> argv_;
};

std::string optionName(char** argv, int letter) {
  if (letter != 0 && letter != '?' && letter != ':') return std::string("-") + static_cast<char>(letter);
  return argv[optind - 1];
}

// The option string with a leading ':' so that a missing argument is told apart.
std::string strictOptions() { return std::string(":") + kOptionString; }

}  // namespace

int leadingNumber(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

CommandLineCheck checkCommandLine(const std::vector<std::string>& args) {
  ParserInput input(args);
  std::string options = strictOptions();
  CommandLineCheck check;
  for (int opt; (opt = getopt_long(input.argc(), input.argv(), options.c_str(), kLongOptions, nullptr)) != -1;) {
    if (opt == '?') return {CommandLineAsk::Error, formatMessage(msg::kUnknownOption, optionName(input.argv(), optopt))};
    if (opt == ':') return {CommandLineAsk::Error, formatMessage(msg::kMissingArgument, optionName(input.argv(), optopt))};
    if (opt == kHelpOption && check.ask == CommandLineAsk::Run) check.ask = CommandLineAsk::Help;
    if (opt == kVersionOption && check.ask == CommandLineAsk::Run) check.ask = CommandLineAsk::Version;
  }
  if (optind < input.argc()) return {CommandLineAsk::Error, formatMessage(msg::kStrayArgument, input.argv()[optind])};
  return check;
}

std::vector<OptionWord> optionWords(const std::vector<std::string>& args) {
  ParserInput input(args);
  std::vector<OptionWord> words;
  for (int opt; (opt = getopt_long(input.argc(), input.argv(), kOptionString, kLongOptions, nullptr)) != -1;)
    words.push_back({opt, optarg ? optarg : ""});
  return words;
}

void firstOptionPass(const std::vector<std::string>& args) {
  RunSettings& s = runSettings();
  for (const OptionWord& word : optionWords(args)) {
    const char* value = word.argument.c_str();
    switch (word.letter) {
      case 'd': s.uninstallRequested = 1; break;
      case 'f': s.allowAnyDir = leadingNumber(value); break;
      case 'S': s.seLinuxMode = leadingNumber(value); break;
      case 'n': s.dryRun = true; break;
      case 'r': s.rollback = true; break;
      case 'x': s.strictStatus = leadingNumber(value) != 0; break;
      case 'h':
        writeStderr(usageText());
        std::exit(0);
      default: break;
    }
  }
}

std::string secondOptionPass(const std::vector<std::string>& args) {
  RunSettings& s = runSettings();
  for (const OptionWord& word : optionWords(args)) {
    switch (word.letter) {
      case 'D':
      case 'Z': s.debugLevel = leadingNumber(word.argument.c_str()); break;
      case 'i':
        if (word.argument.size() > kPathMax)
          return formatMessage(msg::kCauseTooLong, formatMessage(msg::kWhatManifestName), static_cast<int>(kPathMax));
        s.manifestName = word.argument;
        break;
      case 'q': s.queryMode = std::max(0, leadingNumber(word.argument.c_str())); break;
      case 'u':
        if (word.argument.size() > kPathMax)
          return formatMessage(msg::kCauseTooLong, formatMessage(msg::kWhatInstallDir), static_cast<int>(kPathMax));
        s.installDir = word.argument;
        break;
      default: break;  // -m and -w are accepted and change nothing
    }
  }
  return {};
}

std::string usageText() {
  std::string text = formatMessage(msg::kUsageVersion, kProgramVersion);
  for (Message<> m :
       {msg::kUsageProduct, msg::kUsageWhatItDoes, msg::kUsageHeading, msg::kUsageCommand, msg::kUsageOptions})
    text += messageText(m);
  text += formatMessage(msg::kUsageRemove, kProgramVersion);
  for (Message<> m : {msg::kUsageAnyDir, msg::kUsageHelp, msg::kUsageQuery, msg::kUsageSelinux, msg::kUsageDebug,
                      msg::kUsageDebugZ, msg::kUsageManifest, msg::kUsageInstallDir, msg::kUsageDryRun,
                      msg::kUsageRollback, msg::kUsageStrict, msg::kUsageIgnored, msg::kUsageLongHelp,
                      msg::kUsageLongVersion, msg::kUsageManual})
    text += messageText(m);
  return text;
}

std::string versionText() { return formatMessage(msg::kVersionLine, kProductName, kProgramVersion); }
