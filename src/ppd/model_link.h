// One recorded entry of the CUPS model directory.
#pragma once

#include <string>

// The entry's full path and what it points to (empty for a real directory).
struct ModelLink {
  std::string entry;
  std::string target;
};
