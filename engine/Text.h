// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Text rules shared by the engine. Texts are UTF-8 byte strings; none of these functions fails or
// throws on invalid UTF-8.

// Removes Unicode white space and line breaks (U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000) from both ends.
std::string_view trim(std::string_view text);

// The full Unicode upper-case (lower-case) mapping, independent of the user's locale. ASCII letters
// always map to ASCII letters; a text that is not valid UTF-8 has only its ASCII letters mapped and
// every other byte kept.
std::string toUpper(std::string_view text);
std::string toLower(std::string_view text);

// Text equality as the result model defines it: canonically equivalent texts (equal NFC forms) are
// equal; no case folding, no trimming. Invalid UTF-8 compares byte for byte.
bool textEquals(std::string_view a, std::string_view b);

// A decimal number text as the C library's strtod reads it in the "C" locale: the whole non-empty text
// must be consumed and must not begin with white space. Hexadecimal, "inf" and "nan" forms are
// accepted exactly as strtod accepts them.
std::optional<double> parseDecimalNumber(std::string_view text);

// The ASCII lower-case of one byte: A-Z become a-z, every other byte stays.
constexpr char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// The items with `separator` between each two ("a; b; c"); empty for no items.
std::string joined(const std::vector<std::string>& items, std::string_view separator);

// True when `text` contains `needle` ignoring ASCII letter case (the needles here are ASCII words).
bool containsIgnoringAsciiCase(std::string_view text, std::string_view needle);

// True when the two texts are equal ignoring ASCII letter case.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace corvane
