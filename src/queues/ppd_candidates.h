// The candidate PPDs of a directory, read once per run: every queue's search
// for its new PPD is answered from this index instead of reopening every file.
#pragma once

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

// The candidates of a directory in listing order; read on first use.
const std::vector<PpdCandidate>& ppdCandidatesOf(const std::string& dir);
// Forgets every index, so the next search reads the directories again.
void forgetPpdCandidates();
// How many candidate files the CUPS file reader has opened in this process.
long ppdCandidateFilesOpened();
