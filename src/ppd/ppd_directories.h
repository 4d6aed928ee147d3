// Where this host keeps PPD files.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sys/paths.h"

enum PpdLocation {
  PPDLOC_MODEL_DIR = 0x001,
  PPDLOC_FOOMATIC = 0x002,
  PPDLOC_FOOMATIC_TAMRA = 0x004,
  PPDLOC_CUSTOM = 0x008,
  PPDLOC_USR_SHARE = 0x010,
  PPDLOC_OPT_SHARE = 0x020,
  PPDLOC_SYSTEM_DIR = 0x040,
  PPDLOC_FOOMATIC_ORV = 0x080,
  PPDLOC_DISTRO_TREE = 0x100,
  PPDLOC_OPENPRINTING = 0x200,
};

int findCupsModelDir();
int findSystemPpdDir();
// Fills the PPD directory settings, logs the summary block, returns the flags.
int findPpdDirectories(std::string& existingPpdDir);

// What the probed directories say about the host, worked out from a test
// that tells which paths are directories.
struct PpdDirectoryFacts {
  std::string cupsModelDir;
  std::string systemPpdDir;
  int flags = 0;
  std::string existingPpdDir;  // empty when the product has no PPD directory yet
  std::string proposal;        // empty when nothing is proposed
};
using DirectoryTest = std::function<bool(const std::string&)>;
PpdDirectoryFacts surveyPpdDirectories(const DirectoryTest& isDir);
// The lines of the summary block in the run log.
std::vector<std::string> ppdSummaryLines(const PpdDirectoryFacts& facts);
