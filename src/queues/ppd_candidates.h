// The candidate PPDs of a directory, read once per run: every queue's search
// for its new PPD is answered from this index instead of reopening every file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "queues/ppd_candidate.h"

// The candidates of a directory in listing order; read on first use. In a
// dry run the PPD install directory also holds, by name, the PPD files the
// installation would copy into it.
const std::vector<PpdCandidate>& ppdCandidatesOf(const std::string& dir);
// Forgets every index, so the next search reads the directories again.
void forgetPpdCandidates();
// How many candidate files the CUPS file reader has opened in this run.
long ppdCandidateFilesOpened();

// The whole text of a PPD, plain or gzip-compressed, read in-process; false
// (why tells) when it cannot be read to its end or its compressed stream is broken.
bool readPpdText(const std::string& path, std::string& text, std::string& why);
