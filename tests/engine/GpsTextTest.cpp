#include "tests/support/DiagnosticsCapture.h"
#include "engine/GpsText.h"
#include "engine/Text.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

namespace corvane {
namespace {

using Lines = std::vector<std::string>;

struct ParseCase {
    const char* why;
    std::optional<std::string> text;
    std::optional<double> value;
    std::string letter;
    Lines lines;
};

// Every reading path of parseXmpGPS with the exact lines it prints.
const ParseCase parseCases[] = {
    {"absent text: silent", std::nullopt, std::nullopt, "", {}},
    {"empty text: silent", "", std::nullopt, "", {}},
    {"blanks and line breaks only: silent", "  \n\t ", std::nullopt, "", {}},
    {"canonical form",
     "37.77490000N",
     37.7749,
     "N",
     {"[DEBUG] parseXmpGPS input: '37.77490000N'", "[DEBUG] parseXmpGPS numberPart: '37.77490000', ref: 'N'",
      "[DEBUG] parseXmpGPS parsed as decimal: 37.7749"}},
    {"blanks around, lower-case letter after a blank",
     " 122.4194 w ",
     122.4194,
     "W",
     {"[DEBUG] parseXmpGPS input: '122.4194 w'", "[DEBUG] parseXmpGPS numberPart: '122.4194', ref: 'W'",
      "[DEBUG] parseXmpGPS parsed as decimal: 122.4194"}},
    {"signed decimal without letter",
     "-122.4194",
     -122.4194,
     "",
     {"[DEBUG] parseXmpGPS input: '-122.4194'", "[DEBUG] parseXmpGPS numberPart: '-122.4194', ref: ''",
      "[DEBUG] parseXmpGPS parsed as decimal: -122.4194"}},
    {"south letter is returned, not applied",
     "37.7749S",
     37.7749,
     "S",
     {"[DEBUG] parseXmpGPS input: '37.7749S'", "[DEBUG] parseXmpGPS numberPart: '37.7749', ref: 'S'",
      "[DEBUG] parseXmpGPS parsed as decimal: 37.7749"}},
    {"whole number prints with .0",
     "37N",
     37.0,
     "N",
     {"[DEBUG] parseXmpGPS input: '37N'", "[DEBUG] parseXmpGPS numberPart: '37', ref: 'N'",
      "[DEBUG] parseXmpGPS parsed as decimal: 37.0"}},
    {"degrees and decimal minutes",
     "37,46.494N",
     37.7749,
     "N",
     {"[DEBUG] parseXmpGPS input: '37,46.494N'", "[DEBUG] parseXmpGPS numberPart: '37,46.494', ref: 'N'",
      "[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,46.494 = 37.7749"}},
    {"a comma always means minutes: 37,5 is 37 degrees 5 minutes",
     "37,5",
     37.083333333333336,
     "",
     {"[DEBUG] parseXmpGPS input: '37,5'", "[DEBUG] parseXmpGPS numberPart: '37,5', ref: ''",
      "[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,5.0 = 37.083333333333336"}},
    {"empty pieces are dropped (double comma)",
     "37,,46.5",
     37.775,
     "",
     {"[DEBUG] parseXmpGPS input: '37,,46.5'", "[DEBUG] parseXmpGPS numberPart: '37,,46.5', ref: ''",
      "[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,46.5 = 37.775"}},
    {"empty pieces are dropped (trailing comma)",
     "37,46.5,E",
     37.775,
     "E",
     {"[DEBUG] parseXmpGPS input: '37,46.5,E'", "[DEBUG] parseXmpGPS numberPart: '37,46.5,', ref: 'E'",
      "[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,46.5 = 37.775"}},
    {"a blank after the comma fails both readings but keeps the letter",
     "37, 46.494N",
     std::nullopt,
     "N",
     {"[DEBUG] parseXmpGPS input: '37, 46.494N'", "[DEBUG] parseXmpGPS numberPart: '37, 46.494', ref: 'N'",
      "[DEBUG] parseXmpGPS failed to parse: '37, 46.494N'"}},
    {"three comma parts are not read",
     "37,46,29.64N",
     std::nullopt,
     "N",
     {"[DEBUG] parseXmpGPS input: '37,46,29.64N'", "[DEBUG] parseXmpGPS numberPart: '37,46,29.64', ref: 'N'",
      "[DEBUG] parseXmpGPS failed to parse: '37,46,29.64N'"}},
    {"one piece after the comma: the comma becomes a decimal point",
     ",5N",
     0.5,
     "N",
     {"[DEBUG] parseXmpGPS input: ',5N'", "[DEBUG] parseXmpGPS numberPart: ',5', ref: 'N'",
      "[DEBUG] parseXmpGPS parsed as decimal: 0.5"}},
    {"37,5,0 becomes 37.5.0 and fails",
     "37,5,0",
     std::nullopt,
     "",
     {"[DEBUG] parseXmpGPS input: '37,5,0'", "[DEBUG] parseXmpGPS numberPart: '37,5,0', ref: ''",
      "[DEBUG] parseXmpGPS failed to parse: '37,5,0'"}},
    {"degrees, minutes and seconds, read from the upper-cased number part",
     "37 deg 46' 29.64\" N",
     37.7749,
     "N",
     {"[DEBUG] parseXmpGPS input: '37 deg 46' 29.64\" N'",
      "[DEBUG] parseXmpGPS numberPart: '37 DEG 46' 29.64\"', ref: 'N'",
      "[DEBUG] Parsed DMS 37 DEG 46' 29.64\" as 37.7749", "[DEBUG] parseXmpGPS parsed DMS: 37 DEG 46' 29.64\" = 37.7749"}},
    {"degree-minute-second value is never negative",
     "-37 deg 46' 29.64\"",
     37.7749,
     "",
     {"[DEBUG] parseXmpGPS input: '-37 deg 46' 29.64\"'",
      "[DEBUG] parseXmpGPS numberPart: '-37 DEG 46' 29.64\"', ref: ''",
      "[DEBUG] Parsed DMS -37 DEG 46' 29.64\" as 37.7749",
      "[DEBUG] parseXmpGPS parsed DMS: -37 DEG 46' 29.64\" = 37.7749"}},
    {"deg without the full pattern falls through to the other readings",
     "37 deg 46N",
     std::nullopt,
     "N",
     {"[DEBUG] parseXmpGPS input: '37 deg 46N'", "[DEBUG] parseXmpGPS numberPart: '37 DEG 46', ref: 'N'",
      "[DEBUG] Failed to parse DMS string: 37 DEG 46", "[DEBUG] parseXmpGPS failed to parse: '37 deg 46N'"}},
    {"a leading letter is not a hemisphere",
     "N37.5",
     std::nullopt,
     "",
     {"[DEBUG] parseXmpGPS input: 'N37.5'", "[DEBUG] parseXmpGPS numberPart: 'N37.5', ref: ''",
      "[DEBUG] parseXmpGPS failed to parse: 'N37.5'"}},
    {"a lone letter",
     "E",
     std::nullopt,
     "E",
     {"[DEBUG] parseXmpGPS input: 'E'", "[DEBUG] parseXmpGPS numberPart: '', ref: 'E'",
      "[DEBUG] parseXmpGPS failed to parse: 'E'"}},
    {"no-break space before the letter is trimmed from the number part",
     "12.5\xC2\xA0s",
     12.5,
     "S",
     {"[DEBUG] parseXmpGPS input: '12.5\xC2\xA0s'", "[DEBUG] parseXmpGPS numberPart: '12.5', ref: 'S'",
      "[DEBUG] parseXmpGPS parsed as decimal: 12.5"}},
    {"hexadecimal as strtod reads it",
     "0x1p3",
     8.0,
     "",
     {"[DEBUG] parseXmpGPS input: '0x1p3'", "[DEBUG] parseXmpGPS numberPart: '0X1P3', ref: ''",
      "[DEBUG] parseXmpGPS parsed as decimal: 8.0"}},
    {"exponent form prints as Swift prints small numbers",
     "1e-5",
     1e-05,
     "",
     {"[DEBUG] parseXmpGPS input: '1e-5'", "[DEBUG] parseXmpGPS numberPart: '1E-5', ref: ''",
      "[DEBUG] parseXmpGPS parsed as decimal: 1e-05"}},
    {"inf is a number to strtod",
     "inf",
     std::numeric_limits<double>::infinity(),
     "",
     {"[DEBUG] parseXmpGPS input: 'inf'", "[DEBUG] parseXmpGPS numberPart: 'INF', ref: ''",
      "[DEBUG] parseXmpGPS parsed as decimal: inf"}},
    {"invalid UTF-8 does not parse and does not crash",
     "\xFF" "37.5\xC3n",
     std::nullopt,
     "N",
     {"[DEBUG] parseXmpGPS input: '\xFF" "37.5\xC3n'", "[DEBUG] parseXmpGPS numberPart: '\xFF" "37.5\xC3', ref: 'N'",
      "[DEBUG] parseXmpGPS failed to parse: '\xFF" "37.5\xC3n'"}},
    {"a combining mark on the letter means no letter",
     "37.5N\xCC\x81",
     std::nullopt,
     "",
     {"[DEBUG] parseXmpGPS input: '37.5N\xCC\x81'", "[DEBUG] parseXmpGPS numberPart: '37.5N\xCC\x81', ref: ''",
      "[DEBUG] parseXmpGPS failed to parse: '37.5N\xCC\x81'"}},
};

TEST(ParseXmpGPS, EveryReadingPathWithItsLines) {
    for (const auto& c : parseCases) {
        SCOPED_TRACE(c.why);
        DiagnosticsCapture capture;
        const ParsedCoordinate parsed =
            parseXmpGPS(c.text ? std::optional<std::string_view>(*c.text) : std::optional<std::string_view>());
        EXPECT_EQ(parsed.value, c.value);
        EXPECT_EQ(parsed.letter, c.letter);
        EXPECT_EQ(capture.lines(), c.lines);
    }
}

TEST(ParseXmpGPS, NaNTextParsesToNaN) {
    // "nan" ends in N: the letter is split off and "NA" fails. With a trailing hemisphere letter the
    // number part "NAN" is a number to strtod.
    EXPECT_EQ(parseXmpGPS("nan"), (ParsedCoordinate{std::nullopt, "N"}));
    const auto parsed = parseXmpGPS("nan E");
    ASSERT_TRUE(parsed.value.has_value());
    EXPECT_TRUE(std::isnan(*parsed.value));
    EXPECT_EQ(parsed.letter, "E");
}

TEST(ParseXmpGPS, SouthValueBecomesNegativeOnlyThroughApplyHemisphereSign) {
    const ParsedCoordinate parsed = parseXmpGPS("37.7749S");
    EXPECT_EQ(parsed.value, 37.7749);
    EXPECT_EQ(applyHemisphereSign(parsed.value, parsed.letter), -37.7749);
}

TEST(ParseDMSString, PatternAndLines) {
    struct Case {
        const char* why;
        std::string text;
        std::optional<double> value;
        std::string line;
    };
    const Case cases[] = {
        {"plain", "37 deg 46' 29.64\"", 37.7749, "[DEBUG] Parsed DMS 37 deg 46' 29.64\" as 37.7749"},
        {"deg in any letter case, no blanks", "37Deg46'29.64\"", 37.7749, "[DEBUG] Parsed DMS 37Deg46'29.64\" as 37.7749"},
        {"found anywhere in the text", "lat: 37 DEG 46' 29.64\" N", 37.7749,
         "[DEBUG] Parsed DMS lat: 37 DEG 46' 29.64\" N as 37.7749"},
        {"no range check on minutes", "10 deg 75' 0\"", 11.25, "[DEBUG] Parsed DMS 10 deg 75' 0\" as 11.25"},
        {"whole result prints with .0", "10 deg 30' 0\"", 10.5, "[DEBUG] Parsed DMS 10 deg 30' 0\" as 10.5"},
        {"white space of any kind around deg", "1\tdeg\n0' 0\"", 1.0, "[DEBUG] Parsed DMS 1\tdeg\n0' 0\" as 1.0"},
        {"non-ASCII digits match but count as 0", "\xD9\xA3 deg 30' 0\"", 0.5,
         "[DEBUG] Parsed DMS \xD9\xA3 deg 30' 0\" as 0.5"},
        {"closing double quote missing", "37 deg 46' 29.64", std::nullopt,
         "[DEBUG] Failed to parse DMS string: 37 deg 46' 29.64"},
        {"no deg", "37 46' 29.64\"", std::nullopt, "[DEBUG] Failed to parse DMS string: 37 46' 29.64\""},
        {"a dot needs digits after it", "37. deg 46' 29\"", std::nullopt,
         "[DEBUG] Failed to parse DMS string: 37. deg 46' 29\""},
        {"invalid UTF-8", "\xFF deg", std::nullopt, "[DEBUG] Failed to parse DMS string: \xFF deg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        DiagnosticsCapture capture;
        EXPECT_EQ(parseDMSString(c.text), c.value);
        EXPECT_EQ(capture.lines(), Lines{c.line});
    }
}

TEST(ParseDMSString, LongHostileTextIsMatchedInLinearTime) {
    // Many digits and blanks without the closing parts: a backtracking engine would take ages.
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "1 deg 1' ";
    EXPECT_EQ(parseDMSString(text), std::nullopt);
}

TEST(NormalizeHemisphereRef, LettersAndWordsInAnyCase) {
    struct Case {
        std::optional<std::string> text;
        std::string letter;
    };
    const Case cases[] = {
        {"N", "N"},       {"n", "N"},        {" north ", "N"}, {"NORTH", "N"}, {"S", "S"},   {"South", "S"},
        {"e", "E"},       {"East\n", "E"},   {"West", "W"},    {"w", "W"},     {"NE", ""},   {"Nord", ""},
        {"", ""},         {std::nullopt, ""}, {"N.", ""},      {"\xFF", ""},   {"SOUTH WEST", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.value_or("(absent)"));
        EXPECT_EQ(normalizeHemisphereRef(c.text ? std::optional<std::string_view>(*c.text) : std::nullopt), c.letter);
    }
}

TEST(ApplyHemisphereSign, OnlyBareLettersChangeTheSign) {
    struct Case {
        std::optional<double> value;
        std::string reference;
        std::optional<double> result;
    };
    const Case cases[] = {
        {12.5, "s", -12.5},  {12.5, "S", -12.5},   {-12.5, "W", -12.5},  {-12.5, "N", 12.5},
        {-12.5, "e", 12.5},  {-12.5, "", -12.5},   {12.5, " S", 12.5},   {12.5, "SOUTH", 12.5},
        {12.5, "S ", 12.5},  {std::nullopt, "S", std::nullopt},          {0.0, "S", -0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reference);
        EXPECT_EQ(applyHemisphereSign(c.value, c.reference), c.result);
    }
    EXPECT_TRUE(std::signbit(*applyHemisphereSign(0.0, "S")));
    EXPECT_FALSE(std::signbit(*applyHemisphereSign(-0.0, "N")));
}

TEST(HasHemisphereSuffix, TrimmedUpperCasedLastCharacter) {
    EXPECT_TRUE(hasHemisphereSuffix("37.5n"));
    EXPECT_TRUE(hasHemisphereSuffix(" 122.4194 W \n"));
    EXPECT_FALSE(hasHemisphereSuffix("37.5"));
    EXPECT_FALSE(hasHemisphereSuffix("N37.5"));
    EXPECT_FALSE(hasHemisphereSuffix(""));
    EXPECT_FALSE(hasHemisphereSuffix("  "));
    EXPECT_FALSE(hasHemisphereSuffix(std::nullopt));
    EXPECT_TRUE(hasHemisphereSuffix("E"));
}

TEST(CanonicalGPSText, JoinsTheLetterAndUpperCases) {
    struct Case {
        std::optional<std::string> text;
        std::string canonical;
    };
    const Case cases[] = {
        {"37.7749 n", "37.7749N"},
        {"37.77490000 n", "37.77490000N"},
        {"37.77490000N", "37.77490000N"},
        {"-122.5", "-122.5"},
        {"abc", "ABC"},
        {" 37,46.494 w\t", "37,46.494W"},
        {"", ""},
        {"   ", ""},
        {std::nullopt, ""},
        {"s", "S"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.value_or("(absent)"));
        EXPECT_EQ(canonicalGPSText(c.text ? std::optional<std::string_view>(*c.text) : std::nullopt), c.canonical);
    }
}

TEST(HemisphereLetter, ZeroIsNorthEastAndNaNSouthWest) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(hemisphereLetter(37.0, Axis::latitude), "N");
    EXPECT_EQ(hemisphereLetter(-37.0, Axis::latitude), "S");
    EXPECT_EQ(hemisphereLetter(0.0, Axis::latitude), "N");
    EXPECT_EQ(hemisphereLetter(-0.0, Axis::latitude), "N");
    EXPECT_EQ(hemisphereLetter(nan, Axis::latitude), "S");
    EXPECT_EQ(hemisphereLetter(122.0, Axis::longitude), "E");
    EXPECT_EQ(hemisphereLetter(-122.0, Axis::longitude), "W");
    EXPECT_EQ(hemisphereLetter(-0.0, Axis::longitude), "E");
    EXPECT_EQ(hemisphereLetter(nan, Axis::longitude), "W");
}

TEST(FormatGPS, EightDecimalsOfTheAbsoluteValue) {
    EXPECT_EQ(formatGPSValue(37.7749), "37.77490000");
    EXPECT_EQ(formatGPSValue(-122.4194), "122.41940000");
    EXPECT_EQ(formatGPSValue(0.000000001), "0.00000000");
    EXPECT_EQ(formatGPSValue(0.000000006), "0.00000001");
    EXPECT_EQ(formatGPSValue(-0.0), "0.00000000");
    EXPECT_EQ(formatGPSValue(180.0), "180.00000000");
    EXPECT_EQ(formatGPSValue(1e20), "100000000000000000000.00000000");
    EXPECT_EQ(formatGPSCoordinate(37.7749, Axis::latitude), "37.77490000N");
    EXPECT_EQ(formatGPSCoordinate(-122.4194, Axis::longitude), "122.41940000W");
    EXPECT_EQ(formatGPSCoordinate(-0.0, Axis::latitude), "0.00000000N");
    EXPECT_EQ(formatGPSCoordinate(-0.0, Axis::longitude), "0.00000000E");
    EXPECT_EQ(formatGPSCoordinate(-1e-9, Axis::latitude), "0.00000000S");
    EXPECT_EQ(formatGPSCoordinate(std::numeric_limits<double>::quiet_NaN(), Axis::latitude), "nanS");
    EXPECT_EQ(formatGPSCoordinate(-std::numeric_limits<double>::infinity(), Axis::longitude), "infW");
}

// Switches the process to a locale whose decimal separator is a comma for the life of the object;
// restores the previous locale afterwards. When no such locale is installed, one is compiled from the
// system's locale sources into a temporary folder (glibc reads LOCPATH at every setlocale).
class CommaLocale {
public:
    CommaLocale() {
        const char* current = std::setlocale(LC_ALL, nullptr);
        previous_ = current ? current : "C";
        if (trySwitch()) return;
        if (std::filesystem::exists("/usr/share/i18n/locales/de_DE")) {
            const std::string command = "localedef -i de_DE -f UTF-8 '" + (compiled_.path() / "de_DE.UTF-8").string() +
                                        "' >/dev/null 2>&1";
            if (std::system(command.c_str()) == 0) {
                ::setenv("LOCPATH", compiled_.path().c_str(), 1);
                if (trySwitch()) return;
                ::unsetenv("LOCPATH");
            }
        }
        std::setlocale(LC_ALL, previous_.c_str());
    }
    ~CommaLocale() {
        std::setlocale(LC_ALL, previous_.c_str());
        ::unsetenv("LOCPATH");
    }
    bool active() const { return !active_.empty(); }

private:
    bool trySwitch() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8",
                                 "ru_RU.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8"}) {
            if (std::setlocale(LC_ALL, name) && std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
                active_ = name;
                return true;
            }
        }
        return false;
    }

    test::TempDir compiled_;
    std::string previous_;
    std::string active_;
};

