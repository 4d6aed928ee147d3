// Numbered message texts, as ISO-8859-1 bytes. Each text is also the output
// format of its message. The code names a message by its constant in msg::
// (generated from data/messages.tsv), whose type carries the kinds of the
// arguments the text asks for.
#pragma once

struct MessageEntry {
  int number;
  const char* text;
};

extern const MessageEntry kMessageEntries[];
extern const int kMessageEntryCount;

// Argument kinds of a message: %s, %d, %o.
namespace arg {
struct Text;
struct Int;
struct Octal;
}  // namespace arg

template <class... Kinds>
struct Message {
  int number;
};

#include "message_names.h"

// The text of message n; "" for a number that has no text.
const char* messageText(int n);
template <class... Kinds>
const char* messageText(Message<Kinds...> message) {
  return messageText(message.number);
}
