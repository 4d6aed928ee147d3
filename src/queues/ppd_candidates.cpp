#include "queues/ppd_candidates.h"

#include <cups/file.h>
#include <zlib.h>

#include <array>
#include <memory>

#include "queues/queue_inventory.h"
#include "services/effects.h"
#include "services/failure_text.h"
#include "services/run_log.h"
#include "services/terminal.h"
#include "sys/atomic_files.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/paths.h"
#include "sys/text.h"

namespace {

struct CupsFileCloser {
  void operator()(cups_file_t* file) const { cupsFileClose(file); }
};
using CupsFilePtr = std::unique_ptr<cups_file_t, CupsFileCloser>;

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

PpdCandidate PpdCandidates::read(const std::string& path) {
  PpdCandidate candidate;
  candidate.path = path;
  // A copy this run only plans is read from its source.
  std::string content = effects().contentPathOf(path);
  // A directory or fifo holds no model; opening a fifo would block.
  if (pathExists(content) && !isRegularFile(content)) {
    candidate.opened = true;
    return candidate;
  }
  CupsFilePtr file(cupsFileOpen(content.c_str(), "r"));
  if (!file) return candidate;
  candidate.opened = true;
  ++filesOpened_;
  std::array<char, kLinePieceMax + 1> line{};
  while (!cupsFileEOF(file.get()) && cupsFileGets(file.get(), line.data(), line.size())) {
    if (auto value = identifyModel(line.data(), candidate.kind, candidate.id)) {
      candidate.model = std::string(*value);
      break;
    }
  }
  return candidate;
}

const std::vector<PpdCandidate>& PpdCandidates::of(const std::string& dir) {
  auto known = index_.find(dir);
  if (known != index_.end()) return known->second;
  std::vector<PpdCandidate> candidates;
  for (const std::string& name : effects().entriesOf(dir)) {
    if (isOwnTemporaryName(name)) continue;
    candidates.push_back(read(joinPath(dir, name)));
    if (!candidates.back().opened) writeStderr(formatMessage(msg::kCannotOpenCandidate, candidates.back().path));
  }
  return index_.emplace(dir, std::move(candidates)).first->second;
}

bool readPpdText(const std::string& path, std::string& text, std::string& why) {
  text.clear();
  int error = 0;
  std::optional<std::string> bytes = readWholeFile(effects().contentPathOf(path), &error);
  if (!bytes) {
    why = describe(Failure{FailureKind::CannotRead, path, error});
    return false;
  }
  if (!isGzip(*bytes)) {
    text = std::move(*bytes);
    return true;
  }
  if (!gunzip(*bytes, text)) {
    why = formatMessage(msg::kNotWholeGzip, path);
    return false;
  }
  return true;
}
