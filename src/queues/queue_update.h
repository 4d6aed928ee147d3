// Moves each product queue to the new PPD of its model, keeping its defaults.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "queues/option_capture.h"
#include "queues/queue_list.h"

// 1 after the loop or when the user breaks it off.
int updateQueues(const std::string& ppdInstallDir, QueueList& list, int count, int askFlag);

// Writes the queue's new PPD, with the captured defaults, into a new temporary
// file named in outName. 1 when it was completely written; else 0, with
// outName empty and nothing left behind.
int installNewPpd(const std::string& ppdInstallDir, const OptionList& options, int optionCount,
                  const QueueRecord& queue, std::string& outName);
// Copies the queue's PPD to "<dir>/<name>.ppd.rpmsave" beside the CUPS PPD
// directory; 1 when the copy succeeded.
int backupQueuePpd(const std::string& ppdPath, const std::string& name);
// Puts the rewritten PPD in place of the queue's PPD, atomically; 1 when done.
int installQueuePpd(const std::string& ppdPath, const std::string& outName);
// Raises the version marker of the queue's configuration file; 1 when rewritten.
int processPrinterConfig(const std::string& queueName);

// Where backupQueuePpd saves a queue's PPD.
std::string backupPathFor(const std::string& ppdPath, const std::string& name);
// The configuration text with its version marker raised, line piece by piece.
void raiseConfigVersion(std::istream& in, std::ostream& out);
