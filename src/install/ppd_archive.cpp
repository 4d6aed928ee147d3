#include "install/ppd_archive.h"

#include <unistd.h>

#include "install/fs_helpers.h"
#include "run/run_driver.h"
#include "run/run_log.h"
#include "run/shell.h"

std::string ppdArchivePath() {
  return formatText("/var/tmp/MivoPPDFiles%s.tar", kProgramVersion);
}

std::string ppdArchiveScript(const std::string& dir, const std::string& archive) {
  // "--" keeps an entry named like an option from being read as one by tar.
  return "#!/bin/sh\nc=`pwd`\ncd " + shellQuote(dir) + "\ntar cf " + shellQuote(archive) +
         " -- *\ncd ${c}\n";
}

int archivePpdFiles(const std::string& dir) {
  if (::access(dir.c_str(), F_OK) != 0) {
    logMsg(msg::kNoPpdDirToArchive, dir);
    return -1;
  }
  std::string archive = ppdArchivePath();
  // /var/tmp is shared: tar must write into our own new file, never through
  // a link that someone planted at the fixed name.
  int status = createExclusiveFile(archive) ? runShell(ppdArchiveScript(dir, archive)) : -1;
  logMsg(msg::kArchivingPpdFiles, dir);
  logMsg(msg::kArchivedInto, archive);
  return status;
}
