// The run report: what a run found and did, as JSON beside the run log, for
// the programs that drive fleets of print servers.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Bumped whenever a field changes meaning or goes away.
inline constexpr int kReportSchemaVersion = 1;

struct ReportFile {
  std::string path;
  std::string action;   // "install", "remove", "would-install", "would-remove"
  std::string outcome;  // "ok", "failed", "skipped"
  std::string detail;
};

struct ReportDefault {
  std::string option;
  std::string value;
  std::string reason;  // for one not carried: "choice-not-offered", "option-not-declared", ...
};

struct ReportQueue {
  std::string name;
  std::string oldPpd;
  std::string newPpd;
  std::string backup;
  std::vector<ReportDefault> carried;
  std::vector<ReportDefault> notCarried;
  // "updated", "would-update", "rolled-back", "would-roll-back", "kept" (the
  // user said no), "failed", "removed"
  std::string outcome;
  std::string detail;
};

class RunReport {
 public:
  void start(std::string kind);
  void setKind(std::string kind) { kind_ = std::move(kind); }
  const std::string& kind() const { return kind_; }
  ReportFile& addFile(std::string path, std::string action);
  ReportQueue& addQueue(std::string name);
  ReportQueue& queueAt(size_t index) { return queues_.at(index); }
  // The latest entry of the queue, or a new one.
  ReportQueue& queueEntry(const std::string& name);
  void addError(std::string_view line);
  // The run stopped before doing its job (aborted) or would not start it (refused).
  void markAborted(std::string reason);
  void markRefused(std::string reason);
  // "ok", "partial", "aborted" or "refused".
  std::string outcome() const;
  // The report as JSON text (UTF-8), with the host facts of the run settings.
  std::string toJson() const;

  const std::vector<ReportQueue>& queues() const { return queues_; }
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  std::string kind_ = "install";
  std::time_t started_ = 0;
  std::string stop_;  // "aborted" or "refused"
  std::string stopReason_;
  std::vector<ReportFile> files_;
  std::vector<ReportQueue> queues_;
  std::vector<std::string> errors_;
};

RunReport& runReport();
// Writes the report beside the run log, replacing the earlier one whole; the
// path receives the report's name. False when it could not be written.
bool writeRunReport(int uid, std::string* path = nullptr);
// Bytes as UTF-8: kept when they already are, else read as ISO-8859-1.
std::string utf8Text(std::string_view bytes);
