// The one process-wide record of settings and of what the run has found out.
// The run driver clears it at start and fills it as the run goes on; every
// other unit reads what it needs and writes only its own results. What a
// unit keeps while it works (lists, tables, indexes) belongs to the objects
// the driver hands it, so a second run in the same process starts from scratch.
#pragma once

#include <string>

#include "services/product.h"

// Paths are kept to what a 256-byte buffer holds on the hosts we install on.
constexpr size_t kPathMax = 255;

// Print systems, as detected on the host.
enum PrinterManagerKind {
  kPrinterUnknown = 0,
  kPrinterLp = 1,
  kPrinterLpr = 2,
  kPrinterLprng = 4,
  kPrinterCups = 8,
};

// What an installation run does to an installation found on the host.
enum class UpdateKind { NewInstall = 0, FromOlder = 1, Current = 2 };

// Resolved paths of the shared external commands. An empty chcon means the
// host has none; the others fall back to their bare names.
struct CommandTable {
  std::string chcon = "chcon";
  std::string cp = "cp";
  std::string rm = "rm";
  std::string gzip = "gzip";
  std::string lpadmin = "lpadmin";
  std::string lpstat = "lpstat";
  std::string cupsDataDir = "/etc/cups/";  // empty when the host has none
};

// The fixed places of the product on this host (tests move them).
struct Places {
  std::string productDir = kProductDir;
  std::string logPath = kLogPath;
  std::string reportDir = kReportDir;
  std::string recordDir = kRecordDir;
  std::string archiveDir = kArchiveDir;
  std::string filterLink = kFilterLink;
  std::string scratchDir = "/tmp";
};

struct RunSettings {
  std::string sourceDir;
  std::string installDir = kProductDir;
  std::string manifestName = kManifestName;
  std::string existingInstallDir;
  std::string logFileName = kLogPath;
  std::string cupsBaseDir;
  std::string cupsBinDir;
  std::string cupsModelDir;
  std::string systemPpdDir;
  std::string ppdInstallDir;
  std::string existingPpdDir;
  std::string selinuxEnabled;  // resolved selinuxenabled, empty when absent
  std::string startDir;        // the working directory the run started in
  CommandTable commands;
  Places places;

  int uid = 0;
  int gid = 0;
  int seLinuxMode = 0;
  int uninstallRequested = 0;
  int allowAnyDir = 1;
  int debugLevel = 0;
  int queryMode = 0;
  int printerManager = kPrinterUnknown;
  int noCupsDaemon = 0;
  int noFoomatic = 0;
  int abortRequested = 0;
  int logOpened = 0;
  int cupsVersion = 1000;
  int ppdLocationFlags = 0;
  int existingInstall = 0;
  UpdateKind updateKind = UpdateKind::NewInstall;
  int manifestCount = 0;
  int infoPrinterCount = 0;

  // Options beyond the product's own: a dry run changes nothing, a rollback
  // puts queues back on their saved PPDs, a strict status tells the outcome.
  bool dryRun = false;
  bool rollback = false;
  bool strictStatus = false;
};

RunSettings& runSettings();
// Back to the state of a fresh process (used at start and by tests).
void resetRunSettings();

// A path below the product directory, which is fixed whatever the
// installation directory is ("/opt/orv/ppd", "/opt/orv/NAME/root/mivoConfig").
std::string productPath(const std::string& relative);
// The scheduler's PPD directory: /etc/cups/ppd under the CUPS prefix.
std::string cupsPpdDirectory();
