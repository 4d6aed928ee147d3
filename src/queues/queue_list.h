// The list of print queues: queues found on the host or named in the
// information file. The first record (the head) holds the first queue
// itself; the number of queues is carried separately by the callers.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum PdlKind { PDL_NONE = 0, PDL_POSTSCRIPT = 1, PDL_PCL = 2, PDL_PXL = 3 };

// Queue names are kept to 79 bytes; longer ones are not the product's.
constexpr size_t kQueueNameMax = 79;

struct QueueRecord {
  std::string model;
  std::string ppdPath;
  std::string name;
  int modelId = 0;
  int pdlKind = PDL_NONE;
};

struct QueueList {
  // Never empty: records.front() is the head.
  std::vector<QueueRecord> records{QueueRecord{}};

  QueueRecord& head() { return records.front(); }
};

// Whether a queue name may form a path or a command: not empty or blank,
// no '/', not "." or "..", at most kQueueNameMax bytes.
bool isUsableQueueName(const std::string& name);
// The one rule for what a queue's PPD is called: "NAME.ppd" with a usable
// NAME gives NAME. "NAME.ppd.O" (the scheduler's own copy), "NAME.ppd~",
// "NAME.ppd.rpmnew" and everything else give nothing.
std::optional<std::string> queueNameOfPpdFile(const std::string& fileName);
