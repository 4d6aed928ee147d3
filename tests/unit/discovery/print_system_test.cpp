#include "discovery/print_system.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "install/fs_helpers.h"
#include "sys/file_handles.h"
#include "sys/line_reading.h"

namespace {

TEST(PrintSystem, CupsdPrefixFromProcessListLines) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"root  412  1  0 10:02 ?  00:00:00 /usr/local/sbin/cupsd -C /etc/cups/cupsd.conf\r\n", "/usr/local"},
      {"root  412  1  0 10:02 ?  00:00:00 /sbin/cupsd\n", ""},
      {"root  412  1  0 10:02 ?  00:00:00 /opt/cups/bin/cupsd\n", "/opt/cups"},
      {"root  412  1  0 10:02 ?  00:00:00 cupsd -f\n", std::nullopt},            // not a path
      {"root  412  1  0 10:02 ?  00:00:00 /opt/cupsd-wrapper\n", std::nullopt},  // no bin/ or sbin/
      {"/usr/sbin/cupsd", "/usr"},                                               // no blank before the word
  };
  for (const auto& [line, prefix] : cases) EXPECT_EQ(cupsdPrefix(wordOnwards(line, "cupsd")), prefix) << line;
  EXPECT_EQ(cupsdPrefix(" /usr/sbin/cupsd"), "/usr");  // one leading blank is skipped
  EXPECT_EQ(cupsdPrefix(""), std::nullopt);
}

TEST(PrintSystem, StartScriptPrefixesAreTakenAsWritten) {
  std::string both = "#!/bin/sh\nprefix=/opt\nexec_prefix=/opt/cups\nprefix=/later\n";
  StartScriptPrefixes found = scanStartScript(both);
  EXPECT_TRUE(found.hasPrefix && found.hasExecPrefix);
  EXPECT_EQ(found.prefix, "/opt");
  EXPECT_EQ(found.execPrefix, "/opt/cups");

  std::string quoted = "exec_prefix=\"$prefix\"\n";
  found = scanStartScript(quoted);
  EXPECT_FALSE(found.hasPrefix);
  EXPECT_EQ(found.execPrefix, "\"$prefix\"");

  // An overlong binary line is read in 255-byte pieces, so a marker that
  // starts a later piece still counts.
  std::string binary(300, '\0');
  binary.replace(0, 4,
                 "\x7f"
                 "ELF");
  binary += "prefix=/srv/cups\n";
  found = scanStartScript(binary);
  EXPECT_TRUE(found.hasPrefix);
  EXPECT_EQ(found.prefix, "/srv/cups");
}

}  // namespace
