#include "queues/ppd_candidates.h"

#include <cups/file.h>
#include <sys/stat.h>

#include <array>
#include <map>
#include <memory>

#include "queues/line_pieces.h"
#include "queues/queue_files.h"
#include "queues/queue_inventory.h"
#include "run/run_log.h"

namespace {

struct CupsFileCloser {
  void operator()(cups_file_t* file) const { cupsFileClose(file); }
};
using CupsFilePtr = std::unique_ptr<cups_file_t, CupsFileCloser>;

std::map<std::string, std::vector<PpdCandidate>> gIndex;
long gFilesOpened = 0;

bool isRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Reads the model of one candidate; "opened" tells whether message 47 is due.
PpdCandidate readCandidate(const std::string& path) {
  PpdCandidate candidate;
  candidate.path = path;
  // A directory or FIFO holds no model; opening a FIFO would block.
  if (::access(path.c_str(), F_OK) == 0 && !isRegularFile(path)) {
    candidate.opened = true;
    return candidate;
  }
  CupsFilePtr file(cupsFileOpen(path.c_str(), "r"));
  if (!file) return candidate;
  candidate.opened = true;
  ++gFilesOpened;
  std::array<char, kLinePieceMax + 1> line{};
  while (!cupsFileEOF(file.get()) && cupsFileGets(file.get(), line.data(), line.size())) {
    if (auto value = identifyModel(line.data(), candidate.kind, candidate.id)) {
      candidate.model = std::string(*value);
      break;
    }
  }
  return candidate;
}

void reportUnopened(const PpdCandidate& candidate) {
  if (!candidate.opened) writeStderr(formatMessage(msg::kCannotOpenCandidate, candidate.path));
}

bool matches(const PpdCandidate& candidate, const QueueRecord& queue, int kind, int id) {
  return candidate.model && candidate.model->starts_with(queue.model) && candidate.kind == kind &&
         candidate.id == id;
}

}  // namespace

const std::vector<PpdCandidate>& ppdCandidatesOf(const std::string& dir) {
  auto known = gIndex.find(dir);
  if (known != gIndex.end()) return known->second;
  std::vector<PpdCandidate> candidates;
  for (const std::string& name : listDirectory(dir)) candidates.push_back(readCandidate(dir + "/" + name));
  return gIndex.emplace(dir, std::move(candidates)).first->second;
}

void forgetPpdCandidates() { gIndex.clear(); }

long ppdCandidateFilesOpened() { return gFilesOpened; }

std::optional<std::string> readPpdModel(const std::string& path, int& kind, int& id) {
  PpdCandidate candidate = readCandidate(path);
  reportUnopened(candidate);
  if (!candidate.model) return std::nullopt;
  kind = candidate.kind;
  id = candidate.id;
  return candidate.model;
}

int findModelPpd(const std::string& dir, const QueueRecord& queue, int kind, int id,
                 std::string& found) {
  logMsg(msg::kSearchingPpdDir, dir);
  if (!pathExists(dir)) return 0;
  for (const PpdCandidate& candidate : ppdCandidatesOf(dir)) {
    reportUnopened(candidate);
    if (matches(candidate, queue, kind, id)) {
      found = candidate.path;
      return 1;
    }
  }
  return 0;
}
