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

TEST(Trim, RemovesUnicodeWhiteSpaceAndLineBreaksAtBothEndsOnly) {
    struct Case {
        const char* why;
        std::string text;
        std::string trimmed;
    };
    const Case cases[] = {
        {"blanks and tabs", " \t 37.5N \t", "37.5N"},
        {"line breaks of every kind", "\r\n\v\f37.5\n\xC2\x85", "37.5"},
        {"no-break space and ideographic space", "\xC2\xA0" "37.5" "\xE3\x80\x80", "37.5"},
        {"line and paragraph separators", "\xE2\x80\xA8" "a" "\xE2\x80\xA9", "a"},
        {"inner white space stays", " 37 deg 46' ", "37 deg 46'"},
        {"zero-width space is not white space", "\xE2\x80\x8B" "a", "\xE2\x80\x8B" "a"},
        {"only white space", " \n\xC2\xA0 ", ""},
        {"empty", "", ""},
        {"invalid UTF-8 at the ends is kept", "\xFF a \xFE", "\xFF a \xFE"},
        {"a lone lead byte after white space", " \xC3", "\xC3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(trim(c.text), c.trimmed);
    }
}

TEST(CaseMapping, UsesTheUnicodeMappingWhateverTheLocale) {
    EXPECT_EQ(toUpper("37.5n"), "37.5N");
    EXPECT_EQ(toUpper("stra\xC3\x9F" "e"), "STRASSE");      // ß has a two-letter upper case
    EXPECT_EQ(toUpper("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89");  // é → É
    EXPECT_EQ(toUpper("i"), "I");                            // never the Turkish dotted İ
    EXPECT_EQ(toLower("I"), "i");
    EXPECT_EQ(toLower("HEIC"), "heic");
    EXPECT_EQ(toLower("\xC3\x89"), "\xC3\xA9");
}

TEST(CaseMapping, InvalidUtf8MapsOnlyAsciiLetters) {
    EXPECT_EQ(toUpper("a\xFF" "b\xC3"), "A\xFF" "B\xC3");
    EXPECT_EQ(toLower("A\xC0\x80Z"), "a\xC0\x80z");
    EXPECT_EQ(toUpper(std::string("n\0s", 3)), std::string("N\0S", 3));
}

TEST(ParseDecimalNumber, ReadsTheWholeTextAsStrtodDoesInTheCLocale) {
    struct Case {
        std::string text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"37.7749", 37.7749},
        {"-122.4194", -122.4194},
        {"+1", 1.0},
        {"1e5", 100000.0},
        {"1E-5", 1e-5},
        {".5", 0.5},
        {"5.", 5.0},
        {"0x1p3", 8.0},
        {"0X1P3", 8.0},
        {"0x10", 16.0},
        {"inf", std::numeric_limits<double>::infinity()},
        {"-INFINITY", -std::numeric_limits<double>::infinity()},
        {"1e999", std::numeric_limits<double>::infinity()},
        // No leading white space, nothing left over, not empty.
        {" 1", std::nullopt},
        {"\t1", std::nullopt},
        {"\n1", std::nullopt},
        {"1 ", std::nullopt},
        {"", std::nullopt},
        {"1,5", std::nullopt},
        {"37.46.5", std::nullopt},
        {"1e", std::nullopt},
        {"N37.5", std::nullopt},
        {"--1", std::nullopt},
        {std::string("1\0" "2", 3), std::nullopt},
        // Only ASCII digits are digits.
        {"\xD9\xA3", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseDecimalNumber(c.text), c.value);
    }
    const auto nan = parseDecimalNumber("nan");
    ASSERT_TRUE(nan.has_value());
    EXPECT_TRUE(std::isnan(*nan));
    EXPECT_TRUE(parseDecimalNumber("NAN(123)").has_value());
}

TEST(ContainsIgnoringAsciiCase, FindsAsciiWordsInAnyCase) {
    EXPECT_TRUE(containsIgnoringAsciiCase("37 DEG 46'", "deg"));
    EXPECT_TRUE(containsIgnoringAsciiCase("37 Deg", "deg"));
    EXPECT_FALSE(containsIgnoringAsciiCase("37 de g", "deg"));
    EXPECT_TRUE(containsIgnoringAsciiCase("anything", ""));
}

// Doubles in diagnostic lines: the shortest text that reads back to the same value, whole numbers
// with ".0", exponents as "e-05" / "e+16" outside [1e-4, 2^53].
TEST(FormatDouble, ShortestRoundTripForm) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {37.0, "37.0"},
        {37.7749, "37.7749"},
        {-122.4194, "-122.4194"},
        {0.5, "0.5"},
        {100.0, "100.0"},
        {37.083333333333336, "37.083333333333336"},
        {0.1 + 0.2, "0.30000000000000004"},
        {0.0001, "0.0001"},
        {1e-05, "1e-05"},
        {-1.5e-07, "-1.5e-07"},
        {123456789012.0, "123456789012.0"},
        {9007199254740992.0, "9007199254740992.0"},
        {1e16, "1e+16"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {5e-324, "5e-324"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(formatDouble(c.value), c.text);
    }
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
