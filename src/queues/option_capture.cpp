#include "queues/option_capture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "services/failure_text.h"
#include "services/run_log.h"
#include "sys/file_handles.h"
#include "sys/text.h"

// The PPD API of libcups is deprecated but is the reader the scheduler uses.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPtr = std::unique_ptr<ppd_file_t, PpdCloser>;

bool isCustomValue(std::string_view value) { return findIgnoringCase(value, "Custom.") == 0; }

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
    list.records.push_back(OptionRecord{option.keyword, choice.choice});
    ++counter;
  }
  // A custom size (Custom.WIDTHxHEIGHT) is no listed choice, but a value the
  // option's Custom choice stands for.
  if (isCustomValue(option.defchoice) && hasChoice(option, "Custom")) {
    list.records.push_back(OptionRecord{option.keyword, option.defchoice});
    ++counter;
  }
}

// The text in an anonymous file in memory, whole, at its start; an error
// otherwise (a short write would have libcups read part of a PPD).
FdHolder textInMemory(std::string_view text, Failure& failure) {
  FdHolder memory(::memfd_create("ppd", MFD_CLOEXEC));
  std::string_view rest = text;
  errno = 0;
  while (memory.get() >= 0 && !rest.empty()) {
    ssize_t written = ::write(memory.get(), rest.data(), rest.size());
    if (written <= 0) break;
    rest.remove_prefix(static_cast<size_t>(written));
  }
  if (memory.get() >= 0 && rest.empty() && ::lseek(memory.get(), 0, SEEK_SET) == 0) return memory;
  failure = {FailureKind::CannotWrite, "memfd:ppd", errno};
  return FdHolder();
}

// libcups reads the PPD text from an anonymous file in memory: nothing is
// written to disk for it, and an error tells its line. unread is set when
// the text could not be given to libcups at all.
PpdPtr parsePpdText(std::string_view text, std::string* why, bool* unread = nullptr) {
  Failure failure;
  FdHolder memory = textInMemory(text, failure);
  if (memory.get() < 0) {
    if (why) *why = describe(failure);
    if (unread) *unread = true;
    return nullptr;
  }
  PpdPtr ppd(text.empty() ? nullptr : ppdOpenFd(memory.get()));
  if (!ppd && why) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    *why = formatMessage(msg::kPpdNotReadable, static_cast<int>(status), ppdErrorString(status), line);
  }
  return ppd;
}

// The new PPD's own spelling of a captured value, when it offers the value.
std::optional<std::string> offeredSpelling(const DeclaredOption& option, const std::string& value) {
  std::string wanted = lowerCase(value);
  // A custom value stands for the option's Custom choice and keeps its own text.
  if (wanted.starts_with("custom.") || wanted.starts_with("{"))
    return option.choices.count("custom") ? std::optional<std::string>(value) : std::nullopt;
  auto found = option.choices.find(wanted);
  if (found == option.choices.end()) return std::nullopt;
  return found->second;
}

// A value goes onto a default line as one word: no quote or control byte,
// and a blank only inside a custom value's braces.
bool isWritableValue(std::string_view value) {
  bool braced = value.starts_with('{') && value.ends_with('}');
  for (char c : value) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '"' || (c == ' ' && !braced)) return false;
  }
  return !value.empty();
}

}  // namespace

int captureOptions(std::string_view ppdText, OptionList& list, unsigned& count, std::string* why) {
  bool unread = false;
  PpdPtr ppd = parsePpdText(ppdText, why, &unread);
  if (!ppd) return unread ? -1 : 0;
  unsigned counter = 0;
  for (int g = 0; g < ppd->num_groups; ++g) {
    const ppd_group_t& group = ppd->groups[g];
    for (int o = 0; o < group.num_options; ++o) captureOption(group.options[o], list, counter);
  }
  count = counter;
  return static_cast<int>(counter);
}

std::optional<DeclaredOptions> declaredOptions(std::string_view ppdText, std::string* why) {
  PpdPtr ppd = parsePpdText(ppdText, why);
  if (!ppd) return std::nullopt;
  DeclaredOptions declared;
  for (ppd_option_t* option = ppdFirstOption(ppd.get()); option; option = ppdNextOption(ppd.get())) {
    DeclaredOption& entry = declared.byKeyword[lowerCase(option->keyword)];
    entry.defaultChoice = option->defchoice;
    for (int c = 0; c < option->num_choices; ++c) entry.choices.emplace(lowerCase(option->choices[c].choice), option->choices[c].choice);
  }
  return declared;
}

#pragma GCC diagnostic pop

void notCarry(std::vector<ReportNotCarried>& notCarried, const OptionRecord& record, NotCarriedReason reason,
              const std::string& readBack) {
  const std::string& k = record.keyword;
  const std::string& v = record.value;
  switch (reason) {
    case NotCarriedReason::OptionNotDeclared: logMsg(msg::kDefaultOptionNotDeclared, k, v); break;
    case NotCarriedReason::ChoiceNotOffered: logMsg(msg::kDefaultChoiceNotOffered, k, v); break;
    case NotCarriedReason::NoDefaultLine: logMsg(msg::kDefaultNoDefaultLine, k, v); break;
    case NotCarriedReason::NotReadBack: logMsg(msg::kDefaultNotReadBack, k, v, readBack); break;
    case NotCarriedReason::ValueNotWritable: logMsg(msg::kDefaultNotWritable, k, v); break;
  }
  notCarried.push_back({record.keyword, record.value, reason});
}

void splitCarried(const DeclaredOptions& declared, const OptionList& captured, OptionList& carried,
                  std::vector<ReportNotCarried>& notCarried) {
  for (const OptionRecord& record : captured.records) {
    auto option = declared.byKeyword.find(lowerCase(record.keyword));
    std::optional<std::string> spelling;
    if (option != declared.byKeyword.end()) spelling = offeredSpelling(option->second, record.value);
    if (option == declared.byKeyword.end()) {
      notCarry(notCarried, record, NotCarriedReason::OptionNotDeclared);
    } else if (!spelling) {
      notCarry(notCarried, record, NotCarriedReason::ChoiceNotOffered);
    } else if (!isWritableValue(*spelling)) {
      notCarry(notCarried, record, NotCarriedReason::ValueNotWritable);
    } else {
      carried.records.push_back({record.keyword, *spelling});
    }
  }
}
