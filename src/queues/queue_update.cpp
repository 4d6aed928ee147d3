#include "queues/queue_update.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>

#include "queues/cups_restart.h"
#include "queues/ppd_candidates.h"
#include "queues/ppd_transplant.h"
#include "queues/queue_inventory.h"
#include "run/console_questions.h"
#include "run/run_log.h"
#include "run/run_settings.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/product.h"
#include "sys/text.h"

namespace {

constexpr size_t kRuleWidth = 58;
constexpr std::string_view kOldConfigVersion = "%%MIVO_VERSION_1.0";
constexpr std::string_view kNewConfigVersion = "%%MIVO_VERSION_3.0\n";

bool findNewPpd(const std::string& ppdInstallDir, const QueueRecord& queue, std::string& found) {
  return findModelPpd(ppdInstallDir, queue, queue.pdlKind, queue.modelId, found) ||
         findModelPpd(kProductPpdDir, queue, queue.pdlKind, queue.modelId, found);
}

std::string valuesOf(const std::vector<OptionRecord>& records) {
  std::string text;
  for (const OptionRecord& r : records) text += (text.empty() ? "" : ", ") + r.keyword + "=" + r.value;
  return text.empty() ? "none" : text;
}

std::vector<ReportDefault> reportDefaults(const OptionList& list) {
  std::vector<ReportDefault> defaults;
  for (const OptionRecord& r : list.records) defaults.push_back({r.keyword, r.value, ""});
  return defaults;
}

// The model's new PPD, read whole and checked; empty after a logged failure.
bool readNewPpd(const std::string& found, const QueueRecord& queue, std::string& text) {
  std::string why;
  if (!readPpdText(found, text, why)) {
    logMsg(msg::kCannotOpenForQueue, found, queue.name);
    logFailure("\t" + why + ".");
    return false;
  }
  if (!endsWithLineEnd(text)) {
    logFailure(formatText("%s is not a complete PPD (it ends in the middle of a line); the printer %s keeps its PPD.",
                          found.c_str(), queue.name.c_str()));
    return false;
  }
  return true;
}

// Captured defaults the new PPD declares but whose default line the
// transplant never met are not carried either; each gets its line.
void noteUnwritten(NewQueuePpd& next, const std::vector<std::string>& written) {
  for (const OptionRecord& r : next.carried.records) {
    if (std::find(written.begin(), written.end(), r.keyword) != written.end()) continue;
    logIfAny(formatText("Default %s/%s: the new PPD has no default line for it in an option block; not carried.\n",
                        r.keyword.c_str(), r.value.c_str()));
    next.notCarried.push_back({r.keyword, r.value, "no-default-line"});
  }
  std::erase_if(next.carried.records, [&written](const OptionRecord& r) {
    return std::find(written.begin(), written.end(), r.keyword) == written.end();
  });
}

bool writeBesideQueuePpd(const QueueRecord& queue, NewQueuePpd& next) {
  std::string why;
  next.dir = SafeDir::open(directoryOf(queue.ppdPath), &why);
  if (next.dir) {
    next.file = std::make_unique<PendingFile>(*next.dir);
    if (next.file->write(next.text)) return true;
    why = next.file->error();
    next.file.reset();
  }
  logFailure(formatText("The new PPD of the printer %s could not be written: %s.", queue.name.c_str(), why.c_str()));
  return false;
}

void updateQueue(const std::string& ppdInstallDir, const QueueRecord& queue, OptionList& options) {
  logMessage(std::string(kRuleWidth, '='));
  logMsg(msg::kQueueAndPpd, queue.name, queue.ppdPath);
  ReportQueue& report = runReport().addQueue(queue.name);
  report.oldPpd = queue.ppdPath;
  report.outcome = "failed";
  unsigned optionCount = 0;
  captureOptions(queue.ppdPath, options, optionCount);
  bool backedUp = backupQueuePpd(queue.ppdPath, queue.name) == 1;
  if (backedUp) report.backup = backupPathFor(queue.ppdPath, queue.name);
  NewQueuePpd next;
  if (installNewPpd(ppdInstallDir, options, static_cast<int>(optionCount), queue, next)) {
    report.newPpd = next.source;
    report.carried = reportDefaults(next.carried);
    report.notCarried = next.notCarried;
    if (!backedUp) {
      logFailure(formatText("%s could not be saved; the printer %s keeps its PPD.", queue.ppdPath.c_str(),
                            queue.name.c_str()));
      report.detail = "the old PPD could not be saved";
    } else if (installQueuePpd(queue.ppdPath, next)) {
      report.outcome = "updated";
    }
  } else {
    report.detail = "no complete new PPD of its model could be made";
  }
  processPrinterConfig(queue.name);
}

void planQueue(const std::string& ppdInstallDir, const QueueRecord& queue, OptionList& options) {
  logMessage(std::string(kRuleWidth, '='));
  logMsg(msg::kQueueAndPpd, queue.name, queue.ppdPath);
  ReportQueue& report = runReport().addQueue(queue.name);
  report.oldPpd = queue.ppdPath;
  unsigned optionCount = 0;
  captureOptions(queue.ppdPath, options, optionCount);
  NewQueuePpd next;
  if (!installNewPpd(ppdInstallDir, options, static_cast<int>(optionCount), queue, next)) {
    report.outcome = "failed";
    report.detail = "no complete new PPD of its model could be made";
    return;
  }
  logMessage(formatText("Dry run: the printer %s would move to %s, saved first as %s; defaults carried: %s.",
                        queue.name.c_str(), next.source.c_str(), backupPathFor(queue.ppdPath, queue.name).c_str(),
                        valuesOf(next.carried.records).c_str()));
  report.outcome = "would-update";
  report.newPpd = next.source;
  report.backup = backupPathFor(queue.ppdPath, queue.name);
  report.carried = reportDefaults(next.carried);
  report.notCarried = next.notCarried;
}

// One queue; whatever goes wrong with it stays with it.
void handleQueue(const std::string& ppdInstallDir, const QueueRecord& queue, OptionList& options) {
  try {
    if (runSettings().dryRun) {
      planQueue(ppdInstallDir, queue, options);
    } else {
      updateQueue(ppdInstallDir, queue, options);
    }
  } catch (const std::exception& error) {
    logFailure(formatText("The printer %s could not be updated: %s; it keeps its PPD.", queue.name.c_str(), error.what()));
    ReportQueue& report = runReport().queueEntry(queue.name);
    report.oldPpd = queue.ppdPath;
    report.outcome = "failed";
    report.detail = error.what();
  }
  freeOptionList(&options);
}

// The queue's configuration file under /opt/orv, reached without following a link.
std::optional<SafeDir> configDirOf(const std::string& queueName) {
  if (!isUsableQueueName(queueName)) return std::nullopt;
  std::optional<SafeDir> product = SafeDir::open(kProductDir);
  std::optional<SafeDir> queueDir = product ? product->child(queueName) : std::nullopt;
  return queueDir ? queueDir->child("root") : std::nullopt;
}

}  // namespace

