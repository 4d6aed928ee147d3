// Turns command names into full paths.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The first existing "/usr/bin/NAME", "/usr/sbin/NAME", ... of the standard
// system directories that root may safely run (see isTrustedFile);
// nothing when none is.
std::optional<std::string> findCommand(std::string_view name);

// The first existing, safe candidate under the CUPS prefixes (bin, sbin, etc, lib);
// findCommand when no CUPS executables prefix is known; the bare name when
// nothing exists.
std::string findCupsCommand(std::string_view name);

// A command path, or its bare name when it was not found.
std::string commandOrName(std::string_view name);
