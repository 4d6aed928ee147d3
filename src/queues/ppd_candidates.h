// The candidate PPDs of a directory, read once per run: every queue's search
// for its new PPD is answered from this index instead of reopening every file.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sys/failure.h"

// One candidate PPD of a directory, as the search for a queue's new PPD sees it.
struct PpdCandidate {
  std::string path;
  bool opened = false;  // false: the CUPS file reader could not open it
  std::optional<std::string> model;
  int kind = 0;
  int id = 0;
};

class PpdCandidates {
 public:
  // The candidates of a directory in listing order, as this run leaves it
  // (a dry run: with the PPD files it would install there); read on first use.
  const std::vector<PpdCandidate>& of(const std::string& dir);
  // How many candidate files the CUPS file reader has opened.
  long filesOpened() const { return filesOpened_; }

 private:
  PpdCandidate read(const std::string& path);
  std::map<std::string, std::vector<PpdCandidate>> index_;
  long filesOpened_ = 0;
};

// The whole text of a PPD, plain or gzip-compressed, read in-process; false
// (why tells, in the catalogue's words) when it cannot be read to its end or
// its compressed stream is broken (cut short, its check sum or length wrong).
bool readPpdText(const std::string& path, std::string& text, std::string& why);
