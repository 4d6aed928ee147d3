// Restarts the CUPS scheduler.
#pragma once

int restartCups();
