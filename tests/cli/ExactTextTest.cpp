// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ExactText.h"

#include <gtest/gtest.h>

namespace corvane::cli {
namespace {

// Each row: the bytes, as a terminal row shows them, and as a JSON string names them.
TEST(ExactText, NamesReachTheTerminalEscapedAndJsonExactly) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"IMG_0001.HEIC", "IMG_0001.HEIC", R"("IMG_0001.HEIC")"},
        {"Ærø 東京 🗺.heic", "Ærø 東京 🗺.heic", R"("Ærø 東京 🗺.heic")"},  // UTF-8 of two, three and four bytes stays
        // A line break would start a forged row; an escape sequence would drive the terminal.
        {"a\nb: Already correct", R"(a\nb: Already correct)", R"("a\nb: Already correct")"},
        {"\x1b[2J\t\r\a\b\f\v", R"(\x1b[2J\t\r\a\b\f\v)", R"("\u001b[2J\t\u000d\u0007\u0008\u000c\u000b")"},
        {std::string("nul\0del\x7f", 8), R"(nul\x00del\x7f)", R"("nul\u0000del\u007f")"},
        // The backslash is escaped too, so that every escape can be undone.
        {R"(a\nb "q")", R"(a\\nb "q")", R"("a\\nb \"q\"")"},
        // U+009B is a one-character CSI to some terminals.
        {"c1\xc2\x9b" "31m", R"(c1\xc2\x9b31m)", R"("c1\u009b31m")"},
        // Bytes that are not UTF-8: a stray continuation, a lone lead byte, a sequence cut short, an
        // overlong form, an encoded surrogate, a code point past U+10FFFF.
        {"\xff\xfe", R"(\xff\xfe)", R"("\udcff\udcfe")"},
        {"\xc3.", R"(\xc3.)", R"("\udcc3.")"},
        {"\xe2\x82", R"(\xe2\x82)", R"("\udce2\udc82")"},
        {"\xc0\xaf", R"(\xc0\xaf)", R"("\udcc0\udcaf")"},
        {"\xed\xb2\x80", R"(\xed\xb2\x80)", R"("\udced\udcb2\udc80")"},
        {"\xf4\x90\x80\x80", R"(\xf4\x90\x80\x80)", R"("\udcf4\udc90\udc80\udc80")"},
    };
    for (const auto& [bytes, terminal, json] : cases) {
        EXPECT_EQ(escapeForTerminal(bytes), terminal);
        EXPECT_EQ(jsonStringLiteral(bytes), json);
    }
}

// Every length modulo three, for the padding.
TEST(ExactText, Base64) {
    const std::pair<std::string, std::string> encodings[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xff\xfe_\xc3", "//5fww=="}};
    for (const auto& [bytes, encoded] : encodings) EXPECT_EQ(base64(bytes), encoded);
}

}  // namespace
}  // namespace corvane::cli
