#include <exception>

#include "app/run_driver.h"
#include "app/run_end.h"
#include "services/run_log.h"
#include "services/run_report.h"

int main(int argc, char** argv) {
  try {
    runSetup(argc, argv);
  } catch (const std::exception& error) {
    // Every unit keeps its failures to itself; should one ever escape, the
    // run still ends in order, its log closed and its report written.
    std::string cause = formatMessage(msg::kCauseRunStopped, std::string(error.what()));
    logMessage(cause);
    runReport().markAborted(cause);
    endRun();
  }
}
