// SELinux policy module and labels.
#pragma once

#include <string>

// Loads /opt/orv/etc/mivo.pp with semodule; its status, or 0 when not run.
int installSelinuxModule();
// Runs "chcon ARGS PATH" and logs the outcome; -1 when chcon is not available.
int runChcon(const std::string& path, const std::string& arguments);
