// The option defaults of a queue's PPD, captured through libcups so that
// they can be carried into the queue's new PPD, and the choice of which of
// them the new PPD can take.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "run/run_report.h"

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

// The captured defaults split by what the new PPD (its text) declares: those
// whose option exists there (keywords compared without regard to case) and
// offers the choice (or a custom value) are carried; every other one is
// logged with its reason and listed in notCarried. False when the new PPD
// cannot be read by libcups at all.
bool carriedDefaults(std::string_view newPpdText, const OptionList& captured, OptionList& carried,
                     std::vector<ReportDefault>& notCarried);
