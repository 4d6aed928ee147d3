#include "services/run_settings.h"

#include "sys/text.h"

namespace {
RunSettings gSettings;
}

RunSettings& runSettings() { return gSettings; }

void resetRunSettings() { gSettings = RunSettings{}; }

std::string productPath(const std::string& relative) { return joinPath(gSettings.places.productDir, relative); }

std::string cupsPpdDirectory() {
  const std::string& base = gSettings.cupsBaseDir;
  if (base.empty() || base == "/") return "/etc/cups/ppd";
  return base + "/etc/cups/ppd";
}
