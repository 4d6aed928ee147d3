// Compiled by the test suite twice: as it stands it must compile; with
// WRONG_ARGUMENTS defined it must not, since a message's arguments are
// checked against its text when the program is built.
#include <string>

#include "services/run_log.h"

void tellWhatWasSaved(const std::string& from, const std::string& to) {
#ifdef WRONG_ARGUMENTS
  logMsg(msg::kQueuePpdSaved, from, 0, to);  // text, text, number swapped
#else
  logMsg(msg::kQueuePpdSaved, from, to, 0);
#endif
  logMsg(msg::kModeSet, to, 0755);
}
