#include "queues/ppd_candidates.h"

#include <cups/file.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstring>

#include <array>
#include <memory>

#include "queues/queue_inventory.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "sys/atomic_files.h"
#include "sys/dir_listing.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/paths.h"
#include "sys/text.h"

namespace {

struct CupsFileCloser {
  void operator()(cups_file_t* file) const { cupsFileClose(file); }
};
using CupsFilePtr = std::unique_ptr<cups_file_t, CupsFileCloser>;

// Reads the model of one candidate; "opened" tells whether message 47 is due.
PpdCandidate readCandidate(const std::string& path) {
  PpdCandidate candidate;
  candidate.path = path;
  // A directory or fifo holds no model; opening a fifo would block.
  if (::access(path.c_str(), F_OK) == 0 && !isRegularFile(path)) {
    candidate.opened = true;
    return candidate;
  }
  CupsFilePtr file(cupsFileOpen(path.c_str(), "r"));
  if (!file) return candidate;
  candidate.opened = true;
  ++runSettings().candidateFilesOpened;
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
  return candidate.model && candidate.model->starts_with(queue.model) && candidate.kind == kind && candidate.id == id;
}

// The names a directory lists, with the PPD files a dry run's installation
// would copy into it standing in for files of the same name.
std::vector<std::string> plannedPaths(const std::string& dir) {
  const RunSettings& s = runSettings();
  std::vector<std::string> paths;
  std::vector<std::string> copied;
  if (s.dryRun && dir == s.ppdInstallDir) {
    for (const InstallItem& item : s.installTable) {
      if (item.destination == "?") copied.push_back(s.sourceDir + "/" + item.source);
    }
  }
  for (const std::string& name : listDirectory(dir)) {
    bool replaced = false;
    for (const std::string& source : copied) replaced = replaced || lastComponent(source) == name;
    if (!replaced && !isOwnTemporaryName(name)) paths.push_back(dir + "/" + name);
  }
  paths.insert(paths.end(), copied.begin(), copied.end());
  return paths;
}

bool isGzip(std::string_view bytes) { return bytes.size() >= 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b'; }

// Inflates every gzip member of the bytes; false unless each one ends whole,
// its check sum and length verified, and nothing else follows.
bool gunzip(std::string_view bytes, std::string& out) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  std::array<char, 65536> chunk{};
  int status = Z_OK;
  while (status != Z_STREAM_END || stream.avail_in > 0) {
    if (status == Z_STREAM_END && inflateReset(&stream) != Z_OK) break;
    stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
    stream.avail_out = static_cast<uInt>(chunk.size());
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk.data(), chunk.size() - stream.avail_out);
    if (status != Z_OK && status != Z_STREAM_END) break;
  }
  inflateEnd(&stream);
  return status == Z_STREAM_END && stream.avail_in == 0;
}

}  // namespace

const std::vector<PpdCandidate>& ppdCandidatesOf(const std::string& dir) {
  PpdCandidateIndex& index = runSettings().candidateIndex;
  auto known = index.find(dir);
  if (known != index.end()) return known->second;
  std::vector<PpdCandidate> candidates;
  for (const std::string& path : plannedPaths(dir)) candidates.push_back(readCandidate(path));
  return index.emplace(dir, std::move(candidates)).first->second;
}

void forgetPpdCandidates() { runSettings().candidateIndex.clear(); }

long ppdCandidateFilesOpened() { return runSettings().candidateFilesOpened; }

std::optional<std::string> readPpdModel(const std::string& path, int& kind, int& id) {
  PpdCandidate candidate = readCandidate(path);
  reportUnopened(candidate);
  if (!candidate.model) return std::nullopt;
  kind = candidate.kind;
  id = candidate.id;
  return candidate.model;
}

int findModelPpd(const std::string& dir, const QueueRecord& queue, int kind, int id, std::string& found) {
  logMsg(msg::kSearchingPpdDir, dir);
  const RunSettings& s = runSettings();
  bool planned = s.dryRun && dir == s.ppdInstallDir;
  if (!pathExists(dir) && !planned) return 0;
  for (const PpdCandidate& candidate : ppdCandidatesOf(dir)) {
    reportUnopened(candidate);
    if (matches(candidate, queue, kind, id)) {
      found = candidate.path;
      return 1;
    }
  }
  return 0;
}

bool readPpdText(const std::string& path, std::string& text, std::string& why) {
  text.clear();
  int error = 0;
  std::optional<std::string> bytes = readWholeFile(path, &error);
  if (!bytes) {
    why = "'" + path + "' cannot be read: " + std::strerror(error);
    return false;
  }
  if (!isGzip(*bytes)) {
    text = std::move(*bytes);
    return true;
  }
  if (!gunzip(*bytes, text)) {
    why = "'" + path + "' is not a whole gzip stream (cut short, or its check sum does not match)";
    return false;
  }
  return true;
}
