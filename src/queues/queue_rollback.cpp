#include "queues/queue_rollback.h"

#include <string>

#include "queues/queue_inventory.h"
#include "queues/queue_update.h"
#include "services/console_questions.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "sys/atomic_files.h"
#include "sys/dir_listing.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

struct RollbackCandidate {
  std::string name;
  std::string ppdPath;
  std::string backup;
};

// The queue PPD names a model of the product within its first lines.
bool namesProductModel(const std::string& path) {
  FilePtr file = openRegularFile(path);
  std::string piece;
  for (int reads = 0; file && reads < kQueueScanReads && readLinePiece(file.get(), piece); ++reads) {
    int kind = 0, id = 0;
    if (identifyModel(upToNul(piece), kind, id)) return true;
  }
  return false;
}

std::vector<RollbackCandidate> queuesWithBackups() {
  std::vector<RollbackCandidate> found;
  std::string dir = cupsPpdDirectory();
  for (const std::string& entry : listDirectory(dir)) {
    if (!entry.ends_with(".ppd") || isOwnTemporaryName(entry)) continue;
    std::string name = entry.substr(0, entry.size() - 4);
    std::string path = dir + "/" + entry;
    std::string backup = backupPathFor(path, name);
    if (isUsableQueueName(name) && isRegularFile(backup) && namesProductModel(path))
      found.push_back({name, path, backup});
  }
  return found;
}

bool putBack(const RollbackCandidate& queue, std::string& why) {
  std::optional<SafeDir> dir = SafeDir::open(directoryOf(queue.ppdPath), &why);
  FileAccess access;
  access.keepExisting = true;
  return dir && copyFileAtomically(queue.backup, *dir, lastComponent(queue.ppdPath), access, &why);
}

bool rollBack(const RollbackCandidate& queue) {
  ReportQueue& report = runReport().addQueue(queue.name);
  report.oldPpd = queue.ppdPath;
  report.newPpd = queue.backup;
  report.backup = queue.backup;
  if (runSettings().dryRun) {
    logMessage(formatText("Dry run: the printer %s would get back %s.", queue.name.c_str(), queue.backup.c_str()));
    report.outcome = "would-roll-back";
    return false;
  }
  std::string why;
  if (!putBack(queue, why)) {
    logFailure(
        formatText("The printer %s could not get back %s: %s.", queue.name.c_str(), queue.backup.c_str(), why.c_str()));
    report.outcome = "failed";
    report.detail = why;
    return false;
  }
  logMessage(formatText("The printer %s is back on %s.", queue.name.c_str(), queue.backup.c_str()));
  report.outcome = "rolled-back";
  return true;
}

}  // namespace

int rollbackQueues(int askFlag) {
  std::vector<RollbackCandidate> queues = queuesWithBackups();
  logMessage(formatText("Printers with a saved PPD to go back to: %zu.", queues.size()));
  if (runSettings().dryRun) askFlag = 0;
  int rolledBack = 0;
  for (const RollbackCandidate& queue : queues) {
    if (askFlag) {
      int answer = askYesNoAll(formatText("Put the printer %s back on its saved PPD? ", queue.name.c_str()));
      if (answer == kAnswerBreak) break;
      if (answer == kAnswerAll) askFlag = 0;
      if (answer == kAnswerNo) {
        runReport().addQueue(queue.name).outcome = "kept";
        continue;
      }
    }
    if (rollBack(queue)) ++rolledBack;
  }
  return rolledBack;
}
