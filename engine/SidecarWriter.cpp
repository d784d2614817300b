#include "engine/SidecarWriter.h"

#include "engine/Diagnostics.h"
#include "engine/GpsText.h"
#include "engine/SafeSave.h"
#include "engine/SidecarGPS.h"
#include "engine/WriteQueue.h"

namespace corvane {

Expected<WriterAnswer> updateXmpGPS(FileSystem& fileSystem, const RunSettings& settings,
                                    const std::filesystem::path& sidecarURL, double latitude, double longitude) {
    if (!fileSystem.exists(sidecarURL)) return Error{"XMP", 1, "XMP file does not exist and creation is disabled"};
    const std::string name = lastPathComponent(sidecarURL);
    Diagnostics::line("[DEBUG] Loading existing XMP: ", name);

    auto loaded = loadSidecar(fileSystem, sidecarURL);
    if (!loaded) return loaded.error();
    const XmlDocument& document = loaded.value();
    const auto element = XMPXML::findGPSElement(*document);
    if (!element) return Error{"XMP", 1, "Invalid XMP structure: missing rdf:Description"};

    const SidecarGPSTexts existing = readSidecarGPSTexts(*element);

    const std::string targetLatRef = hemisphereLetter(latitude, Axis::latitude);
    const std::string targetLonRef = hemisphereLetter(longitude, Axis::longitude);
    const std::string targetLatText = formatGPSCoordinate(latitude, Axis::latitude);
    const std::string targetLonText = formatGPSCoordinate(longitude, Axis::longitude);

    const SidecarGPSReading reading = interpretSidecarGPS(existing);
    // Textual, not numeric: the number of decimals decides. A missing text never matches, since the
    // canonical target text is never empty.
    const bool latTextMatches = canonicalGPSText(existing.latitude) == canonicalGPSText(targetLatText);
    const bool lonTextMatches = canonicalGPSText(existing.longitude) == canonicalGPSText(targetLonText);
    const bool latRefMatches = reading.effectiveLatRef == targetLatRef;
    const bool lonRefMatches = reading.effectiveLonRef == targetLonRef;

    Diagnostics::line("[DEBUG] ", name, " update comparison:");
    Diagnostics::line("[DEBUG]   existing: lat=", existing.latitude, " lon=", existing.longitude);
    Diagnostics::line("[DEBUG]   existing decimal: lat=", reading.latitudeDecimal, " lon=", reading.longitudeDecimal);
    Diagnostics::line("[DEBUG]   target:   lat=", targetLatText, " lon=", targetLonText);
    Diagnostics::line("[DEBUG]   target decimal: lat=", latitude, " lon=", longitude);
    Diagnostics::line("[DEBUG]   matches:  latText=", latTextMatches, " lonText=", lonTextMatches,
                      " latRef=", latRefMatches, " lonRef=", lonRefMatches);

    auto orNilText = [](const std::optional<std::string>& text) { return text ? *text : std::string("nil"); };
    struct Mismatch {
        bool matches;
        std::string property;
        std::string change;
        std::string note;
        std::string target;
    };
    const Mismatch properties[] = {
        {latTextMatches, "exif:GPSLatitude",
         "exif:GPSLatitude: " + existing.latitude.value_or(formatGPSValue(latitude)) + " → " + targetLatText,
         "Latitude format: " + orNilText(existing.latitude) + " → " + targetLatText, targetLatText},
        {lonTextMatches, "exif:GPSLongitude",
         "exif:GPSLongitude: " + existing.longitude.value_or(formatGPSValue(longitude)) + " → " + targetLonText,
         "Longitude format: " + orNilText(existing.longitude) + " → " + targetLonText, targetLonText},
        {latRefMatches, "exif:GPSLatitudeRef",
         "exif:GPSLatitudeRef: " + existing.latitudeRef.value_or("(empty)") + " → " + targetLatRef,
         "LatitudeRef: " + orNilText(existing.latitudeRef) + " → " + targetLatRef, targetLatRef},
        {lonRefMatches, "exif:GPSLongitudeRef",
         "exif:GPSLongitudeRef: " + existing.longitudeRef.value_or("(empty)") + " → " + targetLonRef,
         "LongitudeRef: " + orNilText(existing.longitudeRef) + " → " + targetLonRef, targetLonRef},
    };

    WriterAnswer answer;
    for (const auto& property : properties)
        if (!property.matches) answer.formatNotes.push_back(property.note);
    if (answer.formatNotes.empty()) {
        if (!settings.alwaysOverwrite) Diagnostics::line("[DEBUG] Will not write ", name, " — already correct");
        return answer;
    }

    const bool dryRun = settings.dryRun;
    for (const auto& property : properties) {
        if (property.matches) continue;
        answer.changes.push_back(property.change);
        if (!dryRun) XMPXML::setPropertyValue(property.target, property.property, *element);
    }
    answer.written = true;
    if (dryRun) {
        Diagnostics::line("[DEBUG] Dry run — would save XMP: ", name);
        return answer;
    }

    Diagnostics::line("[DEBUG] Saving XMP atomically: ", name);
    Status saved;
    WriteQueue::xmpWriteQueue().runSync([&] { saved = saveXmpSafely(fileSystem, *document, sidecarURL); });
    if (!saved) return saved.error();
    return answer;
}

}  // namespace corvane
