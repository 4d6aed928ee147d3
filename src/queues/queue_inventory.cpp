#include "queues/queue_inventory.h"

#include "install/fs_helpers.h"
#include "install/info_file.h"
#include "queues/model_table.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "sys/dir_listing.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

constexpr std::string_view kModelKeyword = "*ModelName:";
constexpr std::string_view kVersionComment = "*% Mivo version:";
// The PDL is told by the 8 characters that end just before the last one.
constexpr size_t kPdlWindow = 8;

int pdlKindOf(std::string_view line) {
  if (line.size() < kPdlWindow + 1) return PDL_NONE;
  std::string_view window = line.substr(line.size() - kPdlWindow - 1, kPdlWindow);
  if (contains(window, " PCL")) return PDL_PCL;
  if (contains(window, " PXL")) return PDL_PXL;
  if (contains(window, " PS")) return PDL_POSTSCRIPT;
  return PDL_NONE;
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
    case PDL_POSTSCRIPT: logMsg(msg::kPdlPostScript); break;
    case PDL_PCL: logMsg(msg::kPdlPcl); break;
    case PDL_PXL: logMsg(msg::kPdlPxl); break;
    default: break;
  }
}

// A name that looks meant for a queue's PPD but that no queue can have.
bool isNearMiss(const std::string& fileName) {
  return fileName.ends_with(".ppd") && !queueNameOfPpdFile(fileName);
}

}  // namespace

bool isUsableQueueName(const std::string& name) {
  if (name.size() > kQueueNameMax || name.find('/') != std::string::npos || name == "." || name == "..") return false;
  return name.find_first_not_of(" \t\n\r\f\v") != std::string::npos;
}

std::optional<std::string> queueNameOfPpdFile(const std::string& fileName) {
  if (!fileName.ends_with(".ppd")) return std::nullopt;
  std::string name = fileName.substr(0, fileName.size() - 4);
  if (!isUsableQueueName(name)) return std::nullopt;
  return name;
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

std::vector<QueueFile> queueFilesIn(const std::string& dir) {
  std::vector<QueueFile> files;
  std::optional<SafeDir> handle = SafeDir::open(dir);
  if (!handle) return files;
  for (const std::string& entry : listDirectoryAt(handle->fd())) {
    std::optional<std::string> name = queueNameOfPpdFile(entry);
    if (!name) {
      if (isNearMiss(entry)) logMsg(msg::kQueuePpdPassedOver, entry);
      continue;
    }
    if (entryType(handle->fd(), entry) == EntryType::Regular) files.push_back({*name, joinPath(dir, entry)});
  }
  return files;
}

std::optional<QueueRecord> productQueueOf(const QueueFile& file) {
  std::optional<ScannedPpd> found = scanQueuePpd(file.path);
  if (!found) return std::nullopt;
  return QueueRecord{found->model, file.path, file.name, found->id, found->kind};
}

int scanQueuePpds(QueueList& list, int& count, PpdCandidates& candidates) {
  count = 0;
  std::string dir = cupsPpdDirectory();
  if (!pathExists(dir)) return 0;
  // What a killed run left in the directories the update writes to goes first.
  removeLeftoverTemporaries(dir);
  removeLeftoverTemporaries(directoryOf(dir));
  for (const QueueFile& file : queueFilesIn(dir)) {
    std::optional<QueueRecord> record = productQueueOf(file);
    if (!record) continue;
    if (count == 0) {
      list.head() = *record;
    } else {
      list.records.push_back(*record);
    }
    ++count;
  }
  logQueueList(list, count);
  logPpdCandidates(candidates, runSettings().ppdInstallDir, list, count);
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
    logMsg(msg::kQueueModelId, queue.modelId);
    logPdlLine(queue.pdlKind);
  }
}

void logPpdCandidates(PpdCandidates& candidates, const std::string& dir, const QueueList& list, int count) {
  logMsg(msg::kCandidateCount, count);
  int shown = std::min<int>(count, static_cast<int>(list.records.size()));
  for (int i = 0; i < shown; ++i) {
    std::string found;
    if (findNewPpd(candidates, dir, list.records[i], found)) {
      logMsg(msg::kPpdFound, found);
    } else {
      logMsg(msg::kPpdNotFound);
    }
  }
}

int findModelPpd(PpdCandidates& candidates, const std::string& dir, const QueueRecord& queue, int kind, int id,
                 std::string& found) {
  logMsg(msg::kSearchingPpdDir, dir);
  for (const PpdCandidate& candidate : candidates.of(dir)) {
    if (candidate.model && candidate.model->starts_with(queue.model) && candidate.kind == kind && candidate.id == id) {
      found = candidate.path;
      return 1;
    }
  }
  return 0;
}

bool findNewPpd(PpdCandidates& candidates, const std::string& ppdInstallDir, const QueueRecord& queue,
                std::string& found) {
  return findModelPpd(candidates, ppdInstallDir, queue, queue.pdlKind, queue.modelId, found) ||
         findModelPpd(candidates, productPath("ppd"), queue, queue.pdlKind, queue.modelId, found);
}

int readInfoPrinters(int kind, QueueList& list) {
  std::string path = infoFilePath(runSettings().installDir, static_cast<UpdateKind>(kind == 1 ? 1 : 2));
  std::optional<std::string> text = readTrustedInfoFile(path);
  std::optional<std::vector<std::string>> names = text ? printersBlock(*text) : std::nullopt;
  if (!names) return 0;
  list = QueueList{};
  for (size_t i = 0; i < names->size(); ++i) {
    if (i == 0) {
      list.head().name = (*names)[0];
    } else {
      list.records.push_back(QueueRecord{"", "", (*names)[i], 0, PDL_NONE});
    }
  }
  runSettings().infoPrinterCount = static_cast<int>(names->size());
  return 1;
}
