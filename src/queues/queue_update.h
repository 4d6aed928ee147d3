// Moves each product queue to the new PPD of its model, keeping its defaults.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "queues/option_capture.h"
#include "queues/queue_list.h"
#include "run/run_report.h"
#include "sys/atomic_files.h"
#include "sys/safe_dirs.h"

// 1 after the loop or when the user breaks it off. One queue's failure is
// logged and the loop goes on; in a dry run nothing is written.
int updateQueues(const std::string& ppdInstallDir, QueueList& list, int count, int askFlag);

// A queue's new PPD: its text with the captured defaults, written into a
// hidden file beside the queue's PPD until installQueuePpd puts it in place.
struct NewQueuePpd {
  std::string source;  // the model's new PPD it was made from
  std::string text;
  OptionList carried;
  std::vector<ReportDefault> notCarried;
  std::optional<SafeDir> dir;
  std::unique_ptr<PendingFile> file;
};

// Finds the model's new PPD, checks that it is whole, carries the captured
// defaults into it and writes the result beside the queue's PPD (not in a dry
// run). 1 when done; else 0 after a logged failure, nothing left behind.
int installNewPpd(const std::string& ppdInstallDir, const OptionList& options, int optionCount,
                  const QueueRecord& queue, NewQueuePpd& next);
// Saves the queue's PPD whole as "<dir>/<name>.ppd.rpmsave" beside the CUPS
// PPD directory; 1 when saved.
int backupQueuePpd(const std::string& ppdPath, const std::string& name);
// Puts the new PPD in place of the queue's PPD, atomically; 1 when done.
int installQueuePpd(const std::string& ppdPath, NewQueuePpd& next);
// Raises the version marker of the queue's configuration file; 1 when rewritten.
int processPrinterConfig(const std::string& queueName);

// Where backupQueuePpd saves a queue's PPD.
std::string backupPathFor(const std::string& ppdPath, const std::string& name);
// The configuration text with its version marker raised, line piece by piece.
std::string raiseConfigVersion(std::string_view text);
// Whether a PPD text is whole: it ends with its last line's line end.
bool endsWithLineEnd(std::string_view text);
