#include "services/run_settings.h"

namespace {
RunSettings gSettings;
}

RunSettings& runSettings() { return gSettings; }

void resetRunSettings() { gSettings = RunSettings{}; }
