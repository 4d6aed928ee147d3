// Which print system the host runs, where CUPS lives, and foomatic-rip.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// The print system named by ZEBLPMODE (or, when unset, MIVOLPMODE); 0 when none.
int printerManagerFromEnvironment();
// The kind that a ZEBLPMODE/MIVOLPMODE value names; 0 when none.
int printerManagerFromName(std::string_view value);
// The print system found among the running processes; on a CUPS host it
// also fills cupsBinDir and cupsBaseDir.
int detectPrinterManager();
// The part of a cupsd path in front of "/sbin/cupsd" or "/bin/cupsd".
std::optional<std::string> cupsdPrefix(std::string_view rest);
// The rest of a process-list line from the start of the word holding the
// first occurrence of name.
std::string_view wordOnwards(std::string_view line, std::string_view name);
// A /proc status "Uid:" line whose every user id (real, effective, saved,
// file system) is root's.
bool uidLineIsRoot(std::string_view line);
// The prefix pair of the CUPS start script (or what is installed); 1 when found.
int readCupsStartScript(std::string& prefix, std::string& execPrefix);
// What a start script says: its first "exec_prefix=" value and its first
// "prefix=" value of another line, each up to the end of its line (read as
// 255-byte pieces).
struct StartScriptPrefixes {
  bool hasPrefix = false;
  bool hasExecPrefix = false;
  std::string prefix;
  std::string execPrefix;
};
StartScriptPrefixes scanStartScript(std::string_view script);
// 1 when a foomatic-rip program exists in one of its usual places.
int hasFoomaticRip();
