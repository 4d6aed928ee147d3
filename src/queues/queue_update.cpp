#include "queues/queue_update.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "queues/cups_restart.h"
#include "queues/line_pieces.h"
#include "queues/ppd_candidates.h"
#include "queues/ppd_transplant.h"
#include "queues/queue_files.h"
#include "queues/queue_inventory.h"
#include "run/console_questions.h"
#include "run/run_log.h"
#include "run/run_settings.h"
#include "run/shell.h"

namespace {

constexpr size_t kRuleWidth = 58;
constexpr const char* kConfigPathFormat = "/opt/orv/%s/root/mivoConfig";
constexpr std::string_view kOldConfigVersion = "%%MIVO_VERSION_1.0";
constexpr const char* kNewConfigVersion = "%%MIVO_VERSION_3.0\n";
constexpr std::string_view kGzipSuffix = ".gz";

// Removes the files it holds when it goes out of scope, unless kept.
class RemoveOnExit {
 public:
  ~RemoveOnExit() {
    for (const std::string& path : paths_) ::unlink(path.c_str());
  }
  void add(const std::string& path) { paths_.push_back(path); }
  void keep(const std::string& path) { std::erase(paths_, path); }

 private:
  std::vector<std::string> paths_;
};

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool findNewPpd(const std::string& ppdInstallDir, const QueueRecord& queue, std::string& found) {
  return findModelPpd(ppdInstallDir, queue, queue.pdlKind, queue.modelId, found) ||
         findModelPpd(kProductPpdDir, queue, queue.pdlKind, queue.modelId, found);
}

// Copies the new PPD into the exclusive temporary file and decompresses it
// there when needed; the path of the plain copy, or empty after a logged failure.
std::string plainCopyOf(const std::string& found, const QueueRecord& queue, RemoveOnExit& cleanup) {
  bool compressed = found.find(kGzipSuffix) != std::string::npos;
  TempFile input;
  if (!makeTempFile(temporaryDirectory(), "zebin", compressed ? ".gz" : "", input)) {
    logMsg(msg::kCannotOpenForQueue, temporaryDirectory() + "/zebin", queue.name);
    return {};
  }
  cleanup.add(input.path);
  closeChecked(input.fd);
  if (!copyFile(found, input.path)) {
    logMsg(msg::kCannotOpenForQueue, found, queue.name);
    return {};
  }
  if (!compressed) return input.path;
  const CommandTable& commands = runSettings().commands;
  if (runShell(formatText("%s -d %s", commands.gzip.c_str(), shellQuote(input.path).c_str())) != 0) {
    logMsg(msg::kCannotDecompress, input.path, queue.name);
    return {};
  }
  std::string plain = input.path.substr(0, input.path.size() - kGzipSuffix.size());
  cleanup.add(plain);
  return plain;
}

// Runs the transplant; the rewritten text, or nothing after a logged failure.
std::optional<std::string> transplantDefaults(const std::string& plainPath, const OptionList& options,
                                              int optionCount, const QueueRecord& queue) {
  std::ifstream in(plainPath, std::ios::binary);
  if (!in) {
    logMsg(msg::kCannotOpenForQueue, plainPath, queue.name);
    return std::nullopt;
  }
  OptionList offered = keepOfferedDefaults(plainPath, options);
  std::ostringstream out;
  processNewPPD(in, out, offered, optionCount);
  if (in.bad()) {
    logMsg(msg::kCannotOpenForQueue, plainPath, queue.name);
    return std::nullopt;
  }
  return std::move(out).str();
}

void updateQueue(const std::string& ppdInstallDir, const QueueRecord& queue, OptionList& options) {
  logMessage(std::string(kRuleWidth, '='));
  logMsg(msg::kQueueAndPpd, queue.name, queue.ppdPath);
  unsigned optionCount = 0;
  captureOptions(queue.ppdPath, options, optionCount);
  int backedUp = backupQueuePpd(queue.ppdPath, queue.name);
  std::string outName;
  installNewPpd(ppdInstallDir, options, static_cast<int>(optionCount), queue, outName);
  if (!outName.empty()) {
    if (backedUp) {
      installQueuePpd(queue.ppdPath, outName);
    } else {
      logIfAny(formatText("%s could not be saved; the printer %s keeps its PPD.\n",
                          queue.ppdPath.c_str(), queue.name.c_str()));
    }
    ::unlink(outName.c_str());
  }
  processPrinterConfig(queue.name);
}

}  // namespace

