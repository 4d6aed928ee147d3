// The product's fixed names and places, in one home. The places a run uses
// are in the run settings (tests point them into scratch directories); these
// are their values on every host.
#pragma once

#include <string>

inline constexpr const char* kProgramVersion = "4.0-11";
inline constexpr const char* kProductName = "Mivo 4.0";

// Where the product is installed unless told otherwise, and its programs.
inline constexpr const char* kProductDir = "/opt/orv";
inline constexpr const char* kProductBinDir = "/opt/orv/bin";
// The run log (a user other than root gets "_UID" added).
inline constexpr const char* kLogPath = "/var/log/Mivo4.0_UpdateLog";
// The report and the history of runs, and the record of what the product
// owns: in directories of their own that only root may write.
inline constexpr const char* kReportDir = "/var/log/mivo";
inline constexpr const char* kReportName = "Mivo4.0_UpdateReport.json";
inline constexpr const char* kHistoryName = "Mivo4.0_History.jsonl";
inline constexpr const char* kRecordDir = "/var/lib/mivo";
inline constexpr const char* kRecordName = "Mivo4.0_Record.json";
// The archive of the older release's PPD files.
inline constexpr const char* kArchiveDir = "/var/tmp";
// The product's filter, linked into the system's programs.
inline constexpr const char* kFilterLink = "/usr/bin/zebgsfilter";

// Files of an installation and of the distribution tree.
inline constexpr const char* kCurrentInfoName = "mivoInfo4.0";
inline constexpr const char* kOlderInfoName = "mivoInfo2.0";
inline constexpr const char* kManifestName = "MIVOINST.CONF";
inline constexpr const char* kHashListName = "MIVOINST.SHA256";

// The product's bin directory stands for the product directory itself.
inline std::string foldProductBinDir(const std::string& dir) { return dir == kProductBinDir ? kProductDir : dir; }
