#include "app/run_end.h"

#include <cstdlib>

#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"

int exitStatusFor(const std::string& outcome, bool strict) {
  if (!strict || outcome == "ok") return 0;
  return outcome == "partial" ? 1 : 2;
}

void endRun() {
  const RunSettings& s = runSettings();
  // Written before the log closes, so that a failure to write it is logged.
  std::string reportPath;
  if (!writeRunReport(s.uid, &reportPath) && s.uid == 0)
    logFailure("The run report " + reportPath + " could not be written.");
  if (s.logOpened) closeLog();
  std::exit(exitStatusFor(runReport().outcome(), s.strictStatus));
}
