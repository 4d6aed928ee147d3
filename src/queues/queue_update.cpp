#include "queues/queue_update.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

#include "queues/cups_restart.h"
#include "queues/ppd_candidates.h"
#include "queues/ppd_transplant.h"
#include "queues/queue_inventory.h"
#include "services/console_questions.h"
#include "services/run_log.h"
#include "services/run_settings.h"
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

// The model's new PPD, read whole and checked once per run.
NewPpdFacts readNewPpd(const std::string& path) {
  NewPpdFacts facts;
  if (!readPpdText(path, facts.text, facts.why)) return facts;
  if (!endsWithLineEnd(facts.text)) {
    facts.why = "'" + path + "' is not a complete PPD (it ends in the middle of a line)";
    return facts;
  }
  facts.options = declaredOptions(facts.text);
  if (!facts.options) {
    facts.why = "'" + path + "' is not a PPD that libcups can read";
    return facts;
  }
  facts.readable = true;
  return facts;
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

bool writeBesideQueuePpd(const QueueRecord& queue, NewQueuePpd& next, QueueDirs& dirs) {
  std::string why;
  const SafeDir* dir = dirs.open(directoryOf(queue.ppdPath), &why);
  if (dir) {
    next.file = std::make_unique<PendingFile>(*dir);
    FileAccess access;
    // Filters read a queue's PPD as another user: keep who may read it.
    access.keepExisting = true;
    if (next.file->write(next.text) && next.file->finish(lastComponent(queue.ppdPath), access)) return true;
    why = next.file->error();
    next.file.reset();
  }
  logFailure(formatText("The new PPD of the printer %s could not be written: %s.", queue.name.c_str(), why.c_str()));
  return false;
}

// What one queue's update has written and will put in place.
struct PreparedQueue {
  const QueueRecord* queue = nullptr;
  size_t reportIndex = 0;
  std::unique_ptr<PendingFile> backup;
  std::string backupError;
  NewQueuePpd next;
  bool hasNewPpd = false;
  std::unique_ptr<PendingFile> config;
};

ReportQueue& reportOf(const PreparedQueue& prepared) { return runReport().queueAt(prepared.reportIndex); }

void prepareQueue(const std::string& ppdInstallDir, const QueueRecord& queue, OptionList& options, QueueDirs& dirs,
                  PreparedQueue& prepared) {
  logMessage(std::string(kRuleWidth, '='));
  logMsg(msg::kQueueAndPpd, queue.name, queue.ppdPath);
  prepared.queue = &queue;
  ReportQueue& report = runReport().addQueue(queue.name);
  prepared.reportIndex = runReport().queues().size() - 1;
  report.oldPpd = queue.ppdPath;
  report.outcome = "failed";
  unsigned optionCount = 0;
  captureOptions(queue.ppdPath, options, optionCount);
  prepared.backup = backupQueuePpd(queue.ppdPath, queue.name, dirs, prepared.backupError);
  prepared.hasNewPpd =
      installNewPpd(ppdInstallDir, options, static_cast<int>(optionCount), queue, prepared.next, dirs) == 1;
  report.newPpd = prepared.next.source;
  report.carried = reportDefaults(prepared.next.carried);
  report.notCarried = prepared.next.notCarried;
  if (!prepared.hasNewPpd) report.detail = "no complete new PPD of its model could be made";
  prepared.config = processPrinterConfig(queue.name, dirs);
}

// Puts a prepared queue's files in place, in order, and logs each step.
void placeQueue(PreparedQueue& prepared) {
  const QueueRecord& queue = *prepared.queue;
  ReportQueue& report = reportOf(prepared);
  std::string backup = backupPathFor(queue.ppdPath, queue.name);
  bool saved = prepared.backup && prepared.backup->place();
  logMsg(msg::kQueuePpdSaved, queue.ppdPath, backup, saved ? 0 : -1);
  if (saved) {
    report.backup = backup;
  } else {
    logFailure("\t" + (prepared.backup ? prepared.backup->error() : prepared.backupError) + ".");
  }
  if (prepared.hasNewPpd && !saved) {
    logFailure(
        formatText("%s could not be saved; the printer %s keeps its PPD.", queue.ppdPath.c_str(), queue.name.c_str()));
    report.detail = "the old PPD could not be saved";
  } else if (prepared.hasNewPpd && installQueuePpd(queue.ppdPath, prepared.next)) {
    report.outcome = "updated";
  }
  if (prepared.config && prepared.config->place()) {
    logMsg(msg::kPrinterConfigUpdated, queue.name);
  } else if (prepared.config) {
    logFailure(formatText("processPrinterConfig(%s): not rewritten, kept as it was: %s.", queue.name.c_str(),
                          prepared.config->error().c_str()));
  }
}

void planQueue(const std::string& ppdInstallDir, const QueueRecord& queue, OptionList& options, QueueDirs& dirs) {
  logMessage(std::string(kRuleWidth, '='));
  logMsg(msg::kQueueAndPpd, queue.name, queue.ppdPath);
  ReportQueue& report = runReport().addQueue(queue.name);
  report.oldPpd = queue.ppdPath;
  unsigned optionCount = 0;
  captureOptions(queue.ppdPath, options, optionCount);
  NewQueuePpd next;
  if (!installNewPpd(ppdInstallDir, options, static_cast<int>(optionCount), queue, next, dirs)) {
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
void handleQueue(const std::string& ppdInstallDir, const QueueRecord& queue, OptionList& options, QueueDirs& dirs,
                 std::vector<PreparedQueue>& prepared) {
  try {
    if (runSettings().dryRun) {
      planQueue(ppdInstallDir, queue, options, dirs);
    } else {
      prepared.emplace_back();
      prepareQueue(ppdInstallDir, queue, options, dirs, prepared.back());
    }
  } catch (const std::exception& error) {
    if (!prepared.empty() && prepared.back().queue == &queue) prepared.pop_back();
    logFailure(
        formatText("The printer %s could not be updated: %s; it keeps its PPD.", queue.name.c_str(), error.what()));
    ReportQueue& report = runReport().queueEntry(queue.name);
    report.oldPpd = queue.ppdPath;
    report.outcome = "failed";
    report.detail = error.what();
  }
  freeOptionList(&options);
}

void placeAll(std::vector<PreparedQueue>& prepared, QueueDirs& dirs) {
  if (prepared.empty()) return;
  // A file system that could not write the new files back gets none of them in place.
  if (!dirs.batch().flushData()) {
    const std::string why = "the disk reported that it could not write the new files back";
    for (PreparedQueue& queue : prepared) {
      logFailure(formatText("The printer %s could not be updated: %s; it keeps its PPD.", queue.queue->name.c_str(),
                            why.c_str()));
      reportOf(queue).detail = why;
    }
    return;
  }
  for (PreparedQueue& queue : prepared) {
    try {
      placeQueue(queue);
    } catch (const std::exception& error) {
      logFailure(formatText("The printer %s could not be updated: %s.", queue.queue->name.c_str(), error.what()));
    }
  }
  dirs.batch().flushDirectories();
}

// The queue's configuration file under /opt/orv, reached without following a link.
std::optional<SafeDir> configDirOf(const std::string& queueName) {
  if (!isUsableQueueName(queueName)) return std::nullopt;
  std::optional<SafeDir> product = SafeDir::open(kProductDir);
  std::optional<SafeDir> queueDir = product ? product->child(queueName) : std::nullopt;
  return queueDir ? queueDir->child("root") : std::nullopt;
}

}  // namespace

const NewPpdFacts& QueueDirs::newPpd(const std::string& path) {
  auto known = newPpds_.find(path);
  if (known == newPpds_.end()) known = newPpds_.emplace(path, readNewPpd(path)).first;
  return known->second;
}

const SafeDir* QueueDirs::open(const std::string& path, std::string* why) {
  auto known = dirs_.find(path);
  if (known == dirs_.end()) {
    std::optional<SafeDir> dir = SafeDir::open(path, why);
    if (!dir) return nullptr;
    known = dirs_.emplace(path, std::make_unique<SafeDir>(std::move(*dir))).first;
    batch_.add(*known->second);
  }
  return known->second.get();
}

int updateQueues(const std::string& ppdInstallDir, QueueList& list, int count, int askFlag) {
  const RunSettings& s = runSettings();
  auto started = std::chrono::steady_clock::now();
  if (s.dryRun) askFlag = 0;
  OptionList options;
  QueueDirs dirs;
  std::vector<PreparedQueue> prepared;
  int queues = std::min(count, static_cast<int>(list.records.size()));
  prepared.reserve(static_cast<size_t>(queues));
  bool brokenOff = false;
  for (int i = 0; i < queues && !brokenOff; ++i) {
    const QueueRecord& queue = list.records[i];
    if (askFlag) {
      int answer = askYesNoAll(formatMessage(msg::kAskUpdateQueue, queue.name));
      brokenOff = answer == kAnswerBreak;
      if (brokenOff) break;
      if (answer == kAnswerAll) askFlag = 0;
      if (answer == kAnswerNo) {
        runReport().addQueue(queue.name).outcome = "kept";
        continue;
      }
    }
    handleQueue(ppdInstallDir, queue, options, dirs, prepared);
  }
  auto placing = std::chrono::steady_clock::now();
  placeAll(prepared, dirs);
  if (brokenOff) return 1;
  if (s.debugLevel > 0) {
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::chrono::duration<double> placed = std::chrono::steady_clock::now() - placing;
    writeStderr(formatText("updateQueues: %d queues in %.3f s (placing %.3f s); %ld candidate PPD files opened.\n",
                           queues, took.count(), placed.count(), ppdCandidateFilesOpened()));
  }
  if (!s.dryRun) restartCups();
  return 1;
}

int installNewPpd(const std::string& ppdInstallDir, const OptionList& options, int optionCount,
                  const QueueRecord& queue, NewQueuePpd& next, QueueDirs& dirs) {
  logMsg(msg::kProcessingQueuePpd, queue.name);
  std::string found;
  if (!findNewPpd(ppdInstallDir, queue, found)) {
    logMsg(msg::kPpdNotFound);
    std::string line = messageText(msg::kPpdNotFound);
    runReport().addError(line.substr(0, line.find('\n')) + " (printer " + queue.name + ")");
    return 0;
  }
  logIfAny(formatText("PPD = %s.\n", found.c_str()));
  next.source = found;
  const NewPpdFacts& facts = dirs.newPpd(found);
  if (!facts.readable) {
    logMsg(msg::kCannotOpenForQueue, found, queue.name);
    logFailure("\t" + facts.why + "; the printer " + queue.name + " keeps its PPD.");
    return 0;
  }
  splitCarried(*facts.options, options, next.carried, next.notCarried);
  std::vector<std::string> written;
  processNewPPD(facts.text, next.text, next.carried, optionCount, &written);
  noteUnwritten(next, written);
  if (runSettings().dryRun) return 1;
  if (!writeBesideQueuePpd(queue, next, dirs)) return 0;
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

std::unique_ptr<PendingFile> backupQueuePpd(const std::string& ppdPath, const std::string& name, QueueDirs& dirs,
                                            std::string& why) {
  std::string backup = backupPathFor(ppdPath, name);
  const SafeDir* dir = dirs.open(directoryOf(backup), &why);
  int error = 0;
  std::optional<std::string> old = readWholeFile(ppdPath, &error);
  if (!dir || !old) {
    if (!old) why = "'" + ppdPath + "' cannot be read: " + std::strerror(error);
    return nullptr;
  }
  FileAccess access;
  struct stat source {};
  access.mode = ::stat(ppdPath.c_str(), &source) == 0 ? source.st_mode & 0777 : 0600;
  // Written whole beside its name: a link there is replaced, never written
  // through; a good earlier backup stays until the new one is complete.
  auto file = std::make_unique<PendingFile>(*dir);
  if (file->write(*old) && file->finish(lastComponent(backup), access, LinkAtTarget::Replace)) return file;
  why = file->error();
  return nullptr;
}

int installQueuePpd(const std::string& ppdPath, NewQueuePpd& next) {
  if (!next.file) return 0;
  std::string temp = next.file->path();
  bool placed = next.file->place();
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

std::unique_ptr<PendingFile> processPrinterConfig(const std::string& queueName, QueueDirs& dirs) {
  std::optional<SafeDir> found = configDirOf(queueName);
  struct stat info {};
  if (!found || entryType(found->fd(), "mivoConfig", &info) != EntryType::Regular) return nullptr;
  const SafeDir* dir = dirs.open(found->path());
  if (dir) removeStaleTemporaries(*dir);
  FdHolder fd(dir ? ::openat(dir->fd(), "mivoConfig", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1);
  std::optional<std::string> text = fd.get() >= 0 ? readWholeDescriptor(fd.get()) : std::nullopt;
  if (!text) {
    logFailure(formatText("processPrinterConfig(%s): %s cannot be read; kept as it was.", queueName.c_str(),
                          found->pathOf("mivoConfig").c_str()));
    return nullptr;
  }
  FileAccess access;
  access.keepExisting = true;
  auto file = std::make_unique<PendingFile>(*dir);
  if (file->write(raiseConfigVersion(*text)) && file->finish("mivoConfig", access)) return file;
  logFailure(formatText("processPrinterConfig(%s): not rewritten, kept as it was: %s.", queueName.c_str(),
                        file->error().c_str()));
  return nullptr;
}
