// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace corvane {

// One rational part of a coordinate as stored: numerator and denominator.
struct RationalPart {
    int64_t numerator = 0;
    int64_t denominator = 1;
};

// Degrees, minutes and seconds (one to three parts) as one number of degrees, the value the platform's
// image reader hands over for a GPS coordinate. The sum is formed exactly and rounded once, so
// 37 46' 29.64" reads as 37.7749 and not as the neighbouring double that adding rounded parts would
// give. Absent when there are no parts, more than three, or the degrees' denominator is 0: phones
// without a fix store 0/0 there, and that is no coordinate at all, not 0 degrees. Minutes or seconds
// of denominator 0 count as 0.
std::optional<double> degreesFromRationals(std::span<const RationalPart> parts);

}  // namespace corvane
