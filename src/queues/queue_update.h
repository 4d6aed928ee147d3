// Moves each product queue to the new PPD of its model, keeping its defaults.
//
// The files of every queue (its backup, its new PPD, its configuration file)
// are first written beside their targets; then the data of all of them is
// made durable at once, each queue's files are renamed into place in order
// (backup first: a queue's PPD is replaced only once its old PPD is saved),
// and finally the directories are flushed. A power cut leaves every file the
// old one or the whole new one, and a run of a thousand queues costs a few
// flushes instead of thousands.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "queues/option_capture.h"
#include "queues/queue_list.h"
#include "services/run_report.h"
#include "sys/atomic_files.h"
#include "sys/safe_dirs.h"

// 1 after the loop or when the user breaks it off. One queue's failure is
// logged and the loop goes on; in a dry run nothing is written.
int updateQueues(const std::string& ppdInstallDir, QueueList& list, int count, int askFlag);

// A model's new PPD as the update reads it, once per run: its whole text and
// its options, or why it cannot be used (not whole, not a PPD).
struct NewPpdFacts {
  bool readable = false;
  std::string text;
  std::optional<DeclaredOptions> options;
  std::string why;
};

// What one update run keeps while it goes through the queues: the
// directories it writes into, each opened once without following links, and
// the new PPDs it has read.
class QueueDirs {
 public:
  const SafeDir* open(const std::string& path, std::string* why = nullptr);
  const NewPpdFacts& newPpd(const std::string& path);
  DurableBatch& batch() { return batch_; }

 private:
  std::map<std::string, std::unique_ptr<SafeDir>> dirs_;
  std::map<std::string, NewPpdFacts> newPpds_;
  DurableBatch batch_;
};

// A queue's new PPD: its text with the captured defaults, written into a
// hidden file beside the queue's PPD until installQueuePpd puts it in place.
struct NewQueuePpd {
  std::string source;  // the model's new PPD it was made from
  std::string text;
  OptionList carried;
  std::vector<ReportDefault> notCarried;
  std::unique_ptr<PendingFile> file;
};

// Finds the model's new PPD, checks that it is whole, carries the captured
// defaults into it and writes the result beside the queue's PPD (not in a dry
// run). 1 when done; else 0 after a logged failure, nothing left behind.
int installNewPpd(const std::string& ppdInstallDir, const OptionList& options, int optionCount,
                  const QueueRecord& queue, NewQueuePpd& next, QueueDirs& dirs);
// Writes the copy of the queue's PPD that becomes "<dir>/<name>.ppd.rpmsave"
// beside the CUPS PPD directory; null (why tells) when it cannot.
std::unique_ptr<PendingFile> backupQueuePpd(const std::string& ppdPath, const std::string& name, QueueDirs& dirs,
                                            std::string& why);
// Puts the new PPD in place of the queue's PPD; 1 when done.
int installQueuePpd(const std::string& ppdPath, NewQueuePpd& next);
// Writes the queue's configuration file with its version marker raised,
// beside it; null when the queue has none or it cannot be read (logged).
std::unique_ptr<PendingFile> processPrinterConfig(const std::string& queueName, QueueDirs& dirs);

// Where backupQueuePpd saves a queue's PPD.
std::string backupPathFor(const std::string& ppdPath, const std::string& name);
// The configuration text with its version marker raised, line piece by piece.
std::string raiseConfigVersion(std::string_view text);
// Whether a PPD text is whole: it ends with its last line's line end.
bool endsWithLineEnd(std::string_view text);
