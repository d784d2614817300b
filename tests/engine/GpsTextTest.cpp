// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Diagnostics.h"
#include "engine/GpsText.h"
#include "engine/Text.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>

namespace corvane {
namespace {

using Lines = std::vector<std::string>;
const std::optional<std::string> absent;
const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

std::optional<std::string_view> view(const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

TEST(ParseXmpGPS, EveryTextFormGivesItsValueAndLetter) {
    const std::tuple<std::optional<std::string>, std::optional<double>, std::string> cases[] = {
        {absent, std::nullopt, ""}, {"  \n\t ", std::nullopt, ""}, {"37.77490000N", 37.7749, "N"},
        {" 122.4194 w ", 122.4194, "W"}, {"-122.4194", -122.4194, ""}, {"37.7749S", 37.7749, "S"},  // not applied
        {"37,46.494N", 37.7749, "N"}, {"37,5", 37.083333333333336, ""},  // a comma always means minutes
        {"37,,46.5", 37.775, ""}, {"37,46.5,E", 37.775, "E"}, {"37, 46.494N", std::nullopt, "N"},  // empty pieces dropped
        {",5N", 0.5, "N"}, {"37,5,0", std::nullopt, ""},  // one piece: the comma becomes a decimal point
        {"37 deg 46' 29.64\" N", 37.7749, "N"}, {"-37 deg 46' 29.64\"", 37.7749, ""}, {"37 deg 46N", std::nullopt, "N"},
        {"lat: 37Deg46'29.64\"", 37.7749, ""}, {"10 deg 75' 0\"", 11.25, ""}, {"1\tdeg\n0' 0\"", 1.0, ""},  // found anywhere
        {"\xD9\xA3 deg 30' 0\"", 0.5, ""},  // a non-ASCII digit matches the pattern but counts as 0
        {"37 deg 46' 29.64", std::nullopt, ""}, {"37. deg 46' 29\"", std::nullopt, ""}, {"\xFF deg", std::nullopt, ""},
        {"N37.5", std::nullopt, ""}, {"E", std::nullopt, "E"}, {"12.5\xC2\xA0s", 12.5, "S"}, {"0x1p3", 8.0, ""},
        {"inf", inf, ""}, {"nan", std::nullopt, "N"}, {"\xFF" "37.5\xC3n", std::nullopt, "N"},
        {"37.5N\xCC\x81", std::nullopt, ""},  // a combining mark on the letter: no letter
    };
    for (const auto& [text, value, letter] : cases)
        EXPECT_EQ(parseXmpGPS(view(text)), (ParsedCoordinate{value, letter})) << text.value_or("(absent)");
    EXPECT_TRUE(std::isnan(parseXmpGPS("nan E").value.value_or(0)));
}

TEST(ParseXmpGPS, EachReadingPathPrintsItsLines) {
    const std::pair<std::string, Lines> cases[] = {
        {"", {}},
        {"37N", {"[DEBUG] parseXmpGPS input: '37N'", "[DEBUG] parseXmpGPS numberPart: '37', ref: 'N'",
                 "[DEBUG] parseXmpGPS parsed as decimal: 37.0"}},
        {"37,5", {"[DEBUG] parseXmpGPS input: '37,5'", "[DEBUG] parseXmpGPS numberPart: '37,5', ref: ''",
                  "[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,5.0 = 37.083333333333336"}},
        {"37 deg 46' 29.64\" N",
         {"[DEBUG] parseXmpGPS input: '37 deg 46' 29.64\" N'", "[DEBUG] parseXmpGPS numberPart: '37 DEG 46' 29.64\"', ref: 'N'",
          "[DEBUG] Parsed DMS 37 DEG 46' 29.64\" as 37.7749", "[DEBUG] parseXmpGPS parsed DMS: 37 DEG 46' 29.64\" = 37.7749"}},
        {" 37,46,29.64n", {"[DEBUG] parseXmpGPS input: '37,46,29.64n'", "[DEBUG] parseXmpGPS numberPart: '37,46,29.64', ref: 'N'",
                           "[DEBUG] parseXmpGPS failed to parse: '37,46,29.64n'"}},
        {"37 deg 46N", {"[DEBUG] parseXmpGPS input: '37 deg 46N'", "[DEBUG] parseXmpGPS numberPart: '37 DEG 46', ref: 'N'",
                        "[DEBUG] Failed to parse DMS string: 37 DEG 46", "[DEBUG] parseXmpGPS failed to parse: '37 deg 46N'"}},
    };
    for (const auto& [text, lines] : cases) {
        DiagnosticsCapture capture;
        parseXmpGPS(text);
        EXPECT_EQ(capture.lines(), lines) << text;
    }
}

TEST(ParseDMSString, LongHostileTextIsMatchedInLinearTime) {
    std::string hostile;  // many partial matches: a backtracking engine would take ages
    for (int i = 0; i < 20000; ++i) hostile += "1 deg 1' ";
    EXPECT_EQ(parseDMSString(hostile), std::nullopt);
}

TEST(HemisphereTexts, ReferenceSuffixCanonicalFormAndSign) {
    const std::pair<std::optional<std::string>, std::string> references[] = {
        {"n", "N"}, {" north ", "N"}, {"South", "S"}, {"East\n", "E"}, {"w", "W"}, {"NE", ""}, {"Nord", ""},
        {"N.", ""}, {absent, ""}, {"\xFF", ""}};
    for (const auto& [text, letter] : references) EXPECT_EQ(normalizeHemisphereRef(view(text)), letter);
    const std::pair<std::optional<std::string>, bool> suffixes[] = {
        {"37.5n", true}, {" 122.4 W \n", true}, {"E", true}, {"37.5", false}, {"N37.5", false}, {"  ", false}, {absent, false}};
    for (const auto& [text, has] : suffixes) EXPECT_EQ(hasHemisphereSuffix(view(text)), has) << text.value_or("-");
    const std::pair<std::optional<std::string>, std::string> canonical[] = {
        {"37.7749 n", "37.7749N"}, {"-122.5", "-122.5"}, {"abc", "ABC"}, {" 37,46.494 w\t", "37,46.494W"}, {absent, ""}};
    for (const auto& [text, form] : canonical) EXPECT_EQ(canonicalGPSText(view(text)), form);
    // Only a bare letter, in any case, changes the sign.
    const std::tuple<std::optional<double>, std::string, std::optional<double>> signs[] = {
        {12.5, "s", -12.5}, {-12.5, "W", -12.5}, {-12.5, "N", 12.5}, {-12.5, "e", 12.5}, {-12.5, "", -12.5},
        {12.5, " S", 12.5}, {12.5, "SOUTH", 12.5}, {std::nullopt, "S", std::nullopt}};
    for (const auto& [value, reference, result] : signs) EXPECT_EQ(applyHemisphereSign(value, reference), result) << reference;
    EXPECT_TRUE(std::signbit(*applyHemisphereSign(0.0, "S")));
}

TEST(FormatGPS, EightDecimalsOfTheMagnitudeThenTheLetter) {
    // Zero (also -0) is north/east; NaN south/west.
    constexpr Axis lat = Axis::latitude, lon = Axis::longitude;
    const std::tuple<double, Axis, std::string> cases[] = {
        {37.7749, lat, "37.77490000N"}, {-122.4194, lon, "122.41940000W"}, {-37.0, lat, "37.00000000S"},
        {122.0, lon, "122.00000000E"},  {-0.0, lat, "0.00000000N"},        {-0.0, lon, "0.00000000E"},
        {-1e-9, lat, "0.00000000S"},    {6e-9, lat, "0.00000001N"},        {1e20, lat, "100000000000000000000.00000000N"},
        {nan, lat, "nanS"},             {nan, lon, "nanW"},                {-inf, lon, "infW"}};
    for (const auto& [value, axis, text] : cases) EXPECT_EQ(formatGPSCoordinate(value, axis), text);
}

TEST(FormatGPS, XmpFormIsWholeDegreesAndMinutesWithSixDecimals) {
    // Minutes are not zero-padded, as exiftool writes them; minutes that round to 60 carry.
    constexpr Axis lat = Axis::latitude, lon = Axis::longitude;
    const std::tuple<double, Axis, std::string> cases[] = {
        {37.7749, lat, "37,46.494000N"},      {-122.4194, lon, "122,25.164000W"}, {-0.0, lat, "0,0.000000N"},
        {-33.05, lat, "33,3.000000S"},         {1e-9, lon, "0,0.000000E"},         {179.9999999999, lon, "180,0.000000E"},
        {-89.99999999, lat, "89,59.999999S"},  {nan, lat, "nanS"}};
    for (const auto& [value, axis, text] : cases) EXPECT_EQ(formatGPSCoordinate(value, axis, CoordinateForm::xmp), text);
    // What the engine writes, it reads back as the same position.
    for (double value : {37.7749, 122.4194, 0.5, 45.999999999})
        EXPECT_NEAR(*parseXmpGPS(formatGPSCoordinate(value, lat, CoordinateForm::xmp)).value, value, 1e-8);
}

TEST(GpsTextLocale, ReadingAndWritingIgnoreTheProcessLocale) {
    // A locale whose decimal separator is a comma, compiled from the system's locale sources into a
    // temporary folder when none is installed (glibc reads LOCPATH when a locale is loaded).
    const test::TempDir compiled;
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    const std::string compile = "localedef -i de_DE -f UTF-8 '" + (compiled.path() / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && std::system(compile.c_str()) == 0) ::setenv("LOCPATH", compiled.path().c_str(), 1);
    const bool active = std::setlocale(LC_ALL, "de_DE.UTF-8") && std::strcmp(std::localeconv()->decimal_point, ",") == 0;
    ::unsetenv("LOCPATH");
    if (!active) GTEST_SKIP() << "no locale with a decimal comma can be made";
    EXPECT_EQ(parseDecimalNumber("37.7749"), 37.7749);
    EXPECT_EQ(parseDecimalNumber("37,7749"), std::nullopt);
    EXPECT_EQ(formatGPSCoordinate(-122.4194, Axis::longitude), "122.41940000W");
    EXPECT_EQ(formatDouble(37.083333333333336), "37.083333333333336");
    EXPECT_EQ(parseXmpGPS("37,46.494N"), (ParsedCoordinate{37.7749, "N"}));
    std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace corvane
