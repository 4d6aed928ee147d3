#include "queues/queue_update.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <exception>

#include "install/fs_helpers.h"
#include "queues/cups_restart.h"
#include "queues/ppd_transplant.h"
#include "queues/queue_inventory.h"
#include "services/console_questions.h"
#include "services/failure_text.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "services/terminal.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/safe_dirs.h"
#include "sys/sha256.h"
#include "sys/text.h"

namespace {

constexpr std::string_view kOldConfigVersion = "%%MIVO_VERSION_1.0";
constexpr std::string_view kNewConfigVersion = "%%MIVO_VERSION_3.0\n";
constexpr const char* kConfigName = "mivoConfig";

std::vector<ReportDefault> reportDefaults(const OptionList& list) {
  std::vector<ReportDefault> defaults;
  for (const OptionRecord& r : list.records) defaults.push_back({r.keyword, r.value});
  return defaults;
}

// Captured defaults the new PPD declares but whose default line the
// transplant never met are not carried either; each gets its line.
void noteUnwritten(NewQueuePpd& next, const std::vector<std::string>& written) {
  auto unwritten = [&written](const OptionRecord& r) {
    return std::find(written.begin(), written.end(), r.keyword) == written.end();
  };
  for (const OptionRecord& r : next.carried.records) {
    if (unwritten(r)) notCarry(next.notCarried, r, NotCarriedReason::NoDefaultLine);
  }
  std::erase_if(next.carried.records, unwritten);
}

// What one queue's update has written beside its files, to put in place later.
struct PreparedQueue {
  const QueueRecord* queue = nullptr;
  size_t reportIndex = 0;
  std::string headLines;  // the queue's first lines of the log
  std::string bodyLines;  // its lines between the backup's line and the new PPD's
  std::unique_ptr<StagedFile> backup;
  std::unique_ptr<StagedFile> ppd;
  std::unique_ptr<StagedFile> config;
  std::string newHash;
  std::string oldHash;
};

ReportQueue& reportOf(const PreparedQueue& prepared) { return runReport().queueAt(prepared.reportIndex); }

// Everything one update run shares between its queues.
struct UpdateRun {
  const std::string& ppdInstallDir;
  PpdCandidates& candidates;
  std::map<std::string, NewPpdFacts> newPpds;
};

std::unique_ptr<StagedFile> stageBeside(const std::string& path, std::string_view text, const FileAccess& access,
                                        LinkAtTarget atLink, std::string& why) {
  Failure failure;
  std::unique_ptr<StagedFile> staged = effects().stage({path, text, access, atLink, ""}, &failure);
  if (!staged) why = describe(failure);
  return staged;
}

// The queue's new PPD, written beside its PPD and read back: what libcups
// cannot read is never placed, and what it does not read as carried is not
// reported as carried.
bool stageNewPpd(const QueueRecord& queue, NewQueuePpd& next, PreparedQueue& prepared) {
  FileAccess access;
  // Filters read a queue's PPD as another user: keep who may read it.
  access.keepExisting = true;
  std::string why;
  prepared.ppd = stageBeside(queue.ppdPath, next.text, access, LinkAtTarget::Refuse, why);
  if (!prepared.ppd) {
    logFailureMsg(msg::kNewPpdNotWritten, queue.name, why);
    return false;
  }
  std::optional<std::string> back = prepared.ppd->readBack();
  std::optional<DeclaredOptions> written = back ? declaredOptions(*back, &why) : std::nullopt;
  if (!written) {
    if (!back) why = describe(Failure{FailureKind::CannotRead, prepared.ppd->stagedPath(), 0});
    logFailureMsg(msg::kNewPpdRefused, queue.name, why);
    prepared.ppd.reset();
    return false;
  }
  keepWhatReadsBack(*written, next);
  logMsg(msg::kNewQueuePpdAt, queue.name, prepared.ppd->stagedPath());
  return true;
}

std::unique_ptr<StagedFile> backupQueuePpd(const QueueRecord& queue, std::string_view oldText, std::string& why) {
  FileAccess access;
  struct stat source {};
  access.mode = ::stat(queue.ppdPath.c_str(), &source) == 0 ? source.st_mode & 0777 : 0600;
  // Written whole beside its name: a link there is replaced, never written
  // through; a good earlier backup stays until the new one is complete.
  return stageBeside(backupPathFor(queue.ppdPath, queue.name), oldText, access, LinkAtTarget::Replace, why);
}

// The queue's configuration directory under the product directory, reached
// by the rule for links; its configuration file, written with the marker
// raised beside it. Nothing when the queue has none or it is already raised.
std::unique_ptr<StagedFile> processPrinterConfig(const std::string& queueName) {
  std::optional<SafeDir> product = isUsableQueueName(queueName) ? SafeDir::open(runSettings().places.productDir) : std::nullopt;
  std::optional<SafeDir> queueDir = product ? product->child(queueName) : std::nullopt;
  std::optional<SafeDir> dir = queueDir ? queueDir->child("root") : std::nullopt;
  if (!dir) return nullptr;
  std::string path = dir->pathOf(kConfigName);
  EntryType type = entryType(dir->fd(), kConfigName);
  if (type == EntryType::Missing) return nullptr;
  if (type != EntryType::Regular) {
    logFailureMsg(msg::kConfigIsLink, queueName, path);
    ReportFile& file = runReport().addFile(path, FileAction::Install);
    file.outcome = FileOutcome::Failed;
    file.detail = formatMessage(msg::kConfigIsLink, queueName, path);
    return nullptr;
  }
  removeLeftoverTemporaries(dir->path());
  FdHolder fd(::openat(dir->fd(), kConfigName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  std::optional<std::string> text = fd.get() >= 0 ? readWholeDescriptor(fd.get()) : std::nullopt;
  if (!text) {
    logFailureMsg(msg::kConfigUnreadable, queueName, path);
    return nullptr;
  }
  std::string raised = raiseConfigVersion(*text);
  if (raised == *text) return nullptr;
  FileAccess access;
  access.keepExisting = true;
  std::string why;
  std::unique_ptr<StagedFile> staged = stageBeside(path, raised, access, LinkAtTarget::Refuse, why);
  if (!staged) logFailureMsg(msg::kConfigNotRewritten, queueName, why);
  return staged;
}

// The queue's own PPD, read once: an I/O error keeps the queue on it.
std::optional<std::string> readOldPpd(const QueueRecord& queue, ReportQueue& report) {
  int error = 0;
  std::optional<std::string> text = readWholeFile(queue.ppdPath, &error);
  if (!text) {
    report.detail = describe(Failure{FailureKind::CannotRead, queue.ppdPath, error});
    logFailureMsg(msg::kQueueUnreadable, queue.name, report.detail);
  }
  return text;
}

void prepareQueue(UpdateRun& run, const QueueRecord& queue, PreparedQueue& prepared) {
  HeldLines held;
  logMsg(msg::kQueueRule);
  logMsg(msg::kQueueAndPpd, queue.name, queue.ppdPath);
  prepared.headLines = held.take();
  prepared.queue = &queue;
  ReportQueue& report = runReport().addQueue(queue.name);
  prepared.reportIndex = runReport().queues().size() - 1;
  report.oldPpd = queue.ppdPath;
  report.outcome = QueueOutcome::Failed;
  std::optional<std::string> oldText = readOldPpd(queue, report);
  if (!oldText) return void(prepared.bodyLines = held.take());
  OptionList options;
  unsigned optionCount = 0;
  std::string why;
  int captured = captureOptions(*oldText, options, optionCount, &why);
  if (captured < 0) {
    // Its defaults are there, but this host could not read them now: the queue waits for a run that can.
    report.detail = why;
    logFailureMsg(msg::kQueueUnreadable, queue.name, why);
    return void(prepared.bodyLines = held.take());
  }
  if (captured == 0 && !why.empty()) {
    // The scheduler cannot read it either: the queue moves with the new PPD's own defaults.
    writeStderr(formatMessage(msg::kCannotOpenPpd, queue.ppdPath));
    logFailureMsg(msg::kOldDefaultsUnreadable, queue.name, why);
    report.detail = formatMessage(msg::kOldDefaultsUnreadable, queue.name, why);
  }
  NewQueuePpd next;
  bool made = installNewPpd(run.candidates, run.newPpds, run.ppdInstallDir, options, static_cast<int>(optionCount),
                            queue, next) == 1;
  report.newPpd = next.source;
  if (!made) {
    report.detail = formatMessage(msg::kNoNewPpdFound);
  } else if (next.text == *oldText) {
    logMsg(msg::kQueueUnchanged, queue.name);
    report.outcome = QueueOutcome::Unchanged;
  } else if (stageNewPpd(queue, next, prepared)) {
    prepared.newHash = sha256Hex(next.text);
    prepared.oldHash = sha256Hex(*oldText);
    prepared.backup = backupQueuePpd(queue, *oldText, why);
    if (!prepared.backup) report.detail = why;
  }
  report.carried = reportDefaults(next.carried);
  report.notCarried = next.notCarried;
  prepared.config = processPrinterConfig(queue.name);
  prepared.bodyLines = held.take();
}

void placeConfig(PreparedQueue& prepared) {
  if (!prepared.config) return;
  Failure why;
  if (effects().place(*prepared.config, &why)) {
    logChange(formatMessage(msg::kPrinterConfigUpdated, prepared.queue->name));
  } else {
    logFailureMsg(msg::kConfigNotRewritten, prepared.queue->name, describe(why));
  }
}

void recordQueue(const PreparedQueue& prepared, const std::string& backup) {
  RecordedQueue& entry = productRecord().queueEntry(prepared.queue->name);
  entry = {prepared.queue->name, prepared.queue->ppdPath, prepared.newHash, backup, prepared.oldHash};
}

// Puts a prepared queue's files in place, in order, its log lines among them.
void placeQueue(PreparedQueue& prepared) {
  const QueueRecord& queue = *prepared.queue;
  ReportQueue& report = reportOf(prepared);
  writeHeldLines(prepared.headLines);
  bool saved = false;
  if (prepared.ppd) {
    std::string backup = backupPathFor(queue.ppdPath, queue.name);
    Failure why;
    saved = prepared.backup && effects().place(*prepared.backup, &why);
    logChange(formatMessage(msg::kQueuePpdSaved, queue.ppdPath, backup, saved ? 0 : -1));
    if (saved) {
      report.backup = backup;
    } else {
      std::string reason = prepared.backup ? describe(why) : report.detail;
      logFailureMsg(msg::kBackupNotSaved, queue.ppdPath, queue.name, reason);
      report.detail = formatMessage(msg::kBackupNotSaved, queue.ppdPath, queue.name, reason);
    }
  }
  writeHeldLines(prepared.bodyLines);
  if (saved) {
    Failure why;
    bool placed = effects().place(*prepared.ppd, &why);
    logChange(formatMessage(msg::kQueuePpdCopied, prepared.ppd->stagedPath(), queue.ppdPath, placed ? 0 : -1));
    if (placed) {
      report.outcome = QueueOutcome::Updated;
      recordQueue(prepared, report.backup);
    } else {
      logFailureMsg(msg::kQueueNotUpdated, queue.name, describe(why));
    }
  }
  placeConfig(prepared);
}

void handleQueue(UpdateRun& run, const QueueRecord& queue, std::vector<PreparedQueue>& prepared) {
  try {
    prepared.emplace_back();
    prepareQueue(run, queue, prepared.back());
  } catch (const std::exception& error) {
    // Whatever goes wrong with one queue stays with it.
    prepared.pop_back();
    logFailureMsg(msg::kQueueNotUpdated, queue.name, std::string(error.what()));
    ReportQueue& report = runReport().queueEntry(queue.name);
    report.oldPpd = queue.ppdPath;
    report.outcome = QueueOutcome::Failed;
    report.detail = error.what();
  }
}

void placeAll(std::vector<PreparedQueue>& prepared) {
  // A file system that could not write the new files back gets none of them in place.
  if (!effects().makeStagedDurable()) {
    const std::string why = formatMessage(msg::kDiskCouldNotWrite);
    for (PreparedQueue& queue : prepared) {
      writeHeldLines(queue.headLines + queue.bodyLines);
      if (!queue.ppd) continue;
      logFailureMsg(msg::kQueueNotUpdated, queue.queue->name, why);
      reportOf(queue).detail = why;
    }
    return;
  }
  for (PreparedQueue& queue : prepared) {
    try {
      placeQueue(queue);
    } catch (const std::exception& error) {
      logFailureMsg(msg::kQueueNotUpdated, queue.queue->name, std::string(error.what()));
    }
  }
  effects().flushPlaced();
}

// Queues after a break were never asked: they keep their PPDs, as the report says.
void keepTheRest(const QueueList& list, int from, int queues) {
  for (int i = from; i < queues; ++i) {
    ReportQueue& report = runReport().addQueue(list.records[i].name);
    report.oldPpd = list.records[i].ppdPath;
    report.outcome = QueueOutcome::Kept;
    report.detail = formatMessage(msg::kNotAskedAfterBreak);
  }
}

// Asks about one queue; false when it is to be left alone.
bool wanted(const QueueRecord& queue, int& askFlag, bool& brokenOff) {
  if (!askFlag) return true;
  AnswerCode answer = askYesNoAll(formatMessage(msg::kAskUpdateQueue, queue.name));
  brokenOff = answer == kAnswerBreak;
  if (answer == kAnswerAll) askFlag = 0;
  if (answer != kAnswerNo) return !brokenOff;
  ReportQueue& report = runReport().addQueue(queue.name);
  report.oldPpd = queue.ppdPath;
  report.outcome = QueueOutcome::Kept;
  return false;
}

}  // namespace

NewPpdFacts readNewPpd(const std::string& path) {
  NewPpdFacts facts;
  if (!readPpdText(path, facts.text, facts.why)) {
    facts.damagedGzip = true;
    return facts;
  }
  // A file the product installed is the one it installed, or it is not used.
  if (const RecordedFile* recorded = productRecord().file(path)) {
    std::optional<std::string> bytes = readWholeFile(effects().contentPathOf(path));
    if (!bytes || sha256Hex(*bytes) != recorded->sha256) {
      facts.why = formatMessage(msg::kNewPpdNotRecorded, path);
      return facts;
    }
  }
  facts.options = declaredOptions(facts.text, &facts.why);
  facts.readable = facts.options.has_value();
  return facts;
}

int installNewPpd(PpdCandidates& candidates, std::map<std::string, NewPpdFacts>& newPpds,
                  const std::string& ppdInstallDir, const OptionList& options, int optionCount,
                  const QueueRecord& queue, NewQueuePpd& next) {
  logMsg(msg::kProcessingQueuePpd, queue.name);
  std::string found;
  if (!findNewPpd(candidates, ppdInstallDir, queue, found)) {
    logMsg(msg::kPpdNotFound);
    runReport().addError(std::string(withoutLineEnd(messageText(msg::kPpdNotFound))) + " (" + queue.name + ")");
    return 0;
  }
  logMsg(msg::kPpdFound, found);
  next.source = found;
  auto known = newPpds.find(found);
  if (known == newPpds.end()) known = newPpds.emplace(found, readNewPpd(found)).first;
  const NewPpdFacts& facts = known->second;
  if (!facts.readable) {
    if (facts.damagedGzip) {
      logMsg(msg::kCannotDecompress, found, queue.name);
    } else {
      logMsg(msg::kCannotOpenForQueue, found, queue.name);
    }
    logFailureMsg(msg::kNewPpdBadForQueue, facts.why, queue.name);
    return 0;
  }
  splitCarried(*facts.options, options, next.carried, next.notCarried);
  std::vector<std::string> written;
  processNewPPD(facts.text, next.text, next.carried, optionCount, &written);
  noteUnwritten(next, written);
  return 1;
}

void keepWhatReadsBack(const DeclaredOptions& written, NewQueuePpd& next) {
  auto readsBack = [&written](const OptionRecord& r) {
    auto option = written.byKeyword.find(lowerCase(r.keyword));
    return option != written.byKeyword.end() && equalsIgnoringCase(option->second.defaultChoice, r.value);
  };
  for (const OptionRecord& r : next.carried.records) {
    if (readsBack(r)) continue;
    auto option = written.byKeyword.find(lowerCase(r.keyword));
    notCarry(next.notCarried, r, NotCarriedReason::NotReadBack,
             option == written.byKeyword.end() ? "" : option->second.defaultChoice);
  }
  std::erase_if(next.carried.records, [&readsBack](const OptionRecord& r) { return !readsBack(r); });
}

int updateQueues(const std::string& ppdInstallDir, QueueList& list, int count, int askFlag, PpdCandidates& candidates) {
  const RunSettings& s = runSettings();
  auto started = std::chrono::steady_clock::now();
  UpdateRun run{ppdInstallDir, candidates, {}};
  std::vector<PreparedQueue> prepared;
  int queues = std::min(count, static_cast<int>(list.records.size()));
  prepared.reserve(static_cast<size_t>(queues));
  bool brokenOff = false;
  for (int i = 0; i < queues; ++i) {
    const QueueRecord& queue = list.records[i];
    if (!wanted(queue, askFlag, brokenOff)) {
      if (brokenOff) keepTheRest(list, i, queues);
      if (brokenOff) break;
      continue;
    }
    if (!askFlag) showProgress(formatMessage(msg::kProgress, i + 1, queues, queue.name));
    handleQueue(run, queue, prepared);
  }
  clearProgress();
  auto placing = std::chrono::steady_clock::now();
  placeAll(prepared);
  if (brokenOff) return 1;
  if (s.debugLevel > 0) {
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::chrono::duration<double> placed = std::chrono::steady_clock::now() - placing;
    writeStderr(formatText("updateQueues: %d queues in %.3f s (placing %.3f s); %ld candidate PPD files opened.\n",
                           queues, took.count(), placed.count(), candidates.filesOpened()));
  }
  restartCupsIfChanged();
  return 1;
}

std::string backupPathFor(const std::string& ppdPath, const std::string& name) {
  size_t ppdDir = ppdPath.find("/ppd");
  std::string base = ppdDir == std::string::npos ? ppdPath : ppdPath.substr(0, ppdDir + 1);
  return base + name + ".ppd.rpmsave";
}

std::string raiseConfigVersion(std::string_view text) {
  std::string out;
  for (std::string_view piece : linePieces(text)) {
    out += contains(piece, kOldConfigVersion) ? kNewConfigVersion : piece;
  }
  return out;
}
