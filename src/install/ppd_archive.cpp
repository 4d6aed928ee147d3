#include "install/ppd_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/run_driver.h"
#include "services/run_log.h"
#include "services/shell.h"
#include "sys/file_handles.h"
#include "sys/temp_files.h"
#include "sys/text.h"

namespace {

bool entryExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Puts the finished archive at its name, which must still be free: linkat
// never replaces what another hand may have put there meanwhile.
bool publish(const std::string& temp, const std::string& archive) {
  FdHolder file(::open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || info.st_size == 0 || ::fsync(file.get()) != 0) return false;
  if (::linkat(AT_FDCWD, temp.c_str(), AT_FDCWD, archive.c_str(), 0) != 0) return false;
  FdHolder dir(::open(directoryOf(archive).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

}  // namespace

std::string ppdArchivePath() { return formatText("/var/tmp/MivoPPDFiles%s.tar", kProgramVersion); }

std::string ppdArchiveScript(const std::string& dir, const std::string& archive) {
  // "--" keeps an entry named like an option from being read as one by tar.
  return "#!/bin/sh\nc=`pwd`\ncd " + shellQuote(dir) + "\ntar cf " + shellQuote(archive) + " -- *\ncd ${c}\n";
}

int archivePpdFiles(const std::string& dir) {
  if (::access(dir.c_str(), F_OK) != 0) {
    logMsg(msg::kNoPpdDirToArchive, dir);
    return -1;
  }
  std::string archive = ppdArchivePath();
  // The archive holds the older release's PPD files, which nothing else keeps.
  if (entryExists(archive)) {
    logMessage("The archive " + archive + " of an earlier update is kept; it is not made again.");
    return 0;
  }
  // tar writes into a new file of our own in the shared /var/tmp, never
  // through a link someone planted at a fixed name.
  TempFile temp;
  int status = -1;
  if (makeTempFile(directoryOf(archive), "." + lastComponent(archive) + ".", "", temp)) {
    temp.fd.reset();
    status = runShell(ppdArchiveScript(dir, temp.path));
    bool published = publish(temp.path, archive);
    ::unlink(temp.path.c_str());
    if (published) {
      logMsg(msg::kArchivingPpdFiles, dir);
      logMsg(msg::kArchivedInto, archive);
      return status;
    }
  }
  logIfAny(withErrorMark(formatMessage(msg::kArchivingPpdFiles, dir)));
  logFailure("\tNo archive of the PPD files was made at " + archive + ".");
  return status == 0 ? -1 : status;
}