TEST(GpsTextLocale, ReadingAndWritingIgnoreTheProcessLocale) {
    CommaLocale locale;
    if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma is installed";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");  // the locale really is in force

    EXPECT_EQ(parseDecimalNumber("37.7749"), 37.7749);
    EXPECT_EQ(parseDecimalNumber("37,7749"), std::nullopt);
    EXPECT_EQ(formatGPSValue(37.7749), "37.77490000");
    EXPECT_EQ(formatGPSCoordinate(-122.4194, Axis::longitude), "122.41940000W");
    EXPECT_EQ(formatDouble(37.083333333333336), "37.083333333333336");
    EXPECT_EQ(toUpper("i"), "I");

    DiagnosticsCapture capture;
    EXPECT_EQ(parseXmpGPS("37,46.494N"), (ParsedCoordinate{37.7749, "N"}));
    EXPECT_EQ(parseXmpGPS("37.7749N"), (ParsedCoordinate{37.7749, "N"}));
    EXPECT_EQ(parseDMSString("37 deg 46' 29.64\""), 37.7749);
    EXPECT_EQ(capture.lines(), (Lines{"[DEBUG] parseXmpGPS input: '37,46.494N'",
                                      "[DEBUG] parseXmpGPS numberPart: '37,46.494', ref: 'N'",
                                      "[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,46.494 = 37.7749",
                                      "[DEBUG] parseXmpGPS input: '37.7749N'",
                                      "[DEBUG] parseXmpGPS numberPart: '37.7749', ref: 'N'",
                                      "[DEBUG] parseXmpGPS parsed as decimal: 37.7749",
                                      "[DEBUG] Parsed DMS 37 deg 46' 29.64\" as 37.7749"}));
}

}  // namespace
}  // namespace corvane