int updateQueues(const std::string& ppdInstallDir, QueueList& list, int count, int askFlag) {
  auto started = std::chrono::steady_clock::now();
  OptionList options;
  int queues = std::min(count, static_cast<int>(list.records.size()));
  for (int i = 0; i < queues; ++i) {
    const QueueRecord& queue = list.records[i];
    if (askFlag) {
      int answer = askYesNoAll(formatMessage(msg::kAskUpdateQueue, queue.name));
      if (answer == kAnswerBreak) return 1;
      if (answer == kAnswerAll) askFlag = 0;
      if (answer == kAnswerNo) continue;
    }
    updateQueue(ppdInstallDir, queue, options);
    freeOptionList(&options);
  }
  if (runSettings().debugLevel > 0) {
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    writeStderr(formatText("updateQueues: %d queues in %.3f s; %ld candidate PPD files opened.\n", queues,
                           took.count(), ppdCandidateFilesOpened()));
  }
  restartCups();
  return 1;
}

int installNewPpd(const std::string& ppdInstallDir, const OptionList& options, int optionCount,
                  const QueueRecord& queue, std::string& outName) {
  outName.clear();
  logMsg(msg::kProcessingQueuePpd, queue.name);
  std::string found;
  if (!findNewPpd(ppdInstallDir, queue, found)) {
    logMsg(msg::kPpdNotFound);
    return 0;
  }
  logIfAny(formatText("PPD = %s.\n", found.c_str()));
  RemoveOnExit cleanup;
  TempFile output;
  if (!makeTempFile(temporaryDirectory(), "zebot", "", output)) {
    logMsg(msg::kCannotOpenForQueue, temporaryDirectory() + "/zebot", queue.name);
    return 0;
  }
  cleanup.add(output.path);
  std::string plainPath = plainCopyOf(found, queue, cleanup);
  if (plainPath.empty()) return 0;
  auto text = transplantDefaults(plainPath, options, optionCount, queue);
  if (!text) return 0;
  if (text->empty() || !writeAll(output.fd.get(), *text) || !closeChecked(output.fd)) {
    logIfAny(formatText("%s was not completely written for the printer %s.\n", output.path.c_str(),
                        queue.name.c_str()));
    return 0;
  }
  logMsg(msg::kNewQueuePpdAt, queue.name, output.path);
  cleanup.keep(output.path);
  outName = output.path;
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
  const std::string& cp = runSettings().commands.cp;
  int status = runShell(formatText("%s -f %s %s", cp.c_str(), shellQuote(ppdPath).c_str(),
                                   shellQuote(backup).c_str()));
  logMsg(msg::kQueuePpdSaved, ppdPath, backup, status);
  return status == 0 ? 1 : 0;
}

int installQueuePpd(const std::string& ppdPath, const std::string& outName) {
  off_t size = fileSize(outName);
  if (size <= 0) {
    logIfAny(formatText("%s is missing or empty; %s is kept.\n", outName.c_str(), ppdPath.c_str()));
    return 0;
  }
  // Copied beside the queue's PPD first, so a rename can put it in place whole.
  TempFile beside;
  int status = -1;
  if (makeTempFile(directoryOf(ppdPath), ".zebot", "", beside)) {
    const std::string& cp = runSettings().commands.cp;
    status = runShell(formatText("%s -f %s %s", cp.c_str(), shellQuote(outName).c_str(),
                                 shellQuote(beside.path).c_str()));
    bool placed = status == 0 && descriptorSize(beside.fd.get()) == size &&
                  replaceWith(beside.path, beside.fd.get(), ppdPath);
    if (!placed) {
      ::unlink(beside.path.c_str());
      if (status == 0) status = -1;
    }
  }
  logMsg(msg::kQueuePpdCopied, outName, ppdPath, status);
  if (status != 0) logIfAny(formatText("%s keeps its PPD.\n", ppdPath.c_str()));
  return status == 0 ? 1 : 0;
}

void raiseConfigVersion(std::istream& in, std::ostream& out) {
  std::string line;
  while (readLinePiece(in, line)) {
    if (line.find(kOldConfigVersion) != std::string::npos) {
      out << kNewConfigVersion;
    } else {
      out << line;
    }
  }
}

int processPrinterConfig(const std::string& queueName) {
  std::string path = formatText(kConfigPathFormat, queueName.c_str());
  if (fileSize(path) < 0) return 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  std::ostringstream text;
  raiseConfigVersion(in, text);
  if (in.bad()) return 0;
  TempFile temp;
  if (!makeTempFile(directoryOf(path), "ZEB", "", temp)) return 0;
  if (!writeAll(temp.fd.get(), text.str()) || !replaceWith(temp.path, temp.fd.get(), path)) {
    ::unlink(temp.path.c_str());
    logIfAny(formatText("processPrinterConfig(%s): not rewritten, kept as it was.\n", queueName.c_str()));
    return 0;
  }
  logMsg(msg::kPrinterConfigUpdated, queueName);
  return 1;
}
