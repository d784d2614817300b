// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/GpsText.h"

#include "engine/Diagnostics.h"
#include "engine/Text.h"

#include <re2/re2.h>

#include <charconv>
#include <cmath>
#include <vector>

namespace corvane {
namespace {

// The number with this many decimals, rounded as printf rounds, with "." whatever the locale.
std::string fixedDecimals(double number, int decimals) {
    char buffer[400];  // the largest double has 309 integer digits
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed, decimals);
    return error == std::errc{} ? std::string(buffer, end) : std::string();
}

bool isHemisphereLetter(char c) { return c == 'N' || c == 'S' || c == 'E' || c == 'W'; }

// The degree-minute-second pattern, compiled once. \d and \s keep their Unicode meaning (any decimal
// digit, any white space), as in the regular-expression engines sidecar tools are written against.
const RE2& dmsPattern() {
    static const RE2 pattern = [] {
        const std::string digit = R"(\p{Nd})";
        const std::string space = R"([\t\n\v\f\r\x{85}\p{Z}])";
        const std::string number = "(" + digit + "+(?:\\." + digit + "+)?)";
        RE2::Options options;
        options.set_case_sensitive(false);
        options.set_log_errors(false);
        return RE2(number + space + "*deg" + space + "*" + number + "'" + space + "*" + number + "\"", options);
    }();
    return pattern;
}

}  // namespace

std::optional<double> parseDMSString(std::string_view text) {
    const RE2& pattern = dmsPattern();
    re2::StringPiece degrees, minutes, seconds;
    if (!pattern.ok() ||
        !RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), pattern, &degrees, &minutes, &seconds)) {
        Diagnostics::line("[DEBUG] Failed to parse DMS string: ", text);
        return std::nullopt;
    }
    auto number = [](re2::StringPiece group) {
        return parseDecimalNumber(std::string_view(group.data(), group.size())).value_or(0.0);
    };
    const double value = number(degrees) + number(minutes) / 60.0 + number(seconds) / 3600.0;
    Diagnostics::line("[DEBUG] Parsed DMS ", text, " as ", value);
    return value;
}

ParsedCoordinate parseXmpGPS(std::optional<std::string_view> text) {
    const std::string_view trimmed = trim(text.value_or(std::string_view{}));
    if (trimmed.empty()) return {};
    Diagnostics::line("[DEBUG] parseXmpGPS input: '", trimmed, "'");

    const std::string upper = toUpper(trimmed);
    std::string letter;
    std::string numberPart = upper;
    if (!upper.empty() && isHemisphereLetter(upper.back())) {
        letter = std::string(1, upper.back());
        numberPart = std::string(trim(std::string_view(upper).substr(0, upper.size() - 1)));
    }
    Diagnostics::line("[DEBUG] parseXmpGPS numberPart: '", numberPart, "', ref: '", letter, "'");

    if (containsIgnoringAsciiCase(numberPart, "deg")) {
        if (auto value = parseDMSString(numberPart)) {
            Diagnostics::line("[DEBUG] parseXmpGPS parsed DMS: ", numberPart, " = ", *value);
            return {value, letter};
        }
    }

    if (numberPart.find(',') != std::string::npos) {
        std::vector<std::string_view> pieces;
        std::string_view rest = numberPart;
        while (true) {
            const size_t comma = rest.find(',');
            std::string_view piece = rest.substr(0, comma);
            if (!piece.empty()) pieces.push_back(piece);
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        if (pieces.size() == 2) {
            const auto degrees = parseDecimalNumber(pieces[0]);
            const auto minutes = parseDecimalNumber(pieces[1]);
            if (degrees && minutes) {
                const double value = *degrees + *minutes / 60.0;
                Diagnostics::line("[DEBUG] parseXmpGPS parsed degrees,minutes: ", *degrees, ",", *minutes, " = ", value);
                return {value, letter};
            }
        }
    }

    std::string decimal = numberPart;
    for (char& c : decimal)
        if (c == ',') c = '.';
    if (auto value = parseDecimalNumber(decimal)) {
        Diagnostics::line("[DEBUG] parseXmpGPS parsed as decimal: ", *value);
        return {value, letter};
    }

    Diagnostics::line("[DEBUG] parseXmpGPS failed to parse: '", trimmed, "'");
    return {std::nullopt, letter};
}

std::string normalizeHemisphereRef(std::optional<std::string_view> text) {
    const std::string upper = toUpper(trim(text.value_or(std::string_view{})));
    if (upper == "N" || upper == "NORTH") return "N";
    if (upper == "S" || upper == "SOUTH") return "S";
    if (upper == "E" || upper == "EAST") return "E";
    if (upper == "W" || upper == "WEST") return "W";
    return {};
}

std::optional<double> applyHemisphereSign(std::optional<double> value, std::string_view reference) {
    if (!value) return std::nullopt;
    const std::string upper = toUpper(reference);
    if (upper == "S" || upper == "W") return -std::fabs(*value);
    if (upper == "N" || upper == "E") return std::fabs(*value);
    return value;
}

bool hasHemisphereSuffix(std::optional<std::string_view> text) {
    const std::string upper = toUpper(trim(text.value_or(std::string_view{})));
    return !upper.empty() && isHemisphereLetter(upper.back());
}

std::string canonicalGPSText(std::optional<std::string_view> text) {
    const std::string_view trimmed = trim(text.value_or(std::string_view{}));
    if (trimmed.empty()) return {};
    const std::string upper = toUpper(trimmed);
    if (!isHemisphereLetter(upper.back())) return upper;
    std::string canonical(trim(std::string_view(upper).substr(0, upper.size() - 1)));
    canonical.push_back(upper.back());
    return canonical;
}

std::string hemisphereLetter(double value, Axis axis) {
    const bool positive = value >= 0;  // false for NaN
    if (axis == Axis::latitude) return positive ? "N" : "S";
    return positive ? "E" : "W";
}

std::string formatGPSValue(double value) {
    // "%.8f" of the magnitude. std::to_chars rounds exactly as printf does but never consults the
    // process locale, so a front end running under a decimal-comma locale still writes "37.77490000".
    const double magnitude = std::fabs(value);
    if (std::isnan(magnitude)) return "nan";
    if (std::isinf(magnitude)) return "inf";
    return fixedDecimals(magnitude, 8);
}

std::string formatXmpGPSValue(double value) {
    const double magnitude = std::fabs(value);
    if (!std::isfinite(magnitude)) return formatGPSValue(value);
    double degrees = std::floor(magnitude);
    // The minutes are rounded to six decimals once, as text; when that gives 60 they are a whole degree.
    std::string minutes = fixedDecimals((magnitude - degrees) * 60, 6);
    if (minutes == "60.000000") {
        degrees += 1;
        minutes = "0.000000";
    }
    return fixedDecimals(degrees, 0) + "," + minutes;
}

std::string formatGPSValue(double value, CoordinateForm form) {
    return form == CoordinateForm::xmp ? formatXmpGPSValue(value) : formatGPSValue(value);
}

std::string formatGPSCoordinate(double value, Axis axis, CoordinateForm form) {
    return formatGPSValue(value, form) + hemisphereLetter(value, axis);
}

}  // namespace corvane