int updateQueues(const std::string& ppdInstallDir, QueueList& list, int count, int askFlag) {
  const RunSettings& s = runSettings();
  auto started = std::chrono::steady_clock::now();
  if (s.dryRun) askFlag = 0;
  OptionList options;
  int queues = std::min(count, static_cast<int>(list.records.size()));
  for (int i = 0; i < queues; ++i) {
    const QueueRecord& queue = list.records[i];
    if (askFlag) {
      int answer = askYesNoAll(formatMessage(msg::kAskUpdateQueue, queue.name));
      if (answer == kAnswerBreak) return 1;
      if (answer == kAnswerAll) askFlag = 0;
      if (answer == kAnswerNo) {
        runReport().addQueue(queue.name).outcome = "kept";
        continue;
      }
    }
    handleQueue(ppdInstallDir, queue, options);
  }
  if (s.debugLevel > 0) {
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    writeStderr(formatText("updateQueues: %d queues in %.3f s; %ld candidate PPD files opened.\n", queues,
                           took.count(), ppdCandidateFilesOpened()));
  }
  if (!s.dryRun) restartCups();
  return 1;
}

int installNewPpd(const std::string& ppdInstallDir, const OptionList& options, int optionCount,
                  const QueueRecord& queue, NewQueuePpd& next) {
  logMsg(msg::kProcessingQueuePpd, queue.name);
  std::string found;
  if (!findNewPpd(ppdInstallDir, queue, found)) {
    logMsg(msg::kPpdNotFound);
    return 0;
  }
  logIfAny(formatText("PPD = %s.\n", found.c_str()));
  next.source = found;
  std::string newText;
  if (!readNewPpd(found, queue, newText)) return 0;
  if (!carriedDefaults(newText, options, next.carried, next.notCarried)) {
    logFailure(formatText("%s is not a PPD that can be read; the printer %s keeps its PPD.", found.c_str(),
                          queue.name.c_str()));
    return 0;
  }
  std::vector<std::string> written;
  processNewPPD(newText, next.text, next.carried, optionCount, &written);
  noteUnwritten(next, written);
  if (runSettings().dryRun) return 1;
  if (!writeBesideQueuePpd(queue, next)) return 0;
  logMsg(msg::kNewQueuePpdAt, queue.name, next.file->path());
  return 1;
}

