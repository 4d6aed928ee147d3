// The option defaults of a queue's PPD, captured through libcups so that
// they can be carried into the queue's new PPD, and the choice of which of
// them the new PPD can take.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/run_report.h"

struct OptionRecord {
  std::string keyword;  // without the leading '*', e.g. PageSize
  std::string value;    // name of the default choice (or a custom value, Custom.WxH)
};

// The captured defaults in the order they were found.
struct OptionList {
  std::vector<OptionRecord> records;
};

// Appends one record per option whose default is one of its choices (top-level
// groups only), or a custom value its Custom choice accepts; count and result
// are the number appended. When libcups cannot read the text as a PPD: 0,
// count left alone, and why (in the catalogue's words); -1 and why when the
// host could not give it the text to read.
int captureOptions(std::string_view ppdText, OptionList& list, unsigned& count, std::string* why = nullptr);

// The options a PPD declares, as libcups reads them: by keyword in lower
// case (libcups matches keywords and choices without regard to case), each
// with its choices (lower case to the PPD's own spelling) and its default.
struct DeclaredOption {
  std::map<std::string, std::string> choices;
  std::string defaultChoice;
};
struct DeclaredOptions {
  std::map<std::string, DeclaredOption> byKeyword;
};
// The options of a PPD text; nothing (and why) when libcups cannot read it.
std::optional<DeclaredOptions> declaredOptions(std::string_view ppdText, std::string* why = nullptr);

// The captured defaults split by what the new PPD declares: those whose
// option exists there and offers the choice (a custom value Custom.WxH, or
// {...}, where it has a Custom choice) are carried, in the new PPD's
// spelling; every other one is logged with its reason and listed in notCarried.
void splitCarried(const DeclaredOptions& declared, const OptionList& captured, OptionList& carried,
                  std::vector<ReportNotCarried>& notCarried);
// Logs why a default is not carried and lists it.
void notCarry(std::vector<ReportNotCarried>& notCarried, const OptionRecord& record, NotCarriedReason reason,
              const std::string& readBack = "");
