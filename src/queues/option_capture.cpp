#include "queues/option_capture.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "run/run_log.h"

// The PPD API of libcups is deprecated but is the reader the scheduler uses.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPtr = std::unique_ptr<ppd_file_t, PpdCloser>;

void captureOption(const ppd_option_t& option, OptionList& list, unsigned& counter) {
  for (int c = 0; c < option.num_choices; ++c) {
    const ppd_choice_t& choice = option.choices[c];
    if (std::strcmp(choice.choice, option.defchoice) != 0) continue;
    addOptList(&list, OptionRecord{option.keyword, choice.choice});
    ++counter;
  }
}

// Whether the new PPD's option offers the captured choice; an option it lacks
// has no default line to rewrite, so it needs no message.
bool offersChoice(ppd_file_t* ppd, const OptionRecord& record, bool& optionKnown) {
  ppd_option_t* option = ppdFindOption(ppd, record.keyword.c_str());
  optionKnown = option != nullptr;
  return option && ppdFindChoice(option, record.value.c_str());
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

OptionList keepOfferedDefaults(const std::string& newPpdPath, const OptionList& captured) {
  PpdPtr ppd(ppdOpenFile(newPpdPath.c_str()));
  if (!ppd) return captured;
  OptionList kept;
  for (const OptionRecord& record : captured.records) {
    bool optionKnown = false;
    if (offersChoice(ppd.get(), record, optionKnown)) {
      kept.records.push_back(record);
    } else if (optionKnown) {
      logIfAny(formatText("Default %s/%s is not offered by the new PPD; its own default stays.\n",
                          record.keyword.c_str(), record.value.c_str()));
    }
  }
  return kept;
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
