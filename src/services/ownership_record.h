// The record of what the product owns on this host, kept the way package
// managers keep theirs: one JSON file in a directory only root may write,
// written whole at the end of every run that changes the host. It decides
// what the product may change, restore or remove (schema: contrib/record-schema.json).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sys/failure.h"

// How many runs the record keeps (the history file keeps them all).
inline constexpr size_t kRecordedRuns = 20;
inline constexpr int kRecordSchemaVersion = 1;

struct RecordedFile {
  std::string path;
  std::string sha256;
  unsigned mode = 0;
};

// A queue PPD the product wrote, and the backup it made of the one before.
struct RecordedQueue {
  std::string name;
  std::string ppd;
  std::string ppdSha256;
  std::string backup;
  std::string backupSha256;
};

struct OwnershipRecord {
  std::string installDir;
  bool installDirMade = false;
  std::vector<std::string> directoriesMade;
  std::vector<RecordedFile> files;
  std::vector<RecordedQueue> queues;
  std::vector<std::string> archives;
  std::vector<std::string> runs;  // history lines, newest last

  const RecordedFile* file(const std::string& path) const;
  void setFile(const RecordedFile& file);
  void forgetFile(const std::string& path);
  const RecordedQueue* queue(const std::string& name) const;
  RecordedQueue& queueEntry(const std::string& name);
  bool madeDirectory(const std::string& path) const;
  void addMadeDirectory(const std::string& path);
  void forgetDirectory(const std::string& path);
  void addRun(const std::string& historyLine);
};

std::string recordJson(const OwnershipRecord& record);
// Nothing (and why) when the text is not a record of this schema.
std::optional<OwnershipRecord> parseRecord(std::string_view text, std::string* why = nullptr);

// The record of this host as this run knows it: read at the start of a run
// when root owns it and nobody else could have changed it; empty otherwise.
OwnershipRecord& productRecord();
// Whether a record was found; without one, a run takes the safest reading.
bool productRecordFound();
// Reads the record from the record directory; logs when there is none or it
// cannot be believed.
void loadProductRecord();
// Forgets it (a fresh run, and tests).
void resetProductRecord(bool found = false);
// Writes it whole into the record directory, made for root alone when missing.
bool saveProductRecord(Failure* why);
