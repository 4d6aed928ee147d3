// Text helpers: searching, trimming, case, path pieces and printf-style
// formatting. Every unit takes them from here.
#pragma once

#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>

bool contains(std::string_view text, std::string_view part);
// Where part first occurs in text, letters compared without regard to case.
std::optional<size_t> findIgnoringCase(std::string_view text, std::string_view part);
bool equalsIgnoringCase(std::string_view a, std::string_view b);
std::string lowerCase(std::string_view text);

// Removes line feeds, carriage returns and blanks from the end.
void trimLineEnd(std::string& text);
// The text without its trailing line feeds and carriage returns.
std::string_view withoutLineEnd(std::string_view text);

// The text after the last '/', or all of it.
std::string lastComponent(const std::string& path);
// The text before the last '/': "/" for "/x", "." when there is no '/'.
std::string directoryOf(const std::string& path);
// The path without trailing '/' (the root stays "/").
std::string withoutTrailingSlashes(std::string path);
// dir and name joined by one '/'.
std::string joinPath(const std::string& dir, const std::string& name);
// Whether path is dir itself or lies below it.
bool isAtOrBelow(const std::string& path, const std::string& dir);

// printf-style formatting into a string of any length.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatTextV(const char* format, va_list args);
