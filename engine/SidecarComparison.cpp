// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SidecarComparison.h"

#include "engine/Diagnostics.h"
#include "engine/GpsText.h"
#include "engine/SidecarGPS.h"
#include "engine/Text.h"

#include <cmath>

namespace corvane {
namespace {

// The sidecar's position against the image's: each axis's number within tolerance, and whether each
// effective hemisphere fits the target (an absent one fits a matching number).
struct Comparison {
    SidecarGPSReading reading;
    std::string targetLatRef;
    std::string targetLonRef;
    std::string targetLatText;
    std::string targetLonText;
    bool latMatches = false;
    bool lonMatches = false;
    bool latRefCompatible = false;
    bool lonRefCompatible = false;
    bool coordinatesMatch = false;
};

Comparison compare(const SidecarGPSTexts& existing, double latitude, double longitude) {
    Comparison c;
    c.reading = interpretSidecarGPS(existing);
    c.targetLatRef = hemisphereLetter(latitude, Axis::latitude);
    c.targetLonRef = hemisphereLetter(longitude, Axis::longitude);
    c.targetLatText = formatGPSCoordinate(latitude, Axis::latitude);
    c.targetLonText = formatGPSCoordinate(longitude, Axis::longitude);
    const double latDiff = std::fabs(c.reading.latitudeDecimal.value_or(missingValueSentinel) - latitude);
    const double lonDiff = std::fabs(c.reading.longitudeDecimal.value_or(missingValueSentinel) - longitude);
    c.latMatches = latDiff <= GPSTolerance;  // false for NaN
    c.lonMatches = lonDiff <= GPSTolerance;
    const std::string& latRef = c.reading.effectiveLatRef;
    const std::string& lonRef = c.reading.effectiveLonRef;
    c.latRefCompatible = latRef == c.targetLatRef || (latRef.empty() && c.latMatches);
    c.lonRefCompatible = lonRef == c.targetLonRef || (lonRef.empty() && c.lonMatches);
    c.coordinatesMatch = c.latMatches && c.lonMatches && c.latRefCompatible && c.lonRefCompatible;
    return c;
}

void printRawTexts(const SidecarGPSTexts& existing) {
    Diagnostics::line("[DEBUG] Raw XMP GPS values:");
    Diagnostics::line("[DEBUG]   existingLat raw: '", existing.latitude, "'");
    Diagnostics::line("[DEBUG]   existingLon raw: '", existing.longitude, "'");
    Diagnostics::line("[DEBUG]   existingLatRef raw: '", existing.latitudeRef, "'");
    Diagnostics::line("[DEBUG]   existingLonRef raw: '", existing.longitudeRef, "'");
}

void printPreCheck(std::string_view name, const SidecarGPSTexts& existing, const Comparison& c, double latitude,
                   double longitude) {
    const SidecarGPSReading& r = c.reading;
    Diagnostics::line("[DEBUG] ", name, " XMP pre-check:");
    Diagnostics::line("[DEBUG]   existing: lat=", existing.latitude, " lon=", existing.longitude,
                      " latRef=", existing.latitudeRef, " lonRef=", existing.longitudeRef);
    Diagnostics::line("[DEBUG]   parsed:   lat=(", r.latitude.value, ",", r.latitude.letter, ") lon=(", r.longitude.value,
                      ",", r.longitude.letter, ")");
    Diagnostics::line("[DEBUG]   existing decimal: lat=", r.latitudeDecimal, " lon=", r.longitudeDecimal);
    Diagnostics::line("[DEBUG]   target decimal:   lat=", latitude, " lon=", longitude);
    Diagnostics::line("[DEBUG]   matches:  numeric lat=", c.latMatches, " lon=", c.lonMatches);
    Diagnostics::line("[DEBUG]   refs:     effective lat=", r.effectiveLatRef, " lon=", r.effectiveLonRef,
                      ", compatible lat=", c.latRefCompatible, " lon=", c.lonRefCompatible);
    Diagnostics::line("[DEBUG]   coordinatesMatch=", c.coordinatesMatch,
                      " (will skip only if false AND not alwaysOverwrite)");
}

// The rows of a sidecar left alone because it differs: each axis beyond tolerance, and each hemisphere
// that names the other side of a matching axis.
std::vector<GPSDifference> differencesBeyondTolerance(const SidecarGPSTexts& existing, const Comparison& c,
                                                      double latitude, double longitude) {
    const std::string& latRef = c.reading.effectiveLatRef;
    const std::string& lonRef = c.reading.effectiveLonRef;
    std::vector<GPSDifference> rows;
    if (!c.latMatches) rows.push_back({"Latitude", existing.latitude.value_or(formatGPSValue(latitude)), c.targetLatText});
    if (!c.lonMatches)
        rows.push_back({"Longitude", existing.longitude.value_or(formatGPSValue(longitude)), c.targetLonText});
    if (c.latMatches && !latRef.empty() && latRef != c.targetLatRef) rows.push_back({"LatitudeRef", latRef, c.targetLatRef});
    if (c.lonMatches && !lonRef.empty() && lonRef != c.targetLonRef) rows.push_back({"LongitudeRef", lonRef, c.targetLonRef});
    return rows;
}

// How the texts of a sidecar within tolerance differ from the canonical ones the writer would set.
std::vector<GPSDifference> formatDifferences(const SidecarGPSTexts& existing, const Comparison& c) {
    std::vector<GPSDifference> differences;
    auto text = [](const std::optional<std::string>& value) { return std::string(orNil(value)); };
    if (canonicalGPSText(existing.latitude) != canonicalGPSText(c.targetLatText))
        differences.push_back({"Latitude", text(existing.latitude), c.targetLatText});
    if (canonicalGPSText(existing.longitude) != canonicalGPSText(c.targetLonText))
        differences.push_back({"Longitude", text(existing.longitude), c.targetLonText});
    if (c.reading.effectiveLatRef != c.targetLatRef) differences.push_back({"LatitudeRef", text(existing.latitudeRef), c.targetLatRef});
    if (c.reading.effectiveLonRef != c.targetLonRef) differences.push_back({"LongitudeRef", text(existing.longitudeRef), c.targetLonRef});
    return differences;
}

ComparisonDecision proceed(std::string_view name) {
    Diagnostics::line("[DEBUG] Proceeding with update check for ", name, " (exceeds tolerance or overwrite)");
    return WriteSidecar{};
}

}  // namespace

ComparisonDecision compareSidecarGPS(pugi::xml_node element, double latitude, double longitude, std::string_view name,
                                     const RunSettings& settings) {
    const SidecarGPSTexts existing = readSidecarGPSTexts(element);
    printRawTexts(existing);
    const Comparison c = compare(existing, latitude, longitude);
    printPreCheck(name, existing, c, latitude, longitude);

    if (!c.coordinatesMatch && !settings.alwaysOverwrite) {
        std::vector<GPSDifference> rows = differencesBeyondTolerance(existing, c, latitude, longitude);
        std::vector<std::string> described;
        for (const auto& row : rows) described.push_back(differenceText(row));
        Diagnostics::line("[DEBUG] Skipped (GPS coordinates differ) for ", name, ": ", joined(described, "; "));
        return ProcessingResult{outcome::SkippedDifferentGPS{std::move(rows)}};
    }
    if (settings.alwaysOverwrite) return proceed(name);

    // Numerically right: a text without its hemisphere letter is rewritten into the canonical form.
    if (!hasHemisphereSuffix(existing.latitude) || !hasHemisphereSuffix(existing.longitude)) {
        Diagnostics::line("[DEBUG] Within tolerance, but XMP text is missing trailing hemisphere ref — will update ", name);
        return proceed(name);
    }

    std::vector<GPSDifference> differences = formatDifferences(existing, c);
    if (!differences.empty()) {
        std::vector<std::string> described;
        for (const auto& difference : differences) described.push_back(formatDifferenceText(difference));
        Diagnostics::line("[DEBUG] Within tolerance — not updating ", name, ". Differences: ", joined(described, "; "));
        return ProcessingResult{outcome::WithinTolerance{std::move(differences)}};
    }
    Diagnostics::line("[DEBUG] Within tolerance and text matches — not updating ", name);
    return ProcessingResult{outcome::AlreadyCorrect{}};
}

ProcessingResult reportWriterOutcome(std::string_view name, const Expected<WriterAnswer>& answer,
                                     const RunSettings& settings) {
    if (!answer) {
        Diagnostics::line("[DEBUG] Failed ", name, ": ", answer.error().message);
        return outcome::Failed{answer.error().message};
    }
    const WriterAnswer& written = answer.value();
    if (!written.written) {
        Diagnostics::line("[DEBUG] Already correct ", name);
        return outcome::AlreadyCorrect{};
    }
    if (settings.dryRun) {
        std::vector<std::string> changes;
        for (const auto& change : written.changes) changes.push_back("[DRY RUN] would update: " + change);
        Diagnostics::line("[DEBUG] Dry run — would update ", name, ": ", joined(changes, "; "));
        return outcome::Updated{std::move(changes)};
    }
    Diagnostics::line("[DEBUG] Updated ", name, ": ", joined(written.changes, "; "));
    return outcome::Updated{written.changes};
}

}  // namespace corvane
