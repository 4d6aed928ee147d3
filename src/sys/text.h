// Text helpers: searching, path pieces and printf-style formatting.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

bool contains(std::string_view text, std::string_view part);
// The text after the last '/', or all of it.
std::string lastComponent(const std::string& path);
// The text before the last '/': "/" for "/x", "." when there is no '/'.
std::string directoryOf(const std::string& path);
// printf-style formatting into a string of any length.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatTextV(const char* format, va_list args);
