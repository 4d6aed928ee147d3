#include "queues/option_capture.h"

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "services/run_log.h"
#include "sys/file_handles.h"

// The PPD API of libcups is deprecated but is the reader the scheduler uses.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPtr = std::unique_ptr<ppd_file_t, PpdCloser>;

bool isCustomValue(const char* value) { return ::strncasecmp(value, "Custom.", 7) == 0; }

bool hasChoice(const ppd_option_t& option, const char* name) {
  for (int c = 0; c < option.num_choices; ++c) {
    if (std::strcmp(option.choices[c].choice, name) == 0) return true;
  }
  return false;
}

void captureOption(const ppd_option_t& option, OptionList& list, unsigned& counter) {
  for (int c = 0; c < option.num_choices; ++c) {
    const ppd_choice_t& choice = option.choices[c];
    if (std::strcmp(choice.choice, option.defchoice) != 0) continue;
    addOptList(&list, OptionRecord{option.keyword, choice.choice});
    ++counter;
  }
  // A custom size (Custom.WIDTHxHEIGHT) is no listed choice, but a value the
  // option's Custom choice stands for.
  if (isCustomValue(option.defchoice) && hasChoice(option, "Custom")) {
    addOptList(&list, OptionRecord{option.keyword, option.defchoice});
    ++counter;
  }
}

// libcups reads the PPD text from an anonymous file in memory: nothing is
// written to disk for it.
PpdPtr parsePpdText(std::string_view text) {
  if (text.empty()) return nullptr;
  FdHolder memory(::memfd_create("ppd", MFD_CLOEXEC));
  if (memory.get() < 0) return nullptr;
  for (std::string_view rest = text; !rest.empty();) {
    ssize_t written = ::write(memory.get(), rest.data(), rest.size());
    if (written <= 0) return nullptr;
    rest.remove_prefix(static_cast<size_t>(written));
  }
  if (::lseek(memory.get(), 0, SEEK_SET) != 0) return nullptr;
  return PpdPtr(ppdOpenFd(memory.get()));
}

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

void notCarry(std::vector<ReportDefault>& notCarried, const OptionRecord& record, const char* reason,
              const char* line) {
  logIfAny(formatText(line, record.keyword.c_str(), record.value.c_str()));
  notCarried.push_back({record.keyword, record.value, reason});
}

}  // namespace

int captureOptions(const std::string& ppdPath, OptionList& list, unsigned& count) {
  PpdPtr ppd(ppdOpenFile(ppdPath.c_str()));
  if (!ppd) {
    writeStderr(formatMessage(msg::kCannotOpenPpd, ppdPath));
    return 0;
  }
  unsigned counter = 0;
  for (int g = 0; g < ppd->num_groups; ++g) {
    const ppd_group_t& group = ppd->groups[g];
    for (int o = 0; o < group.num_options; ++o) captureOption(group.options[o], list, counter);
  }
  count = counter;
  return static_cast<int>(counter);
}

std::optional<DeclaredOptions> declaredOptions(std::string_view ppdText) {
  PpdPtr ppd = parsePpdText(ppdText);
  if (!ppd) return std::nullopt;
  DeclaredOptions declared;
  ppd_option_t* option = ppdFirstOption(ppd.get());
  for (; option; option = ppdNextOption(ppd.get())) {
    std::set<std::string>& choices = declared.choicesByKeyword[lowerCase(option->keyword)];
    for (int c = 0; c < option->num_choices; ++c) choices.insert(lowerCase(option->choices[c].choice));
  }
  return declared;
}

#pragma GCC diagnostic pop

void addOptList(OptionList* list, const OptionRecord& record) {
  if (!list) {
    writeStderr("addOptList(NULL,...) Error!\n");
    std::exit(1);
  }
  list->records.push_back(record);
}

int freeOptionList(OptionList* list) {
  if (list) list->records.clear();
  return 0;
}

void splitCarried(const DeclaredOptions& declared, const OptionList& captured, OptionList& carried,
                  std::vector<ReportDefault>& notCarried) {
  for (const OptionRecord& record : captured.records) {
    auto option = declared.choicesByKeyword.find(lowerCase(record.keyword));
    std::string choice = lowerCase(record.value);
    // A custom value stands for the option's Custom choice.
    if (choice.starts_with("custom.") || choice.starts_with("{")) choice = "custom";
    if (option == declared.choicesByKeyword.end()) {
      notCarry(notCarried, record, "option-not-declared",
               "Default %s/%s: the new PPD has no such option; not carried.\n");
    } else if (!option->second.count(choice)) {
      notCarry(notCarried, record, "choice-not-offered",
               "Default %s/%s is not offered by the new PPD; its own default stays.\n");
    } else {
      carried.records.push_back(record);
    }
  }
}
