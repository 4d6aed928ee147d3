// What the person at the terminal reads. The catalogue's texts are
// ISO-8859-1; on the terminal they are shown in the character set of its
// locale (the log keeps the catalogue's bytes).
#pragma once

#include <string>
#include <string_view>

// Reads the terminal's character set from the locale (LANG, LC_ALL, LC_CTYPE).
void readTerminalCharset();
// The text in the terminal's character set: text that is UTF-8 already is
// kept, anything else is read as ISO-8859-1.
std::string terminalText(std::string_view text);

// Written as it stands, converted for the terminal, flushed.
void writeStderr(std::string_view text);
void writeStdout(std::string_view text);
// Ends the line that a question left open on standard output, if one did.
void startStdoutLine();

// A progress line on standard output, rewritten in place; nothing unless
// standard output is a terminal.
void showProgress(std::string_view text);
// Clears the progress line, so the next output starts on a clean line.
void clearProgress();
