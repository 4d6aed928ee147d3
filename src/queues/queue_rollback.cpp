#include "queues/queue_rollback.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "queues/option_capture.h"
#include "queues/queue_inventory.h"
#include "queues/queue_update.h"
#include "services/console_questions.h"
#include "services/effects.h"
#include "services/failure_text.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "sys/file_reading.h"
#include "sys/safe_dirs.h"
#include "sys/sha256.h"
#include "sys/text.h"

namespace {

struct RollbackCandidate {
  QueueFile queue;
  std::string backup;
};

std::vector<RollbackCandidate> queuesWithBackups() {
  std::vector<RollbackCandidate> found;
  for (const QueueFile& file : queueFilesIn(cupsPpdDirectory())) {
    std::string backup = backupPathFor(file.path, file.name);
    struct stat info {};
    if (::lstat(backup.c_str(), &info) == 0 && productQueueOf(file)) found.push_back({file, backup});
  }
  return found;
}

// The saved PPD, when it is the one the product saved for the queue.
std::optional<std::string> savedPpd(const RollbackCandidate& candidate, std::string& why) {
  const RecordedQueue* recorded = productRecord().queue(candidate.queue.name);
  if (!recorded || recorded->backup != candidate.backup || recorded->backupSha256.empty()) {
    why = formatMessage(msg::kBackupNotRecorded);
    return std::nullopt;
  }
  std::optional<SafeDir> dir = SafeDir::open(directoryOf(candidate.backup));
  FdHolder fd(dir ? ::openat(dir->fd(), lastComponent(candidate.backup).c_str(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                  : -1);
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != 0) {
    why = formatMessage(msg::kBackupNotRootsFile);
    return std::nullopt;
  }
  int error = 0;
  std::optional<std::string> text = readWholeDescriptor(fd.get(), &error);
  if (!text) {
    why = describe(Failure{FailureKind::CannotRead, candidate.backup, error});
  } else if (sha256Hex(*text) != recorded->backupSha256) {
    why = formatMessage(msg::kBackupHashDiffers);
  } else if (!declaredOptions(*text, &why)) {
    return std::nullopt;
  } else {
    return text;
  }
  return std::nullopt;
}

// The saved PPD goes in place of the queue's PPD (keeping its mode and
// owner), and the PPD it replaces becomes the saved one.
bool swap(const RollbackCandidate& candidate, const std::string& saved, std::string& why) {
  int error = 0;
  std::optional<std::string> current = readWholeFile(candidate.queue.path, &error);
  if (!current) {
    why = describe(Failure{FailureKind::CannotRead, candidate.queue.path, error});
    return false;
  }
  FileAccess keep;
  keep.keepExisting = true;
  Failure failure;
  std::unique_ptr<StagedFile> ppd = effects().stage({candidate.queue.path, saved, keep}, &failure);
  std::unique_ptr<StagedFile> backup =
      ppd ? effects().stage({candidate.backup, *current, keep, LinkAtTarget::Replace}, &failure) : nullptr;
  bool done = backup && effects().makeStagedDurable() && effects().place(*ppd, &failure) &&
              effects().place(*backup, &failure);
  effects().flushPlaced();
  if (!done) {
    why = describe(failure);
    return false;
  }
  productRecord().queueEntry(candidate.queue.name) = {candidate.queue.name, candidate.queue.path, sha256Hex(saved),
                                                       candidate.backup, sha256Hex(*current)};
  return true;
}

bool rollBack(const RollbackCandidate& candidate) {
  const std::string& name = candidate.queue.name;
  ReportQueue& report = runReport().addQueue(name);
  report.oldPpd = candidate.queue.path;
  report.newPpd = candidate.backup;
  report.outcome = QueueOutcome::Failed;
  std::string why;
  std::optional<std::string> saved = savedPpd(candidate, why);
  if (!saved || !swap(candidate, *saved, why)) {
    logFailureMsg(msg::kRollbackRefused, name, candidate.backup, why);
    report.detail = why;
    return false;
  }
  logChange(formatMessage(msg::kRolledBack, name, candidate.backup, candidate.backup));
  report.backup = candidate.backup;
  report.outcome = QueueOutcome::RolledBack;
  return true;
}

}  // namespace

int rollbackQueues(int askFlag) {
  std::vector<RollbackCandidate> queues = queuesWithBackups();
  logMsg(msg::kRollbackCount, static_cast<int>(queues.size()));
  int rolledBack = 0;
  for (size_t i = 0; i < queues.size(); ++i) {
    const RollbackCandidate& queue = queues[i];
    if (askFlag) {
      AnswerCode answer = askYesNoAll(formatMessage(msg::kAskRollback, queue.queue.name));
      if (answer == kAnswerAll) askFlag = 0;
      if (answer == kAnswerNo || answer == kAnswerBreak) {
        size_t last = answer == kAnswerBreak ? queues.size() : i + 1;
        for (size_t k = i; k < last; ++k) runReport().addQueue(queues[k].queue.name).outcome = QueueOutcome::Kept;
        if (answer == kAnswerBreak) break;
        continue;
      }
    }
    if (rollBack(queue)) ++rolledBack;
  }
  return rolledBack;
}
