// Which print system the host runs, where CUPS lives, and foomatic-rip.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The print system named by ZEBLPMODE (or, when unset, MIVOLPMODE); 0 when none.
int printerManagerFromEnvironment();
// The print system found among the running processes; on a CUPS host it
// also fills cupsBinDir and cupsBaseDir.
int detectPrinterManager();
// The part of a cupsd path in front of "/sbin/cupsd" or "/bin/cupsd".
std::optional<std::string> cupsdPrefix(std::string_view rest);
// The prefix pair of the CUPS start script (or what is installed); 1 when found.
int readCupsStartScript(std::string& prefix, std::string& execPrefix);
// 1 when a foomatic-rip program exists in one of its usual places.
int hasFoomaticRip();
