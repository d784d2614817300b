// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Diagnostics.h"
#include "engine/RunScope.h"
#include "engine/Text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace corvane {
namespace test {
extern const Diagnostics::Sink standardOutputSink;
}
namespace {

const double inf = std::numeric_limits<double>::infinity();

TEST(Trim, RemovesUnicodeWhiteSpaceAtBothEndsOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"\r\n\v\f 37 deg\t46' \n\xC2\x85", "37 deg\t46'"}, {"\xC2\xA0" "37.5" "\xE3\x80\x80", "37.5"},
        {"\xE2\x80\xA8" "a" "\xE2\x80\xA9", "a"}, {"\xE2\x80\x8B" "a", "\xE2\x80\x8B" "a"},  // zero-width: not white
        {" \n\xC2\xA0 ", ""}, {"\xFF a \xFE", "\xFF a \xFE"}, {" \xC3", "\xC3"}};
    for (const auto& [text, trimmed] : cases) EXPECT_EQ(trim(text), trimmed) << text;
}

TEST(CaseMapping, UnicodeMappingWhateverTheLocaleAndOnlyAsciiInInvalidUtf8) {
    EXPECT_EQ(toUpper("stra\xC3\x9F" "e \xC3\xA9t\xC3\xA9 i"), "STRASSE \xC3\x89T\xC3\x89 I");  // never the Turkish dotted I
    EXPECT_EQ(toLower("HEIC \xC3\x89"), "heic \xC3\xA9");
    EXPECT_EQ(toUpper(std::string("a\xFF" "b\xC3 n\0s", 8)), std::string("A\xFF" "B\xC3 N\0S", 8));
    EXPECT_EQ(toLower("A\xC0\x80Z"), "a\xC0\x80z");
    EXPECT_TRUE(containsIgnoringAsciiCase("37 Deg 46'", "deg"));
    EXPECT_FALSE(containsIgnoringAsciiCase("37 de g", "deg"));
}

TEST(ParseDecimalNumber, TheWholeTextAsStrtodReadsItInTheCLocale) {
    const std::pair<std::string, std::optional<double>> cases[] = {
        {"-122.4194", -122.4194}, {"+1", 1.0}, {"1E-5", 1e-5}, {".5", 0.5}, {"5.", 5.0}, {"0X1P3", 8.0},
        {"-INFINITY", -inf}, {"1e999", inf}, {" 1", std::nullopt}, {"1 ", std::nullopt}, {"", std::nullopt},
        {"1,5", std::nullopt}, {"37.46.5", std::nullopt}, {"1e", std::nullopt}, {std::string("1\0" "2", 3), std::nullopt},
        {"\xD9\xA3", std::nullopt}};  // only ASCII digits are digits
    for (const auto& [text, value] : cases) EXPECT_EQ(parseDecimalNumber(text), value) << text;
    EXPECT_TRUE(std::isnan(parseDecimalNumber("NAN(123)").value_or(0)));
}

// Doubles in diagnostic lines: the shortest text that reads back, whole numbers with ".0", exponents
// as "e-05" / "e+16" outside [1e-4, 2^53].
TEST(FormatDouble, ShortestRoundTripForm) {
    const std::pair<double, const char*> cases[] = {
        {37.0, "37.0"}, {-122.4194, "-122.4194"}, {0.1 + 0.2, "0.30000000000000004"}, {0.0001, "0.0001"},
        {1e-05, "1e-05"}, {-1.5e-07, "-1.5e-07"}, {9007199254740992.0, "9007199254740992.0"}, {1e16, "1e+16"},
        {5e-324, "5e-324"}, {-0.0, "-0.0"}, {-inf, "-inf"}, {std::numeric_limits<double>::quiet_NaN(), "nan"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(formatDouble(value), text);
}

// The default sink builds each line in its own buffer: the exact bytes, held during a run until a
// flush, written at once outside one.
TEST(Diagnostics, DefaultSinkBuffersTheLinesOfARunOnStandardOutput) {
    std::FILE* captured = std::tmpfile();
    ASSERT_NE(captured, nullptr);
    std::fflush(stdout);
    const int savedOutput = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(captured), STDOUT_FILENO);
    auto written = [&] {
        std::fflush(stdout);
        std::string text(static_cast<size_t>(::lseek(::fileno(captured), 0, SEEK_CUR)), '\0');
        ::pread(::fileno(captured), text.data(), text.size(), 0);
        return text;
    };
    const Diagnostics::Sink silent = Diagnostics::setSink(test::standardOutputSink);

    RunScope::begin();
    Diagnostics::line("[DEBUG] a ", 42, ' ', -7L, " ", 2.5, " ", true, " ", std::optional<double>{}, " ",
                      std::optional<std::string>{"x"}, std::string_view(" end"));
    Diagnostics::line(std::string("[DEBUG] b"));
    const std::string heldDuringRun = written();
    Diagnostics::flush();
    const std::string afterFlush = written();
    RunScope::end();
    Diagnostics::line("[DEBUG] c");
    const std::string outsideRun = written();

    Diagnostics::setSink(silent);
    ::dup2(savedOutput, STDOUT_FILENO);
    ::close(savedOutput);
    std::fclose(captured);
    EXPECT_EQ(heldDuringRun, "");
    EXPECT_EQ(afterFlush, "[DEBUG] a 42 -7 2.5 true nil x end\n[DEBUG] b\n");
    EXPECT_EQ(outsideRun, afterFlush + "[DEBUG] c\n");
}

}  // namespace
}  // namespace corvane
