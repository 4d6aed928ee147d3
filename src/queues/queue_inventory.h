// The product's print queues: found through their PPDs in the CUPS PPD
// directory, or named in the information file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "queues/queue_list.h"

// A queue PPD is recognised by markers within its first reads.
constexpr int kQueueScanReads = 30;
// The product comment's version digit that marks the product's queue PPDs.
constexpr int kQueuePpdVersion = 1;
// Searched for a queue's new PPD when the PPD install directory has none.
constexpr const char* kProductPpdDir = "/opt/orv/ppd";

// The model value of a "*ModelName:" line (from the start of the value to the
// end of the line) when the line names a model of the table; sets kind for
// every "*ModelName:" line and id only when a model was found.
std::optional<std::string_view> identifyModel(std::string_view line, int& kind, int& id);
// The digit of a "*% Mivo version:" line, or -1.
int readMivoVersion(std::string_view line);
// Removes blanks and line feeds from the end of the first n characters.
void trimTrailing(std::string& text, size_t n);
// Removes line feeds, carriage returns and blanks from the end.
void trimLineEnd(std::string& text);

// The scheduler's PPD directory: /etc/cups/ppd under the CUPS prefix.
std::string cupsPpdDirectory();
// Fills the list with the product's queues of the CUPS PPD directory and logs
// them with the PPD each would get; 1 when any was found.
int scanQueuePpds(QueueList& list, int& count);
void logQueueList(const QueueList& list, int count);
void logPpdCandidates(const std::string& dir, const QueueList& list, int count);

// The model value of a candidate PPD (plain or gzip-compressed), or nothing.
std::optional<std::string> readPpdModel(const std::string& path, int& kind, int& id);
// Finds in dir the PPD of the queue's model with the given kind and id; 1 and
// its path in found, else 0.
int findModelPpd(const std::string& dir, const QueueRecord& queue, int kind, int id, std::string& found);

// Replaces the list by the printers block of the information file; 1 when found.
int readInfoPrinters(int kind, QueueList& list);

// Appends a record at the tail of the list; ends the process when there is no list.
void addPList(QueueList* list, const QueueRecord& record);
int freeQueueList(QueueList* list);
int clearQueueList(QueueList* list);
