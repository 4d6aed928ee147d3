// The CUPS version and data directory of the host, and temporary files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The version as four digits: from the scheduler's HTTP answer, else from
// local evidence, else 1400.
int probeCupsVersion();
// The raw version of the scheduler's "Server:" header on port 631, or 0.
int probeCupsHttpVersion();
// The normalised version from local evidence, or 1400.
int probeCupsLocalVersion();
// Brings a positive version to four digits (14 -> 1400, 24200 -> 2420).
int normalizeCupsVersion(int version);
// The CUPS directory for a key; only "datadir" is asked for.
std::optional<std::string> queryCupsDir(std::string_view key);
// Makes a new empty file "DIR/ZEBxxxxxx" and returns its path; nothing (a
// failure logged) when it cannot.
std::optional<std::string> myTmpName(const std::string& dir, const char* name);

// The raw version that a "Server: ... CUPS/x.y" header line gives
// (CUPS/2.4 -> 240, CUPS/1.3.1 -> 130); nothing when the line does not count.
std::optional<int> serverHeaderVersion(std::string_view line);
// The number that a version's digits make, '.' skipped ("2.4.2" -> 242);
// 0 when the text does not start with a digit or '.'.
long digitTextValue(std::string_view text);

// Where the digit text starts on a line of each local source; nothing when
// the line is not the one that tells the version.
std::optional<std::string_view> printersConfDigits(std::string_view line);
std::optional<std::string_view> indexTitleDigits(std::string_view line);
std::optional<std::string_view> testPagePsDigits(std::string_view line);
std::optional<std::string_view> testPageTextDigits(std::string_view line);

// Whether a name in /tmp is one of the program's own scratch files: ZEB and
// six letters or digits (myTmpName), ZEBLPD or ZEBLPRNG with a process id,
// with or without the exclusive suffix of createOwnFile.
bool isScratchFileName(std::string_view name);
// Removes the scratch files of ours (regular files of root) that an
// interrupted run left in the scratch directory; how many went.
int removeStaleScratchFiles();
