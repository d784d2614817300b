// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/image/ImageProperties.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

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

// A rational as stored, "numerator/denominator" ("0/0").
std::string fractionText(int64_t numerator, int64_t denominator);

// A GPS coordinate stored as rationals, as the value the reading rules take: one number of degrees.
// Degrees of denominator 0 are how phones without a fix store the coordinate (Samsung writes 0/0 0/0
// 0/0): no value at all, never 0 degrees, whatever follows; the stored fractions are kept for the
// diagnostic lines. Absent for anything degreesFromRationals cannot sum (no parts, more than three),
// which a reader then hands over component by component.
std::optional<MetadataValue> coordinateFromRationals(std::span<const RationalPart> parts);

}  // namespace corvane
