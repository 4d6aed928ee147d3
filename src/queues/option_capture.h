// The option defaults of a queue's PPD, captured through libcups so that
// they can be carried into the queue's new PPD.
#pragma once

#include <string>
#include <vector>

struct OptionRecord {
  std::string keyword;  // without the leading '*', e.g. PageSize
  std::string value;    // name of the default choice
};

// The captured defaults in the order they were found.
struct OptionList {
  std::vector<OptionRecord> records;
};

// Appends one record per option whose default is one of its choices (top-level
// groups only); count and result are the number appended. 0 and count left
// alone when the PPD cannot be opened.
int captureOptions(const std::string& ppdPath, OptionList& list, unsigned& count);
// Appends a record; ends the process when there is no list.
void addOptList(OptionList* list, const OptionRecord& record);
int freeOptionList(OptionList* list);

// The captured defaults that name a choice of the same option in the PPD at
// newPpdPath; a default the new PPD does not offer is left out (and logged),
// so the new PPD keeps its own. All of them when the PPD cannot be read.
OptionList keepOfferedDefaults(const std::string& newPpdPath, const OptionList& captured);
