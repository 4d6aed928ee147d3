#include "services/message_catalogue.h"

#include <algorithm>

const char* messageText(int n) {
  const MessageEntry* end = kMessageEntries + kMessageEntryCount;
  const MessageEntry* found =
      std::lower_bound(kMessageEntries, end, n, [](const MessageEntry& e, int number) { return e.number < number; });
  return found != end && found->number == n ? found->text : "";
}
