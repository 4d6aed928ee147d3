// Moves each product queue to the new PPD of its model, keeping its defaults.
//
// The files of every queue (its backup, its new PPD, its configuration file)
// are first written beside their targets; then the data of all of them is
// made durable at once, each queue's files are renamed into place in order
// (backup first: a queue's PPD is replaced only once its old PPD is saved),
// and finally the directories are flushed. A power cut leaves every file the
// old one or the whole new one, and a run of a thousand queues costs a few
// flushes instead of thousands. A queue whose new PPD would be the PPD it
// has is left as it is, its backup untouched.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "queues/option_capture.h"
#include "queues/ppd_candidates.h"
#include "queues/queue_list.h"
#include "services/effects.h"
#include "services/run_report.h"

// 1 after the loop or when the user breaks it off. One queue's failure is
// logged and the loop goes on.
int updateQueues(const std::string& ppdInstallDir, QueueList& list, int count, int askFlag, PpdCandidates& candidates);

// A model's new PPD as the update reads it, once per run: its whole text and
// its options, or why it cannot be used (not whole, not a PPD).
struct NewPpdFacts {
  bool readable = false;
  bool damagedGzip = false;
  std::string text;
  std::optional<DeclaredOptions> options;
  std::string why;
};
NewPpdFacts readNewPpd(const std::string& path);

// A queue's new PPD: its text with the captured defaults, and what was and
// was not carried.
struct NewQueuePpd {
  std::string source;  // the model's new PPD it was made from
  std::string text;
  OptionList carried;
  std::vector<ReportNotCarried> notCarried;
};

// Finds the model's new PPD, checks that it is whole and carries the
// captured defaults into it. 1 when done; else 0 after a logged failure.
int installNewPpd(PpdCandidates& candidates, std::map<std::string, NewPpdFacts>& newPpds,
                  const std::string& ppdInstallDir, const OptionList& options, int optionCount,
                  const QueueRecord& queue, NewQueuePpd& next);
// Drops from what was carried every default the written PPD does not read
// as carried (libcups reads it back), each logged and listed with its reason.
void keepWhatReadsBack(const DeclaredOptions& written, NewQueuePpd& next);

// Where a queue's PPD is saved: "<dir>/<name>.ppd.rpmsave" beside the CUPS PPD directory.
std::string backupPathFor(const std::string& ppdPath, const std::string& name);
// The configuration text with its version marker raised, line piece by piece.
std::string raiseConfigVersion(std::string_view text);
