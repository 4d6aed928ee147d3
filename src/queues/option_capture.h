// The option defaults of a queue's PPD, captured through libcups so that
// they can be carried into the queue's new PPD, and the choice of which of
// them the new PPD can take.
#pragma once

#include <map>
#include <optional>
#include <set>
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
// are the number appended. 0 and count left alone when the PPD cannot be opened.
int captureOptions(const std::string& ppdPath, OptionList& list, unsigned& count);
// Appends a record; ends the process when there is no list.
void addOptList(OptionList* list, const OptionRecord& record);
int freeOptionList(OptionList* list);

// The options a PPD declares, as libcups reads them: keywords and choices,
// each kept in lower case, since libcups matches both without regard to case.
struct DeclaredOptions {
  std::map<std::string, std::set<std::string>> choicesByKeyword;
};
// The options of a PPD text; nothing when libcups cannot read it as a PPD.
std::optional<DeclaredOptions> declaredOptions(std::string_view ppdText);

// The captured defaults split by what the new PPD declares: those whose
// option exists there and offers the choice (a custom value Custom.WxH, or
// {...}, where it has a Custom choice) are carried; every other one is logged
// with its reason and listed in notCarried.
void splitCarried(const DeclaredOptions& declared, const OptionList& captured, OptionList& carried,
                  std::vector<ReportDefault>& notCarried);
