#include "engine/SidecarComparison.h"

#include "engine/Diagnostics.h"
#include "engine/GpsText.h"
#include "engine/SidecarGPS.h"

#include <cmath>

namespace corvane {
namespace {

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += (i ? "; " : "") + items[i];
    return out;
}

std::string nilOr(const std::optional<std::string>& text) { return text ? *text : "nil"; }

}  // namespace

ComparisonDecision compareSidecarGPS(pugi::xml_node element, double latitude, double longitude, std::string_view name,
                                     const RunSettings& settings) {
    const SidecarGPSTexts existing = readSidecarGPSTexts(element);
    Diagnostics::line("[DEBUG] Raw XMP GPS values:");
    Diagnostics::line("[DEBUG]   existingLat raw: '", existing.latitude, "'");
    Diagnostics::line("[DEBUG]   existingLon raw: '", existing.longitude, "'");
    Diagnostics::line("[DEBUG]   existingLatRef raw: '", existing.latitudeRef, "'");
    Diagnostics::line("[DEBUG]   existingLonRef raw: '", existing.longitudeRef, "'");

    const SidecarGPSReading reading = interpretSidecarGPS(existing);
    const std::string targetLatRef = hemisphereLetter(latitude, Axis::latitude);
    const std::string targetLonRef = hemisphereLetter(longitude, Axis::longitude);
    const double latDiff = std::fabs(reading.latitudeDecimal.value_or(missingValueSentinel) - latitude);
    const double lonDiff = std::fabs(reading.longitudeDecimal.value_or(missingValueSentinel) - longitude);
    const bool latMatches = latDiff <= GPSTolerance;  // false for NaN
    const bool lonMatches = lonDiff <= GPSTolerance;
    const bool latRefCompatible = reading.effectiveLatRef == targetLatRef || (reading.effectiveLatRef.empty() && latMatches);
    const bool lonRefCompatible = reading.effectiveLonRef == targetLonRef || (reading.effectiveLonRef.empty() && lonMatches);
    const bool coordinatesMatch = latMatches && lonMatches && latRefCompatible && lonRefCompatible;
    const std::string targetLatText = formatGPSCoordinate(latitude, Axis::latitude);
    const std::string targetLonText = formatGPSCoordinate(longitude, Axis::longitude);

    Diagnostics::line("[DEBUG] ", name, " XMP pre-check:");
    Diagnostics::line("[DEBUG]   existing: lat=", existing.latitude, " lon=", existing.longitude,
                      " latRef=", existing.latitudeRef, " lonRef=", existing.longitudeRef);
    Diagnostics::line("[DEBUG]   parsed:   lat=(", reading.latitude.value, ",", reading.latitude.letter, ") lon=(",
                      reading.longitude.value, ",", reading.longitude.letter, ")");
    Diagnostics::line("[DEBUG]   existing decimal: lat=", reading.latitudeDecimal, " lon=", reading.longitudeDecimal);
    Diagnostics::line("[DEBUG]   target decimal:   lat=", latitude, " lon=", longitude);
    Diagnostics::line("[DEBUG]   matches:  numeric lat=", latMatches, " lon=", lonMatches);
    Diagnostics::line("[DEBUG]   refs:     effective lat=", reading.effectiveLatRef, " lon=", reading.effectiveLonRef,
                      ", compatible lat=", latRefCompatible, " lon=", lonRefCompatible);
    Diagnostics::line("[DEBUG]   coordinatesMatch=", coordinatesMatch,
                      " (will skip only if false AND not alwaysOverwrite)");

    auto proceed = [&]() -> ComparisonDecision {
        Diagnostics::line("[DEBUG] Proceeding with update check for ", name, " (exceeds tolerance or overwrite)");
        return WriteSidecar{};
    };

    const bool alwaysOverwrite = settings.alwaysOverwrite;
    if (!coordinatesMatch && !alwaysOverwrite) {
        std::vector<GPSDifference> rows;
        if (!latMatches)
            rows.push_back({"Latitude", existing.latitude.value_or(formatGPSValue(latitude)), targetLatText});
        if (!lonMatches)
            rows.push_back({"Longitude", existing.longitude.value_or(formatGPSValue(longitude)), targetLonText});
        if (latMatches && !reading.effectiveLatRef.empty() && reading.effectiveLatRef != targetLatRef)
            rows.push_back({"LatitudeRef", reading.effectiveLatRef, targetLatRef});
        if (lonMatches && !reading.effectiveLonRef.empty() && reading.effectiveLonRef != targetLonRef)
            rows.push_back({"LongitudeRef", reading.effectiveLonRef, targetLonRef});
        std::vector<std::string> described;
        for (const auto& row : rows) described.push_back(row.field + ": " + row.currentValue + " → " + row.newValue);
        Diagnostics::line("[DEBUG] Skipped (GPS coordinates differ) for ", name, ": ", joined(described));
        return ProcessingResult{outcome::SkippedDifferentGPS{std::move(rows)}};
    }
    if (alwaysOverwrite) return proceed();

    // Numerically right: a text without its hemisphere letter is rewritten into the canonical form.
    if (!hasHemisphereSuffix(existing.latitude) || !hasHemisphereSuffix(existing.longitude)) {
        Diagnostics::line("[DEBUG] Within tolerance, but XMP text is missing trailing hemisphere ref — will update ", name);
        return proceed();
    }

    std::vector<std::string> differences;
    if (canonicalGPSText(existing.latitude) != canonicalGPSText(targetLatText))
        differences.push_back("Latitude format: " + nilOr(existing.latitude) + " → " + targetLatText);
    if (canonicalGPSText(existing.longitude) != canonicalGPSText(targetLonText))
        differences.push_back("Longitude format: " + nilOr(existing.longitude) + " → " + targetLonText);
    if (reading.effectiveLatRef != targetLatRef)
        differences.push_back("LatitudeRef: " + nilOr(existing.latitudeRef) + " → " + targetLatRef);
    if (reading.effectiveLonRef != targetLonRef)
        differences.push_back("LongitudeRef: " + nilOr(existing.longitudeRef) + " → " + targetLonRef);
    if (!differences.empty()) {
        Diagnostics::line("[DEBUG] Within tolerance — not updating ", name, ". Differences: ", joined(differences));
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
        Diagnostics::line("[DEBUG] Dry run — would update ", name, ": ", joined(changes));
        return outcome::Updated{std::move(changes)};
    }
    Diagnostics::line("[DEBUG] Updated ", name, ": ", joined(written.changes));
    return outcome::Updated{written.changes};
}

}  // namespace corvane
