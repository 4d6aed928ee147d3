#include "queues/queue_inventory.h"

#include <cstdlib>

#include "queues/model_table.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "sys/atomic_files.h"
#include "sys/dir_listing.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"

namespace {

constexpr std::string_view kModelKeyword = "*ModelName:";
constexpr std::string_view kVersionComment = "*% Mivo version:";
// The PDL is told by the 8 characters that end just before the last one.
constexpr size_t kPdlWindow = 8;
constexpr const char* kPrintersBegin = "%%ZEBBLOCK_PRINTERS_BEGIN";
constexpr const char* kPrintersEnd = "%%ZEBBLOCK_PRINTERS_END";
constexpr size_t kInfoTrimLength = 256;

int pdlKindOf(std::string_view line) {
  std::string_view window = line.substr(line.size() - kPdlWindow - 1, kPdlWindow);
  if (window.find(" PCL") != std::string_view::npos) return PDL_PCL;
  if (window.find(" PXL") != std::string_view::npos) return PDL_PXL;
  if (window.find(" PS") != std::string_view::npos) return PDL_POSTSCRIPT;
  return PDL_NONE;
}

// The queue name of a PPD file name: up to its first ".ppd", at most 79 bytes.
std::string queueNameOf(const std::string& fileName) {
  std::string name = fileName.substr(0, fileName.find(".ppd"));
  if (name.size() > kQueueNameMax) name.resize(kQueueNameMax);
  return name;
}

struct ScannedPpd {
  std::string model;
  int kind = PDL_NONE;
  int id = 0;
  int version = 0;
};

// Looks for the model line and the version comment within the first reads.
std::optional<ScannedPpd> scanQueuePpd(const std::string& path) {
  FilePtr file = openRegularFile(path);
  if (!file) return std::nullopt;
  ScannedPpd found;
  bool haveModel = false;
  bool haveVersion = false;
  std::string piece;
  for (int reads = 0; reads < kQueueScanReads && readLinePiece(file.get(), piece); ++reads) {
    std::string_view line = upToNul(piece);
    if (!haveModel) {
      int kind = found.kind;
      int id = found.id;
      if (auto value = identifyModel(line, kind, id)) {
        found.model = std::string(*value);
        found.kind = kind;
        found.id = id;
        haveModel = true;
      }
    }
    if (!haveVersion) {
      int version = readMivoVersion(line);
      if (version > 0) {
        found.version = version;
        haveVersion = true;
      }
    }
    if (haveModel && haveVersion) break;
  }
  if (!haveModel || found.version != kQueuePpdVersion || found.kind == PDL_NONE) return std::nullopt;
  trimLineEnd(found.model);
  return found;
}

void logPdlLine(int kind) {
  switch (kind) {
    case PDL_POSTSCRIPT: logMessage("\tPDL    : PostScript."); break;
    case PDL_PCL: logMessage("\tPDL    : PCL."); break;
    case PDL_PXL: logMessage("\tPDL    : PXL."); break;
    default: break;
  }
}

std::string infoFilePath(int kind) {
  const char* fileName = kind == 1 ? "mivoInfo2.0" : "mivoInfo4.0";
  return runSettings().installDir + "/" + fileName;
}

// A line of the information file without its line end; the CR of a CR LF
// file goes too, so that its markers and names read as in any other file.
bool readTrimmedLine(std::FILE* file, std::string& line) {
  if (!readLinePiece(file, line)) return false;
  line.resize(upToNul(line).size());
  if (line.ends_with("\r\n")) line.erase(line.size() - 2, 1);
  trimTrailing(line, kInfoTrimLength);
  if (line.ends_with('\r')) line.pop_back();
  return true;
}

// What a killed run left in the directories the update writes to.
void removeLeftoverTemporaries(const std::string& ppdDir) {
  if (runSettings().dryRun) return;
  for (const std::string& dir : {ppdDir, directoryOf(ppdDir)}) {
    std::optional<SafeDir> handle = SafeDir::open(dir);
    int removed = handle ? removeStaleTemporaries(*handle) : 0;
    if (removed > 0)
      logMessage(formatText("Removed %d temporary file(s) that an interrupted run left in %s.", removed, dir.c_str()));
  }
}

// An entry that cannot be a queue of ours: a temporary file of ours, or a
// name that would not make a usable queue name (logged).
bool passedOver(const std::string& entry, const std::string& name) {
  if (isOwnTemporaryName(entry)) return true;
  if (isUsableQueueName(name)) return false;
  logMessage("Queue PPD passed over, its name cannot name a queue or a file: '" + entry + "'.");
  return true;
}

// Reads the names up to the end marker into the list; the number read.
int readPrinterNames(std::FILE* file, QueueList& list) {
  int read = 0;
  std::string line;
  while (readTrimmedLine(file, line) && line != kPrintersEnd) {
    if (line.size() > kQueueNameMax) line.resize(kQueueNameMax);
    if (read == 0) {
      list.head().name = line;
      list.head().pdlKind = PDL_NONE;
    } else {
      QueueRecord record;
      record.name = line;
      addPList(&list, record);
    }
    ++read;
  }
  return read;
}

}  // namespace

