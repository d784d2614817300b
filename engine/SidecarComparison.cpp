// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SidecarComparison.h"

#include "engine/Diagnostics.h"
#include "engine/GpsText.h"
#include "engine/SidecarGPS.h"
#include "engine/Text.h"

#include <cmath>
#include <optional>

namespace corvane {
namespace {

// The sidecar's position against the image's: each axis's number within tolerance, and whether each
// effective hemisphere fits the target (an absent one fits a matching number).
struct Comparison {
    bool latMatches = false;
    bool lonMatches = false;
    bool latRefCompatible = false;
    bool lonRefCompatible = false;
    bool coordinatesMatch = false;
};

// An absent sidecar value never matches; nor does NaN, which no comparison holds for.
bool withinTolerance(std::optional<double> sidecar, double target) {
    return sidecar.has_value() && std::fabs(*sidecar - target) <= GPSTolerance;
}

Comparison compare(const SidecarGPSReading& reading, const GPSTarget& target) {
    Comparison c;
    c.latMatches = withinTolerance(reading.latitudeDecimal, target.latitude);
    c.lonMatches = withinTolerance(reading.longitudeDecimal, target.longitude);
    const std::string& latRef = reading.effectiveLatRef;
    const std::string& lonRef = reading.effectiveLonRef;
    c.latRefCompatible = latRef == target.latRef || (latRef.empty() && c.latMatches);
    c.lonRefCompatible = lonRef == target.lonRef || (lonRef.empty() && c.lonMatches);
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

void printPreCheck(std::string_view name, const WriteSidecar& basis, const Comparison& c) {
    const SidecarGPSTexts& existing = basis.existing;
    const SidecarGPSReading& r = basis.reading;
    Diagnostics::line("[DEBUG] ", name, " XMP pre-check:");
    Diagnostics::line("[DEBUG]   existing: lat=", existing.latitude, " lon=", existing.longitude,
                      " latRef=", existing.latitudeRef, " lonRef=", existing.longitudeRef);
    Diagnostics::line("[DEBUG]   parsed:   lat=(", r.latitude.value, ",", r.latitude.letter, ") lon=(", r.longitude.value,
                      ",", r.longitude.letter, ")");
    Diagnostics::line("[DEBUG]   existing decimal: lat=", r.latitudeDecimal, " lon=", r.longitudeDecimal);
    Diagnostics::line("[DEBUG]   target decimal:   lat=", basis.target.latitude, " lon=", basis.target.longitude);
    Diagnostics::line("[DEBUG]   matches:  numeric lat=", c.latMatches, " lon=", c.lonMatches);
    Diagnostics::line("[DEBUG]   refs:     effective lat=", r.effectiveLatRef, " lon=", r.effectiveLonRef,
                      ", compatible lat=", c.latRefCompatible, " lon=", c.lonRefCompatible);
    Diagnostics::line("[DEBUG]   coordinatesMatch=", c.coordinatesMatch,
                      " (will skip only if false AND not alwaysOverwrite)");
}

// The rows of a sidecar left alone because it differs: each axis beyond tolerance, and each hemisphere
// that names the other side of a matching axis.
std::vector<GPSDifference> differencesBeyondTolerance(const WriteSidecar& basis, const Comparison& c) {
    const SidecarGPSTexts& existing = basis.existing;
    const GPSTarget& target = basis.target;
    const std::string& latRef = basis.reading.effectiveLatRef;
    const std::string& lonRef = basis.reading.effectiveLonRef;
    std::vector<GPSDifference> rows;
    if (!c.latMatches) rows.push_back({"Latitude", existing.latitude.value_or(target.latValueText), target.latText});
    if (!c.lonMatches) rows.push_back({"Longitude", existing.longitude.value_or(target.lonValueText), target.lonText});
    if (c.latMatches && !latRef.empty() && latRef != target.latRef) rows.push_back({"LatitudeRef", latRef, target.latRef});
    if (c.lonMatches && !lonRef.empty() && lonRef != target.lonRef) rows.push_back({"LongitudeRef", lonRef, target.lonRef});
    return rows;
}

// How the texts of a sidecar within tolerance differ from the canonical ones the writer would set.
std::vector<GPSDifference> formatDifferences(const WriteSidecar& basis) {
    const SidecarGPSTexts& existing = basis.existing;
    const GPSTarget& target = basis.target;
    std::vector<GPSDifference> differences;
    auto text = [](const std::optional<std::string>& value) { return std::string(orNil(value)); };
    if (canonicalGPSText(existing.latitude) != canonicalGPSText(target.latText))
        differences.push_back({"Latitude", text(existing.latitude), target.latText});
    if (canonicalGPSText(existing.longitude) != canonicalGPSText(target.lonText))
        differences.push_back({"Longitude", text(existing.longitude), target.lonText});
    if (basis.reading.effectiveLatRef != target.latRef) differences.push_back({"LatitudeRef", text(existing.latitudeRef), target.latRef});
    if (basis.reading.effectiveLonRef != target.lonRef) differences.push_back({"LongitudeRef", text(existing.longitudeRef), target.lonRef});
    return differences;
}

ComparisonDecision proceed(std::string_view name, WriteSidecar basis) {
    Diagnostics::line("[DEBUG] Proceeding with update check for ", name, " (exceeds tolerance or overwrite)");
    return basis;
}

}  // namespace

ComparisonDecision compareSidecarGPS(XmlNode element, const GPSTarget& target, std::string_view name,
                                     const RunSwitches& switches) {
    WriteSidecar basis{readSidecarGPSTexts(element), {}, target};
    printRawTexts(basis.existing);
    basis.reading = interpretSidecarGPS(basis.existing);
    const Comparison c = compare(basis.reading, target);
    printPreCheck(name, basis, c);

    if (!c.coordinatesMatch && !switches.alwaysOverwrite) {
        std::vector<GPSDifference> rows = differencesBeyondTolerance(basis, c);
        std::vector<std::string> described;
        for (const auto& row : rows) described.push_back(differenceText(row));
        Diagnostics::line("[DEBUG] Skipped (GPS coordinates differ) for ", name, ": ", joined(described, "; "));
        return ProcessingResult{outcome::SkippedDifferentGPS{std::move(rows)}};
    }
    if (switches.alwaysOverwrite) return proceed(name, std::move(basis));

    // Numerically right: a text without its hemisphere letter is rewritten into the canonical form.
    if (!hasHemisphereSuffix(basis.existing.latitude) || !hasHemisphereSuffix(basis.existing.longitude)) {
        Diagnostics::line("[DEBUG] Within tolerance, but XMP text is missing trailing hemisphere ref — will update ", name);
        return proceed(name, std::move(basis));
    }

    std::vector<GPSDifference> differences = formatDifferences(basis);
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
                                     const RunSwitches& switches) {
    if (!answer) {
        Diagnostics::line("[DEBUG] Failed ", name, ": ", answer.error().message);
        return outcome::Failed{answer.error().message};
    }
    const WriterAnswer& written = answer.value();
    if (!written.rewritesSidecar) {
        Diagnostics::line("[DEBUG] Already correct ", name);
        return outcome::AlreadyCorrect{};
    }
    if (switches.dryRun) {
        std::vector<std::string> changes;
        for (const auto& change : written.changes) changes.push_back("[DRY RUN] would update: " + change);
        Diagnostics::line("[DEBUG] Dry run — would update ", name, ": ", joined(changes, "; "));
        return outcome::Updated{std::move(changes)};
    }
    Diagnostics::line("[DEBUG] Updated ", name, ": ", joined(written.changes, "; "));
    return outcome::Updated{written.changes};
}

}  // namespace corvane
