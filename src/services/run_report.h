// The run report: what a run found and did, as JSON, for the programs that
// drive fleets of print servers. Outcomes and kinds are enumerations; the
// report's words are made from them (a dry run's changes read "would-...").
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// Bumped whenever a field changes meaning or goes away.
inline constexpr int kReportSchemaVersion = 2;

enum class RunKind { Install, Update, Removal, DryRun, Rollback };
enum class RunOutcome { Ok, Partial, Aborted, Refused };
enum class QueueOutcome { Updated, Unchanged, RolledBack, Kept, Failed, Removed };
inline constexpr int kQueueOutcomes = 6;
enum class FileAction { Install, Remove, Archive };
enum class FileOutcome { Done, Unchanged, Failed, Skipped };
inline constexpr int kFileOutcomes = 4;
// Why a captured default is not in the queue's new PPD.
enum class NotCarriedReason { OptionNotDeclared, ChoiceNotOffered, NoDefaultLine, NotReadBack, ValueNotWritable };

const char* toString(RunKind kind);
const char* toString(RunOutcome outcome);
const char* toString(NotCarriedReason reason);
// The report's word; in a dry run a change is one that would be made.
std::string toString(QueueOutcome outcome, bool dryRun);
std::string toString(FileAction action, bool dryRun);
const char* toString(FileOutcome outcome);

struct ReportFile {
  std::string path;
  FileAction action = FileAction::Install;
  FileOutcome outcome = FileOutcome::Done;
  std::string detail;
};

struct ReportDefault {
  std::string option;
  std::string value;
};

struct ReportNotCarried {
  std::string option;
  std::string value;
  NotCarriedReason reason = NotCarriedReason::ChoiceNotOffered;
};

struct ReportQueue {
  std::string name;
  std::string oldPpd;
  std::string newPpd;
  std::string backup;
  std::vector<ReportDefault> carried;
  std::vector<ReportNotCarried> notCarried;
  QueueOutcome outcome = QueueOutcome::Failed;
  std::string detail;
};

// How many queues and files ended each way, by the report's words.
struct ReportCounts {
  int queues[kQueueOutcomes] = {};
  int files[kFileOutcomes] = {};
  int count(QueueOutcome outcome) const { return queues[static_cast<int>(outcome)]; }
  int count(FileOutcome outcome) const { return files[static_cast<int>(outcome)]; }
};

class RunReport {
 public:
  void start(RunKind kind);
  void setKind(RunKind kind) { kind_ = kind; }
  RunKind kind() const { return kind_; }
  ReportFile& addFile(std::string path, FileAction action);
  ReportQueue& addQueue(std::string name);
  ReportQueue& queueAt(size_t index) { return queues_.at(index); }
  // The latest entry of the queue, or a new one.
  ReportQueue& queueEntry(const std::string& name);
  void addError(std::string_view line);
  // The run stopped before doing its job (aborted) or would not start it
  // (refused); the first stop and its reason stay, which is also an error line.
  void markAborted(const std::string& reason);
  void markRefused(const std::string& reason);
  // Whether the run changed the host (a dry run: whether it would).
  void setChanged(bool changed) { changed_ = changed; }
  bool changed() const { return changed_; }
  RunOutcome outcome() const;
  const std::string& reason() const { return stopReason_; }
  ReportCounts counts() const;
  // The report as JSON text (UTF-8), with the host facts of the run settings.
  std::string toJson() const;
  // One line of the run history: kind, times, outcome, counts, version.
  std::string historyLine() const;

  const std::vector<ReportQueue>& queues() const { return queues_; }
  const std::vector<ReportFile>& files() const { return files_; }
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  void stop(RunOutcome how, const std::string& reason);
  RunKind kind_ = RunKind::Install;
  std::time_t started_ = 0;
  bool stopped_ = false;
  RunOutcome stop_ = RunOutcome::Ok;
  std::string stopReason_;
  bool changed_ = false;
  std::vector<ReportFile> files_;
  std::vector<ReportQueue> queues_;
  std::vector<std::string> errors_;
};

RunReport& runReport();
// Bytes as UTF-8: kept when they already are, else read as ISO-8859-1.
std::string utf8Text(std::string_view bytes);
bool isUtf8(std::string_view bytes);
// The bytes with everything that is not printable ASCII written \xHH.
std::string escapedBytes(std::string_view bytes);