std::string cupsPpdDirectory() {
  const std::string& base = runSettings().cupsBaseDir;
  if (base.empty() || base == "/") return "/etc/cups/ppd";
  return base + "/etc/cups/ppd";
}

std::optional<std::string_view> identifyModel(std::string_view line, int& kind, int& id) {
  size_t keyword = line.find(kModelKeyword);
  if (keyword == std::string_view::npos) return std::nullopt;
  std::string_view value = line.substr(keyword + kModelKeyword.size());
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  const ModelEntry* entry = findModelEntry(value);
  kind = pdlKindOf(line);
  if (!entry) return std::nullopt;
  id = entry->modelId;
  return value;
}

int readMivoVersion(std::string_view line) {
  size_t comment = line.find(kVersionComment);
  if (comment == std::string_view::npos) return -1;
  std::string_view rest = line.substr(comment + kVersionComment.size());
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.empty() || rest.front() < '0' || rest.front() > '9') return -1;
  return rest.front() - '0';
}

void trimTrailing(std::string& text, size_t n) {
  size_t end = std::min(text.size(), n);
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\n')) --end;
  text.resize(end);
}

void trimLineEnd(std::string& text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
}

int scanQueuePpds(QueueList& list, int& count) {
  count = 0;
  std::string dir = cupsPpdDirectory();
  if (!pathExists(dir)) return 0;
  removeLeftoverTemporaries(dir);
  for (const std::string& entry : listDirectory(dir)) {
    std::string path = dir + "/" + entry;
    auto found = scanQueuePpd(path);
    if (!found || passedOver(entry, queueNameOf(entry))) continue;
    QueueRecord record;
    record.model = found->model;
    record.ppdPath = path;
    record.name = queueNameOf(entry);
    record.modelId = found->id;
    record.pdlKind = found->kind;
    if (count == 0) {
      list.head() = record;
    } else {
      addPList(&list, record);
    }
    ++count;
  }
  logQueueList(list, count);
  logPpdCandidates(runSettings().ppdInstallDir, list, count);
  return count > 0 ? 1 : 0;
}

void logQueueList(const QueueList& list, int count) {
  logMsg(msg::kQueueCount, count);
  int shown = std::min<int>(count, static_cast<int>(list.records.size()));
  for (int i = 0; i < shown; ++i) {
    const QueueRecord& queue = list.records[i];
    if (queue.name.empty()) {
      logMsg(msg::kQueueUnnamed);
    } else {
      logMsg(msg::kQueueNamed, queue.name);
    }
    logMsg(msg::kQueuePpdFile, queue.ppdPath);
    logMsg(msg::kQueueModel, queue.model);
    logIfAny(formatText("\tTamra ID: %d.\n", queue.modelId));
    logPdlLine(queue.pdlKind);
  }
}

void logPpdCandidates(const std::string& dir, const QueueList& list, int count) {
  logMsg(msg::kCandidateCount, count);
  int shown = std::min<int>(count, static_cast<int>(list.records.size()));
  for (int i = 0; i < shown; ++i) {
    const QueueRecord& queue = list.records[i];
    std::string found;
    if (findModelPpd(dir, queue, queue.pdlKind, queue.modelId, found) ||
        findModelPpd(kProductPpdDir, queue, queue.pdlKind, queue.modelId, found)) {
      logIfAny(formatText("PPD = %s.\n", found.c_str()));
    } else {
      logMsg(msg::kPpdNotFound);
    }
  }
}

int readInfoPrinters(int kind, QueueList& list) {
  FilePtr file = openRegularFile(infoFilePath(kind));
  if (!file) return 0;
  std::string line;
  while (readTrimmedLine(file.get(), line)) {
    if (line != kPrintersBegin) continue;
    freeQueueList(&list);
    int read = readPrinterNames(file.get(), list);
    runSettings().infoPrinterCount = read == 0 ? 0 : static_cast<int>(list.records.size());
    return 1;
  }
  return 0;
}

void addPList(QueueList* list, const QueueRecord& record) {
  if (!list) {
    writeStderr("addPList(NULL,...) Error!\n");
    std::exit(1);
  }
  list->records.push_back(record);
}

int freeQueueList(QueueList* list) {
  list->records.resize(1);
  return 0;
}

int clearQueueList(QueueList* list) {
  if (list) *list = QueueList{};
  return 0;
}

bool isUsableQueueName(const std::string& name) {
  if (name.find('/') != std::string::npos || name == "." || name == "..") return false;
  return name.find_first_not_of(" \t\n\r\f\v") != std::string::npos;
}
