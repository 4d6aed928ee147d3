// Numbered message texts, as ISO-8859-1 bytes. Each text is also the output
// format of its message.
#pragma once

struct MessageEntry {
  int number;
  const char* text;
};

extern const MessageEntry kMessageEntries[];
extern const int kMessageEntryCount;

// The text of message n; "" for a number that has no text.
const char* messageText(int n);
