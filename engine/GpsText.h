// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/RunSwitches.h"

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Every rule about the GPS texts of a sidecar: reading coordinate and hemisphere texts in the forms
// that sidecar writers produce, and the one form the engine writes. Pure functions apart from their
// diagnostic lines; safe from any thread.

enum class Axis { latitude, longitude };

// What a coordinate text holds: the number with the sign the text itself carries, and the hemisphere
// letter written after it ("N", "S", "E", "W" or empty). The letter is returned, not applied.
struct ParsedCoordinate {
    std::optional<double> value;
    std::string letter;

    friend bool operator==(const ParsedCoordinate&, const ParsedCoordinate&) = default;
};

// Reads the coordinate forms that sidecar writers produce: decimal degrees, degrees with decimal
// minutes after a comma ("37,46.494N"), and degree-minute-second text ("37 deg 46' 29.64\""). A comma
// always means degrees and minutes first. An absent or blank text gives (absent, "") silently.
ParsedCoordinate parseXmpGPS(std::optional<std::string_view> text);

// Finds the first "D deg M' S\"" anywhere in the text (letter case of "deg" ignored) and returns
// D + M/60 + S/3600, never negative; absent when there is no such text.
std::optional<double> parseDMSString(std::string_view text);

// "N", "S", "E" or "W" for a reference letter or word (trimmed, any case: "s", "South"); else "".
std::string normalizeHemisphereRef(std::optional<std::string_view> text);

// The value made negative for "S"/"W" and positive for "N"/"E" (the reference upper-cased but not
// trimmed); any other reference leaves it unchanged.
std::optional<double> applyHemisphereSign(std::optional<double> value, std::string_view reference);

// True when the trimmed, upper-cased text ends in N, S, E or W.
bool hasHemisphereSuffix(std::optional<std::string_view> text);

// The form in which two coordinate texts are compared: trimmed, upper-cased, and a trailing hemisphere
// letter joined directly to the number ("37.7749 n" gives "37.7749N"). No number is parsed.
std::string canonicalGPSText(std::optional<std::string_view> text);

// "N"/"S" for a latitude, "E"/"W" for a longitude; zero (also -0) is north/east, NaN south/west.
std::string hemisphereLetter(double value, Axis axis);

// The absolute value with eight decimals ("%.8f"), whatever the user's locale.
std::string formatGPSValue(double value);

// The absolute value in the XMP GPSCoordinate form: whole degrees, a comma, the minutes with six
// decimals ("37,46.494000"; "0,0.000000"); minutes that round to 60 carry into the degrees.
std::string formatXmpGPSValue(double value);

// The absolute value in the form given: formatGPSValue or formatXmpGPSValue.
std::string formatGPSValue(double value, CoordinateForm form);

// The value in the form given, followed directly by the hemisphere letter: the text the engine writes
// ("37.77490000N", or "37,46.494000N" in the xmp form).
std::string formatGPSCoordinate(double value, Axis axis, CoordinateForm form = CoordinateForm::decimal);

}  // namespace corvane
