// The product's print queues: found through their PPDs in the CUPS PPD
// directory, or named in the information file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "queues/ppd_candidates.h"
#include "queues/queue_list.h"

// A queue PPD is recognised by markers within its first reads.
constexpr int kQueueScanReads = 30;
// The product comment's version digit that marks the product's queue PPDs.
constexpr int kQueuePpdVersion = 1;

// The model value of a "*ModelName:" line (from the start of the value to the
// end of the line) when the line names a model of the table; sets kind for
// every "*ModelName:" line and id only when a model was found.
std::optional<std::string_view> identifyModel(std::string_view line, int& kind, int& id);
// The digit of a "*% Mivo version:" line, or -1.
int readMivoVersion(std::string_view line);

// A queue's PPD in the scheduler's PPD directory.
struct QueueFile {
  std::string name;
  std::string path;
};
// The queue PPDs of a directory in listing order: regular files named by the
// one rule of queueNameOfPpdFile; files whose names are near misses of a
// queue's are passed over with a line.
std::vector<QueueFile> queueFilesIn(const std::string& dir);
// Whether a queue PPD is one of the product's: its model line names a model
// of the table with a known page description language and its product
// comment has the version digit 1 (within the first reads); the queue's
// record when it is.
std::optional<QueueRecord> productQueueOf(const QueueFile& file);

// Fills the list with the product's queues of the CUPS PPD directory and logs
// them with the PPD each would get; 1 when any was found.
int scanQueuePpds(QueueList& list, int& count, PpdCandidates& candidates);
void logQueueList(const QueueList& list, int count);
void logPpdCandidates(PpdCandidates& candidates, const std::string& dir, const QueueList& list, int count);

// Finds in dir the PPD of the queue's model with the given kind and id; 1 and
// its path in found, else 0.
int findModelPpd(PpdCandidates& candidates, const std::string& dir, const QueueRecord& queue, int kind, int id,
                 std::string& found);
// The same in the PPD install directory, then in the product's own ppd directory.
bool findNewPpd(PpdCandidates& candidates, const std::string& ppdInstallDir, const QueueRecord& queue,
                std::string& found);

// Replaces the list by the printers block of the information file (one that
// root alone could have written); 1 when found.
int readInfoPrinters(int kind, QueueList& list);
