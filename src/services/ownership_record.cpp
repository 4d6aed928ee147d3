#include "services/ownership_record.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "services/failure_text.h"
#include "services/product.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "sys/atomic_files.h"
#include "sys/file_reading.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

using nlohmann::json;

constexpr std::string_view kHexPrefix = "hex:";

// Paths and names are bytes; JSON holds UTF-8. Anything else is kept as hex.
std::string encoded(const std::string& bytes) {
  if (isUtf8(bytes) && !bytes.starts_with(kHexPrefix)) return bytes;
  std::string hex(kHexPrefix);
  for (unsigned char c : bytes) hex += formatText("%02x", c);
  return hex;
}

std::string decoded(const std::string& text) {
  if (!text.starts_with(kHexPrefix)) return text;
  std::string bytes;
  for (size_t i = kHexPrefix.size(); i + 1 < text.size(); i += 2)
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  return bytes;
}

json stringsJson(const std::vector<std::string>& values) {
  json list = json::array();
  for (const std::string& v : values) list.push_back(encoded(v));
  return list;
}

std::vector<std::string> stringsOf(const json& list) {
  std::vector<std::string> values;
  for (const json& v : list) values.push_back(decoded(v.get<std::string>()));
  return values;
}

struct RecordState {
  OwnershipRecord record;
  bool found = false;
};

RecordState& state() {
  static RecordState current;
  return current;
}

std::string recordPath() { return joinPath(runSettings().places.recordDir, kRecordName); }

}  // namespace

const RecordedFile* OwnershipRecord::file(const std::string& path) const {
  auto it = std::find_if(files.begin(), files.end(), [&path](const RecordedFile& f) { return f.path == path; });
  return it == files.end() ? nullptr : &*it;
}

void OwnershipRecord::setFile(const RecordedFile& entry) {
  forgetFile(entry.path);
  files.push_back(entry);
}

void OwnershipRecord::forgetFile(const std::string& path) {
  std::erase_if(files, [&path](const RecordedFile& f) { return f.path == path; });
}

const RecordedQueue* OwnershipRecord::queue(const std::string& name) const {
  auto it = std::find_if(queues.begin(), queues.end(), [&name](const RecordedQueue& q) { return q.name == name; });
  return it == queues.end() ? nullptr : &*it;
}

RecordedQueue& OwnershipRecord::queueEntry(const std::string& name) {
  auto it = std::find_if(queues.begin(), queues.end(), [&name](const RecordedQueue& q) { return q.name == name; });
  if (it != queues.end()) return *it;
  queues.push_back({name, "", "", "", ""});
  return queues.back();
}

bool OwnershipRecord::madeDirectory(const std::string& path) const {
  return std::find(directoriesMade.begin(), directoriesMade.end(), path) != directoriesMade.end();
}

void OwnershipRecord::addMadeDirectory(const std::string& path) {
  if (!madeDirectory(path)) directoriesMade.push_back(path);
}

void OwnershipRecord::forgetDirectory(const std::string& path) {
  std::erase_if(directoriesMade, [&path](const std::string& d) { return isAtOrBelow(d, path); });
  std::erase_if(files, [&path](const RecordedFile& f) { return isAtOrBelow(f.path, path); });
}

void OwnershipRecord::addRun(const std::string& historyLine) {
  runs.push_back(std::string(withoutLineEnd(historyLine)));
  if (runs.size() > kRecordedRuns) runs.erase(runs.begin(), runs.end() - kRecordedRuns);
}

std::string recordJson(const OwnershipRecord& record) {
  json files = json::array();
  for (const RecordedFile& f : record.files)
    files.push_back({{"path", encoded(f.path)}, {"sha256", f.sha256}, {"mode", formatText("%04o", f.mode)}});
  json queues = json::array();
  for (const RecordedQueue& q : record.queues) {
    queues.push_back({{"name", encoded(q.name)},
                      {"ppd", encoded(q.ppd)},
                      {"ppdSha256", q.ppdSha256},
                      {"backup", encoded(q.backup)},
                      {"backupSha256", q.backupSha256}});
  }
  json runs = json::array();
  for (const std::string& line : record.runs) runs.push_back(json::parse(line, nullptr, false));
  json text = {{"schemaVersion", kRecordSchemaVersion},
               {"product", kProductName},
               {"version", kProgramVersion},
               {"installDir", encoded(record.installDir)},
               {"installDirMade", record.installDirMade},
               {"directoriesMade", stringsJson(record.directoriesMade)},
               {"files", files},
               {"queues", queues},
               {"archives", stringsJson(record.archives)},
               {"runs", runs}};
  return text.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<OwnershipRecord> parseRecord(std::string_view text, std::string* why) {
  try {
    json j = json::parse(text);
    if (j.at("schemaVersion").get<int>() != kRecordSchemaVersion) throw std::runtime_error("another schema version");
    OwnershipRecord record;
    record.installDir = decoded(j.at("installDir").get<std::string>());
    record.installDirMade = j.at("installDirMade").get<bool>();
    record.directoriesMade = stringsOf(j.at("directoriesMade"));
    for (const json& f : j.at("files")) {
      record.files.push_back({decoded(f.at("path").get<std::string>()), f.at("sha256").get<std::string>(),
                              static_cast<unsigned>(std::stoul(f.at("mode").get<std::string>(), nullptr, 8))});
    }
    for (const json& q : j.at("queues")) {
      record.queues.push_back({decoded(q.at("name").get<std::string>()), decoded(q.at("ppd").get<std::string>()),
                               q.at("ppdSha256").get<std::string>(), decoded(q.at("backup").get<std::string>()),
                               q.at("backupSha256").get<std::string>()});
    }
    record.archives = stringsOf(j.at("archives"));
    for (const json& run : j.at("runs")) record.runs.push_back(run.dump());
    return record;
  } catch (const std::exception& error) {
    if (why) *why = error.what();
    return std::nullopt;
  }
}

OwnershipRecord& productRecord() { return state().record; }

bool productRecordFound() { return state().found; }

void resetProductRecord(bool found) { state() = RecordState{OwnershipRecord{}, found}; }

void loadProductRecord() {
  resetProductRecord();
  std::string path = recordPath();
  std::optional<SafeDir> dir = SafeDir::open(runSettings().places.recordDir);
  struct stat info {};
  if (!dir || entryType(dir->fd(), kRecordName, &info) == EntryType::Missing) {
    logMsg(msg::kNoRecord, path);
    return;
  }
  FdHolder fd(::openat(dir->fd(), kRecordName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  std::optional<std::string> text;
  if (fd.get() >= 0 && dir->rootOnly() && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && isRootOnly(info))
    text = readWholeDescriptor(fd.get());
  std::optional<OwnershipRecord> record = text ? parseRecord(*text) : std::nullopt;
  if (!record) {
    std::string why = text ? formatMessage(msg::kNotARecord) : describe(Failure{FailureKind::NotRootOnly, path, 0});
    logFailureMsg(msg::kRecordNotBelieved, path, why);
    return;
  }
  state() = RecordState{std::move(*record), true};
}

bool saveProductRecord(Failure* why) {
  std::optional<SafeDir> dir = openRootOnlyDirectory(runSettings().places.recordDir, why);
  FileAccess access;
  access.mode = 0644;
  return dir && writeFileAtomically(*dir, kRecordName, recordJson(productRecord()), access, why);
}
