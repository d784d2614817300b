// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace corvane::cli {

// How byte strings that come from outside (file names, texts read from files) are written out, so that
// nothing of them is lost and nothing of them reaches a terminal raw. A Linux file name is any bytes
// but "/" and NUL: it need not be UTF-8 and may hold line breaks and escape sequences.

// For a person at a terminal: every byte kept, except that control characters (U+0000..U+001F, U+007F
// and U+0080..U+009F), bytes that are not UTF-8 and the backslash are written as C escapes: "\n", "\t",
// "\r", "\a", "\b", "\f", "\v", "\\", and "\xHH" (two lower-case hex digits) for each other byte, as
// `ls --quoting-style=escape` does. The result is one line, and the escapes can be undone exactly.
std::string escapeForTerminal(std::string_view bytes);

// The bytes as a JSON string literal, quotes included, that names them exactly: UTF-8 stays as it is;
// each byte that is not part of valid UTF-8 becomes a lone surrogate escape "\udc80".."\udcff", as
// Python's "surrogateescape" error handler reads it (os.fsencode gives the bytes back); '"', '\' and
// control characters are escaped.
std::string jsonStringLiteral(std::string_view bytes);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool isUtf8(std::string_view bytes);

// The bytes in base64 (RFC 4648, with padding).
std::string base64(std::string_view bytes);

}  // namespace corvane::cli
