#include "services/run_log.h"

#include <gtest/gtest.h>

#include "../test_support.h"
#include "services/failure_text.h"

namespace {

// Lines held while a queue's files are written come out where its block is
// written; failures reach the report at once.
TEST(RunLog, HeldLinesComeOutWhereTheyAreWrittenAndFailuresAreErrors) {
  ScratchHost host;
  logMessage("first");
  std::string held;
  {
    HeldLines hold;
    logMessage("held\n");
    logFailure("failed");
    held = hold.take();
    logMessage("left");
  }
  logMessage(withErrorMark("marked"));
  writeHeldLines(held);
  EXPECT_EQ(host.log(), "first\nleft\nmarked: \xA1" "ERROR!\nheld\nfailed\n");
  EXPECT_EQ(runReport().errors(), (std::vector<std::string>{"failed", "marked: \xA1" "ERROR!"}));
}

TEST(RunLog, FailuresAreToldInTheCataloguesWords) {
  EXPECT_EQ(describe({FailureKind::CannotWrite, "/etc/cups/ppd/Office.ppd", ENOSPC}),
            "'/etc/cups/ppd/Office.ppd' no se puede escribir: no queda espacio en el disco");
  EXPECT_EQ(describe({FailureKind::LinkInTheWay, "/x", 0}),
            "'/x' es un enlace simb\xF3lico que otro usuario pudo poner; se deja como est\xE1");
  EXPECT_EQ(errorText(ENOTSUP), "error del sistema " + std::to_string(ENOTSUP));
}

}  // namespace
