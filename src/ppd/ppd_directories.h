// Where this host keeps PPD files.
#pragma once

#include <string>

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

// 1 when the path exists and, links followed, is a directory.
int isDirectory(const std::string& path);
int findCupsModelDir();
int findSystemPpdDir();
// Fills the PPD directory settings, logs the summary block, returns the flags.
int findPpdDirectories(std::string& existingPpdDir);
