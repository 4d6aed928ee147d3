#include "services/run_report.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app/run_driver.h"
#include "services/run_settings.h"
#include "sys/atomic_files.h"
#include "sys/product.h"
#include "sys/text.h"

namespace {

using nlohmann::json;

// Strictly valid UTF-8 as JSON wants it (no overlong forms, no surrogates).
bool isUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t extra = c < 0x80                   ? 0
                   : (c >= 0xC2 && c <= 0xDF) ? 1
                   : (c >= 0xE0 && c <= 0xEF) ? 2
                   : (c >= 0xF0 && c <= 0xF4) ? 3
                                              : 9;
    if (extra == 9 || i + extra >= bytes.size() + (extra == 0)) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    unsigned char next = extra ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) || (c == 0xF0 && next < 0x90) ||
        (c == 0xF4 && next >= 0x90))
      return false;
    i += extra + 1;
  }
  return true;
}

std::string isoTime(std::time_t when) {
  std::tm utc{};
  ::gmtime_r(&when, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string printSystemName(int kind) {
  switch (kind) {
    case kPrinterLp: return "LP";
    case kPrinterLpr: return "LPR";
    case kPrinterLprng: return "LPRNG";
    case kPrinterCups: return "CUPS";
    default: return "unknown";
  }
}

json hostFacts() {
  const RunSettings& s = runSettings();
  return {
      {"printSystem", printSystemName(s.printerManager)},
      {"cupsVersion", s.printerManager == kPrinterCups ? json(s.cupsVersion) : json(nullptr)},
      {"cupsBinDir", utf8Text(s.cupsBinDir)},
      {"cupsBaseDir", utf8Text(s.cupsBaseDir)},
      {"seLinux", s.seLinuxMode != 0},
      {"foomaticRip", s.noFoomatic == 0},
      {"ppdDirectories",
       {{"cupsModel", utf8Text(s.cupsModelDir)},
        {"system", utf8Text(s.systemPpdDir)},
        {"install", utf8Text(s.ppdInstallDir)},
        {"existing", utf8Text(s.existingPpdDir)}}},
  };
}

json defaultsJson(const std::vector<ReportDefault>& defaults, bool withReason) {
  json list = json::array();
  for (const ReportDefault& d : defaults) {
    json item = {{"option", utf8Text(d.option)}, {"value", utf8Text(d.value)}};
    if (withReason) item["reason"] = d.reason;
    list.push_back(item);
  }
  return list;
}

json queueJson(const ReportQueue& q) {
  return {{"name", utf8Text(q.name)},
          {"oldPpd", utf8Text(q.oldPpd)},
          {"newPpd", utf8Text(q.newPpd)},
          {"backup", utf8Text(q.backup)},
          {"defaultsCarried", defaultsJson(q.carried, false)},
          {"defaultsNotCarried", defaultsJson(q.notCarried, true)},
          {"outcome", q.outcome},
          {"detail", utf8Text(q.detail)}};
}

bool failedQueue(const ReportQueue& q) { return q.outcome == "failed"; }
bool failedFile(const ReportFile& f) { return f.outcome == "failed"; }

}  // namespace

std::string utf8Text(std::string_view bytes) {
  if (isUtf8(bytes)) return std::string(bytes);
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void RunReport::start(std::string kind) {
  *this = RunReport{};
  kind_ = std::move(kind);
  started_ = std::time(nullptr);
}

ReportFile& RunReport::addFile(std::string path, std::string action) {
  files_.push_back({std::move(path), std::move(action), "ok", ""});
  return files_.back();
}

ReportQueue& RunReport::addQueue(std::string name) {
  queues_.push_back({});
  queues_.back().name = std::move(name);
  return queues_.back();
}

ReportQueue& RunReport::queueEntry(const std::string& name) {
  if (!queues_.empty() && queues_.back().name == name) return queues_.back();
  return addQueue(name);
}

void RunReport::addError(std::string_view line) {
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  errors_.push_back(std::move(text));
}

void RunReport::markAborted(std::string reason) {
  if (!stop_.empty()) return;
  stop_ = "aborted";
  stopReason_ = std::move(reason);
}

void RunReport::markRefused(std::string reason) {
  if (!stop_.empty()) return;
  stop_ = "refused";
  stopReason_ = std::move(reason);
}

std::string RunReport::outcome() const {
  if (!stop_.empty()) return stop_;
  bool failures = !errors_.empty() || std::any_of(queues_.begin(), queues_.end(), failedQueue) ||
                  std::any_of(files_.begin(), files_.end(), failedFile);
  return failures ? "partial" : "ok";
}

std::string RunReport::toJson() const {
  const RunSettings& s = runSettings();
  json files = json::array();
  for (const ReportFile& f : files_) {
    files.push_back(
        {{"path", utf8Text(f.path)}, {"action", f.action}, {"outcome", f.outcome}, {"detail", utf8Text(f.detail)}});
  }
  json queues = json::array();
  for (const ReportQueue& q : queues_) queues.push_back(queueJson(q));
  json errors = json::array();
  for (const std::string& e : errors_) errors.push_back(utf8Text(e));
  json report = {
      {"schemaVersion", kReportSchemaVersion},
      {"program", {{"name", "setup"}, {"version", kProgramVersion}}},
      {"kind", kind_},
      {"started", isoTime(started_)},
      {"finished", isoTime(std::time(nullptr))},
      {"outcome", outcome()},
      {"reason", utf8Text(stopReason_)},
      {"host", hostFacts()},
      {"installDir", utf8Text(s.installDir)},
      {"updateKind", s.updateKind},
      {"files", files},
      {"queues", queues},
      {"errors", errors},
  };
  return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

RunReport& runReport() {
  static RunReport report;
  return report;
}

bool writeRunReport(int uid, std::string* path) {
  std::string name = lastComponent(kReportPath) + (uid != 0 ? formatText("_%d", uid) : "");
  if (path) *path = directoryOf(kReportPath) + "/" + name;
  std::optional<SafeDir> dir = SafeDir::open(directoryOf(kReportPath));
  if (dir && uid == 0) removeStaleTemporaries(*dir);
  FileAccess access;
  access.mode = 0644;
  return dir && writeFileAtomically(*dir, name, runReport().toJson(), access, nullptr, LinkAtTarget::Replace);
}
