// Restarts the CUPS scheduler so that it reads the replaced queue PPDs.
#pragma once

// 0 when a restart command exited with 0; else the wait status of the last
// command run, or -1 when none could be run.
int restartCups();
// restartCups when the host changed since the scheduler was last restarted;
// otherwise one line says why not. 0 when nothing needed a restart.
int restartCupsIfChanged();
