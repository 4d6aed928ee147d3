#include "install/ppd_archive.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "services/effects.h"
#include "services/failure_text.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

// An earlier archive is root's own non-empty regular file: what another
// user put at the name proves nothing.
bool isEarlierArchive(const struct stat& info) {
  return S_ISREG(info.st_mode) && info.st_uid == 0 && info.st_size > 0;
}

// A name beside the archive that nothing holds yet.
std::string freeNameBeside(const std::string& archive) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned value = 0;
    if (::getrandom(&value, sizeof value, 0) != sizeof value) value = static_cast<unsigned>(::getpid()) + attempt;
    std::string candidate = formatText("%s.%06x", archive.c_str(), value & 0xFFFFFF);
    struct stat info {};
    if (::lstat(candidate.c_str(), &info) != 0) return candidate;
  }
  return archive + ".new";
}

}  // namespace

std::string ppdArchivePath() {
  return formatText("%s/MivoPPDFiles%s.tar", runSettings().places.archiveDir.c_str(), kProgramVersion);
}

std::string ppdArchiveScript(const std::string& dir, const std::string& archive) {
  // "--" keeps an entry named like an option from being read as one by tar.
  return "#!/bin/sh\nc=`pwd`\ncd " + shellQuote(dir) + "\ntar cf " + shellQuote(archive) + " -- *\ncd ${c}\n";
}

int archivePpdFiles(const std::string& dir) {
  if (!effects().exists(dir)) {
    logMsg(msg::kNoPpdDirToArchive, dir);
    return -1;
  }
  std::string archive = ppdArchivePath();
  struct stat info {};
  if (::lstat(archive.c_str(), &info) == 0) {
    // The archive holds the older release's PPD files, which nothing else keeps.
    if (isEarlierArchive(info)) {
      logMsg(msg::kArchiveKept, archive);
      return 0;
    }
    logMsg(msg::kArchiveNameTaken, archive);
    archive = freeNameBeside(archive);
  }
  Failure why;
  bool made = effects().makeFileByCommand(
      archive, [&dir](const std::string& scratch) { return ppdArchiveScript(dir, scratch); }, &why);
  ReportFile& file = runReport().addFile(archive, FileAction::Archive);
  if (!made) {
    logIfAny(withErrorMark(formatMessage(msg::kArchivingPpdFiles, dir)));
    logFailureMsg(msg::kNoArchiveMade, archive, describe(why));
    file.outcome = FileOutcome::Failed;
    file.detail = describe(why);
    return -1;
  }
  productRecord().archives.push_back(archive);
  logChange(formatMessage(msg::kArchivingPpdFiles, dir));
  logChange(formatMessage(msg::kArchivedInto, archive));
  return 0;
}
