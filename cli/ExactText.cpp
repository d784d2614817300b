// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ExactText.h"

#include <algorithm>
#include <cstdint>

namespace corvane::cli {
namespace {

// The length of the well-formed UTF-8 sequence that starts at `at`, or 0 when the byte there starts
// none (Unicode's table of well-formed byte sequences).
size_t utf8SequenceLength(std::string_view bytes, size_t at) {
    const auto byte = [&](size_t i) { return at + i < bytes.size() ? static_cast<uint8_t>(bytes[at + i]) : 0; };
    const auto continuation = [](uint8_t b, uint8_t low = 0x80, uint8_t high = 0xBF) { return b >= low && b <= high; };
    const uint8_t lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(byte(1)) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const uint8_t low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        return continuation(byte(1), low, high) && continuation(byte(2)) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const uint8_t low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        return continuation(byte(1), low, high) && continuation(byte(2)) && continuation(byte(3)) ? 4 : 0;
    }
    return 0;
}

// U+0080..U+009F, the C1 controls, some of which terminals obey as escape sequences.
bool isC1Control(std::string_view sequence) {
    return sequence.size() == 2 && static_cast<uint8_t>(sequence[0]) == 0xC2 && static_cast<uint8_t>(sequence[1]) <= 0x9F;
}

bool isC0ControlOrDelete(char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; }

std::string hex2(uint8_t byte) {
    static constexpr char digits[] = "0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 0xF]};
}

}  // namespace

std::string escapeForTerminal(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = utf8SequenceLength(bytes, at);
        const std::string_view sequence = bytes.substr(at, length == 0 ? 1 : length);
        at += sequence.size();
        if (length > 1 && !isC1Control(sequence)) {
            out += sequence;
            continue;
        }
        const char c = sequence[0];
        if (length == 1 && !isC0ControlOrDelete(c) && c != '\\') {
            out += c;
            continue;
        }
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\a': out += "\\a"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\v': out += "\\v"; break;
            default:
                for (const char b : sequence) out += "\\x" + hex2(static_cast<uint8_t>(b));
        }
    }
    return out;
}

std::string jsonStringLiteral(std::string_view bytes) {
    std::string out = "\"";
    out.reserve(bytes.size() + 2);
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = utf8SequenceLength(bytes, at);
        const std::string_view sequence = bytes.substr(at, length == 0 ? 1 : length);
        at += sequence.size();
        const uint8_t lead = static_cast<uint8_t>(sequence[0]);
        if (length == 0) {
            out += "\\udc" + hex2(lead);
        } else if (isC1Control(sequence)) {
            out += "\\u00" + hex2(static_cast<uint8_t>(sequence[1]));
        } else if (length > 1) {
            out += sequence;
        } else if (lead == '"' || lead == '\\') {
            out += {'\\', static_cast<char>(lead)};
        } else if (lead == '\n') {
            out += "\\n";
        } else if (lead == '\t') {
            out += "\\t";
        } else if (isC0ControlOrDelete(static_cast<char>(lead))) {
            out += "\\u00" + hex2(lead);
        } else {
            out += static_cast<char>(lead);
        }
    }
    return out + "\"";
}

bool isUtf8(std::string_view bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = utf8SequenceLength(bytes, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t at = 0; at < bytes.size(); at += 3) {
        const size_t count = std::min<size_t>(3, bytes.size() - at);
        uint32_t group = 0;
        for (size_t i = 0; i < 3; ++i) group = group << 8 | (i < count ? static_cast<uint8_t>(bytes[at + i]) : 0);
        for (size_t i = 0; i < 4; ++i) out += i <= count ? alphabet[(group >> (18 - 6 * i)) & 0x3F] : '=';
    }
    return out;
}

}  // namespace corvane::cli
