// SHA-256 check sums, as the product's record and the distribution tree's
// list of hashes keep them.
#pragma once

#include <string>
#include <string_view>

// The check sum of the bytes as 64 lowercase hexadecimal digits.
std::string sha256Hex(std::string_view bytes);
