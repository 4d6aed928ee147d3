// One candidate PPD of a directory, as the search for a queue's new PPD sees it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

struct PpdCandidate {
  std::string path;
  bool opened = false;  // false: the CUPS file reader could not open it
  std::optional<std::string> model;
  int kind = 0;
  int id = 0;
};

// Each directory's candidates in listing order, read once per run.
using PpdCandidateIndex = std::map<std::string, std::vector<PpdCandidate>>;
