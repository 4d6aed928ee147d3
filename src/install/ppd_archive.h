// Archive of the PPD directory before an update from the older version.
#pragma once

#include <string>

// -1 when the directory does not exist or no archive could be made, else
// the wait status of the archiver. An earlier archive of root's is never
// replaced; anything else at the archive's name is left alone and the
// archive is made under an exclusive name beside it.
int archivePpdFiles(const std::string& dir);

// The archive path, /var/tmp/MivoPPDFiles<version>.tar.
std::string ppdArchivePath();
// The shell script that archives the directory's entries into the archive.
std::string ppdArchiveScript(const std::string& dir, const std::string& archive);
