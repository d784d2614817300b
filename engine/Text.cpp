// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Text.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace corvane {
namespace {

bool isUnicodeWhiteSpace(UChar32 c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isValidUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

template <typename AsciiMap, typename UnicodeMap>
std::string mapCase(std::string_view text, AsciiMap ascii, UnicodeMap unicode) {
    if (isAscii(text) || !isValidUtf8(text) || text.size() > INT32_MAX) {
        std::string out(text);
        std::transform(out.begin(), out.end(), out.begin(), ascii);
        return out;
    }
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode(u);
    std::string out;
    u.toUTF8String(out);
    return out;
}

locale_t cLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

std::string_view trim(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t start = 0;
    int32_t end = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
    while (start < end) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(s, next, end, c);
        if (c < 0 || !isUnicodeWhiteSpace(c)) break;
        start = next;
    }
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(s, start, previous, c);
        if (c < 0 || !isUnicodeWhiteSpace(c)) break;
        end = previous;
    }
    return text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

std::string toUpper(std::string_view text) {
    return mapCase(
        text, [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; },
        [](icu::UnicodeString& u) { u.toUpper(icu::Locale::getRoot()); });
}

std::string toLower(std::string_view text) {
    return mapCase(
        text, asciiLower, [](icu::UnicodeString& u) { u.toLower(icu::Locale::getRoot()); });
}

bool textEquals(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isAscii(a) && isAscii(b)) return false;
    if (!isValidUtf8(a) || !isValidUtf8(b) || a.size() > INT32_MAX || b.size() > INT32_MAX) return false;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return false;
    auto normalized = [&](std::string_view text) {
        icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
        UErrorCode error = U_ZERO_ERROR;
        icu::UnicodeString n = nfc->normalize(u, error);
        return U_SUCCESS(error) ? n : u;
    };
    return normalized(a) == normalized(b);
}

std::optional<double> parseDecimalNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    switch (text.front()) {
        case ' ': case '\t': case '\n': case '\v': case '\f': case '\r': return std::nullopt;
        default: break;
    }
    // strtod needs a terminated string; an embedded NUL would stop it early and so fail the
    // whole-text rule below, as it must.
    const std::string terminated(text);
    char* end = nullptr;
    const double value = strtod_l(terminated.c_str(), &end, cLocale());
    if (end != terminated.c_str() + terminated.size()) return std::nullopt;
    return value;
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += separator;
        out += items[i];
    }
    return out;
}

bool containsIgnoringAsciiCase(std::string_view text, std::string_view needle) {
    auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                          [](char a, char b) { return asciiLower(a) == asciiLower(b); });
    return it != text.end() || needle.empty();
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

}  // namespace corvane
