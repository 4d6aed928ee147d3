#include "services/terminal.h"

#include <gtest/gtest.h>

#include <cstdlib>

// The catalogue's ISO-8859-1 is shown in the terminal's character set; in
// the C locale the bytes go out as they are.
TEST(Terminal, TextIsShownInTheCharacterSetOfTheLocale) {
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {"C.UTF-8", "versi\xF3n", "versi\xC3\xB3n"},
      {"C.UTF-8", "versi\xC3\xB3n", "versi\xC3\xB3n"},  // UTF-8 already
      {"C", "versi\xF3n", "versi\xF3n"},
  };
  for (const auto& [locale, text, shown] : cases) {
    ::setenv("LC_ALL", locale, 1);
    readTerminalCharset();
    EXPECT_EQ(terminalText(text), shown) << locale;
  }
  ::unsetenv("LC_ALL");
  readTerminalCharset();
}
