// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/RationalDegrees.h"

namespace corvane {
namespace {

__extension__ typedef __int128 Int128;

Int128 gcd(Int128 a, Int128 b) {
    if (a < 0) a = -a;
    while (b != 0) {
        const Int128 rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}

}  // namespace

std::optional<double> degreesFromRationals(std::span<const RationalPart> parts) {
    if (parts.empty() || parts.size() > 3 || parts[0].denominator == 0) return std::nullopt;
    static constexpr int64_t unitsPerDegree[] = {1, 60, 3600};
    constexpr Int128 roomToMultiply = Int128{1} << 80;  // times a part's denominator (< 2^44) stays in range
    constexpr Int128 exactInLongDouble = Int128{1} << 64;

    Int128 numerator = 0;
    Int128 denominator = 1;
    long double approximate = 0;
    bool exact = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        Int128 partNumerator = parts[i].numerator;
        Int128 partDenominator = parts[i].denominator;
        if (partDenominator == 0) continue;
        if (partDenominator < 0) {
            partNumerator = -partNumerator;
            partDenominator = -partDenominator;
        }
        partDenominator *= unitsPerDegree[i];
        approximate += static_cast<long double>(partNumerator) / static_cast<long double>(partDenominator);
        if (!exact || numerator >= roomToMultiply || -numerator >= roomToMultiply || denominator >= roomToMultiply) {
            exact = false;
            continue;
        }
        numerator = numerator * partDenominator + partNumerator * denominator;
        denominator *= partDenominator;
        const Int128 common = gcd(numerator, denominator);
        if (common > 1) {
            numerator /= common;
            denominator /= common;
        }
    }
    if (exact && numerator < exactInLongDouble && -numerator < exactInLongDouble && denominator < exactInLongDouble) {
        // Both operands are exact in long double's 64-bit mantissa: one rounding, then the final one.
        return static_cast<double>(static_cast<long double>(numerator) / static_cast<long double>(denominator));
    }
    return static_cast<double>(approximate);
}

std::string fractionText(int64_t numerator, int64_t denominator) {
    return std::to_string(numerator) + "/" + std::to_string(denominator);
}

std::optional<MetadataValue> coordinateFromRationals(std::span<const RationalPart> parts) {
    if (parts.empty()) return std::nullopt;
    if (parts[0].denominator == 0) {
        std::string stored;
        for (const RationalPart& part : parts) stored += (stored.empty() ? "" : ", ") + fractionText(part.numerator, part.denominator);
        return MetadataValue{MetadataValue::Other{parts.size() == 1 ? stored : "(" + stored + ")"}};
    }
    if (auto degrees = degreesFromRationals(parts)) return MetadataValue{*degrees};
    return std::nullopt;
}

}  // namespace corvane