std::string backupPathFor(const std::string& ppdPath, const std::string& name) {
  size_t ppdDir = ppdPath.find("/ppd");
  std::string base = ppdDir == std::string::npos ? ppdPath : ppdPath.substr(0, ppdDir + 1);
  // Another file of the same queue name (CUPS's own X.ppd.O, a cut long name)
  // must not overwrite the backup of the queue's real PPD.
  std::string fileName = ppdPath.substr(ppdPath.rfind('/') + 1);
  if (fileName != name + ".ppd") return base + fileName + ".rpmsave";
  return base + name + ".ppd.rpmsave";
}

int backupQueuePpd(const std::string& ppdPath, const std::string& name) {
  std::string backup = backupPathFor(ppdPath, name);
  std::string why;
  std::optional<SafeDir> dir = SafeDir::open(directoryOf(backup), &why);
  FileAccess access;
  access.mode = 0600;
  struct stat source {};
  if (::stat(ppdPath.c_str(), &source) == 0) access.mode = source.st_mode & 0777;
  // Written whole beside its name: a link there is replaced, never written
  // through; a good earlier backup stays until the new one is complete.
  bool saved = dir && copyFileAtomically(ppdPath, *dir, lastComponent(backup), access, &why, LinkAtTarget::Replace);
  logMsg(msg::kQueuePpdSaved, ppdPath, backup, saved ? 0 : -1);
  if (!saved) logFailure("\t" + why + ".");
  return saved ? 1 : 0;
}

int installQueuePpd(const std::string& ppdPath, NewQueuePpd& next) {
  if (!next.file) return 0;
  std::string temp = next.file->path();
  FileAccess access;
  access.mode = 0644;
  // Filters read a queue's PPD as another user: keep who may read it.
  access.keepExisting = true;
  bool placed = next.file->commit(lastComponent(ppdPath), access);
  logMsg(msg::kQueuePpdCopied, temp, ppdPath, placed ? 0 : -1);
  if (!placed) logFailure(formatText("%s keeps its PPD: %s.", ppdPath.c_str(), next.file->error().c_str()));
  next.file.reset();
  return placed ? 1 : 0;
}

std::string raiseConfigVersion(std::string_view text) {
  std::string out;
  for (std::string_view piece : linePieces(text)) {
    out += piece.find(kOldConfigVersion) != std::string_view::npos ? kNewConfigVersion : piece;
  }
  return out;
}

bool endsWithLineEnd(std::string_view text) { return !text.empty() && (text.back() == '\n' || text.back() == '\r'); }

int processPrinterConfig(const std::string& queueName) {
  std::optional<SafeDir> dir = configDirOf(queueName);
  struct stat info {};
  if (!dir || entryType(dir->fd(), "mivoConfig", &info) != EntryType::Regular) return 0;
  FdHolder fd(::openat(dir->fd(), "mivoConfig", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  int error = 0;
  std::optional<std::string> text = fd.get() >= 0 ? readWholeDescriptor(fd.get(), &error) : std::nullopt;
  std::string path = dir->pathOf("mivoConfig");
  if (!text) {
    logFailure(formatText("processPrinterConfig(%s): %s cannot be read; kept as it was.", queueName.c_str(), path.c_str()));
    return 0;
  }
  FileAccess access;
  access.keepExisting = true;
  std::string why;
  if (!writeFileAtomically(*dir, "mivoConfig", raiseConfigVersion(*text), access, &why)) {
    logFailure(formatText("processPrinterConfig(%s): not rewritten, kept as it was: %s.", queueName.c_str(), why.c_str()));
    return 0;
  }
  logMsg(msg::kPrinterConfigUpdated, queueName);
  return 1;
}
