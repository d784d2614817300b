// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SidecarWriter.h"

#include "engine/Diagnostics.h"
#include "engine/GpsText.h"
#include "engine/SafeSave.h"
#include "engine/SidecarGPS.h"
#include "engine/WriteQueue.h"

#include <array>

namespace corvane {
namespace {

// One of the four GPS properties: whether its text already is the target, and what setting it reports.
struct PropertyUpdate {
    bool matches;
    bool present;  // a child matched the property's name, so setting it updates that child
    std::string property;
    std::string change;
    std::string note;
    std::string target;
};

// What the writer would change, from the sidecar's texts and the image's position.
struct UpdatePlan {
    SidecarGPSReading reading;
    std::string targetLatText;
    std::string targetLonText;
    std::array<PropertyUpdate, 4> properties;

    const PropertyUpdate& latitude() const { return properties[0]; }
    const PropertyUpdate& longitude() const { return properties[1]; }
    const PropertyUpdate& latitudeRef() const { return properties[2]; }
    const PropertyUpdate& longitudeRef() const { return properties[3]; }
};

UpdatePlan planUpdate(const SidecarGPSTexts& existing, double latitude, double longitude) {
    const std::string targetLatRef = hemisphereLetter(latitude, Axis::latitude);
    const std::string targetLonRef = hemisphereLetter(longitude, Axis::longitude);
    const std::string targetLatText = formatGPSCoordinate(latitude, Axis::latitude);
    const std::string targetLonText = formatGPSCoordinate(longitude, Axis::longitude);

    const SidecarGPSReading reading = interpretSidecarGPS(existing);
    // Textual, not numeric: the number of decimals decides. A missing text never matches, since the
    // canonical target text is never empty.
    const bool latTextMatches = canonicalGPSText(existing.latitude) == canonicalGPSText(targetLatText);
    const bool lonTextMatches = canonicalGPSText(existing.longitude) == canonicalGPSText(targetLonText);
    bool latRefMatches = reading.effectiveLatRef == targetLatRef;
    bool lonRefMatches = reading.effectiveLonRef == targetLonRef;
    // A reference taken from the text's letter is enough to leave a sidecar alone, but a written
    // sidecar must name the hemisphere in its reference properties (the read-back validation requires
    // them): once anything is written, a reference that does not itself name the target is set too.
    if (!latTextMatches || !lonTextMatches || !latRefMatches || !lonRefMatches) {
        latRefMatches = latRefMatches && normalizeHemisphereRef(existing.latitudeRef) == targetLatRef;
        lonRefMatches = lonRefMatches && normalizeHemisphereRef(existing.longitudeRef) == targetLonRef;
    }

    auto nil = [](const std::optional<std::string>& text) { return std::string(orNil(text)); };
    return UpdatePlan{
        reading, targetLatText, targetLonText,
        {{
            {latTextMatches, existing.latitude.has_value(), "exif:GPSLatitude",
             "exif:GPSLatitude: " + existing.latitude.value_or(formatGPSValue(latitude)) + " → " + targetLatText,
             "Latitude format: " + nil(existing.latitude) + " → " + targetLatText, targetLatText},
            {lonTextMatches, existing.longitude.has_value(), "exif:GPSLongitude",
             "exif:GPSLongitude: " + existing.longitude.value_or(formatGPSValue(longitude)) + " → " + targetLonText,
             "Longitude format: " + nil(existing.longitude) + " → " + targetLonText, targetLonText},
            {latRefMatches, existing.latitudeRef.has_value(), "exif:GPSLatitudeRef",
             "exif:GPSLatitudeRef: " + existing.latitudeRef.value_or("(empty)") + " → " + targetLatRef,
             "LatitudeRef: " + nil(existing.latitudeRef) + " → " + targetLatRef, targetLatRef},
            {lonRefMatches, existing.longitudeRef.has_value(), "exif:GPSLongitudeRef",
             "exif:GPSLongitudeRef: " + existing.longitudeRef.value_or("(empty)") + " → " + targetLonRef,
             "LongitudeRef: " + nil(existing.longitudeRef) + " → " + targetLonRef, targetLonRef},
        }}};
}

void printComparison(std::string_view name, const SidecarGPSTexts& existing, const UpdatePlan& plan, double latitude,
                     double longitude) {
    Diagnostics::line("[DEBUG] ", name, " update comparison:");
    Diagnostics::line("[DEBUG]   existing: lat=", existing.latitude, " lon=", existing.longitude);
    Diagnostics::line("[DEBUG]   existing decimal: lat=", plan.reading.latitudeDecimal,
                      " lon=", plan.reading.longitudeDecimal);
    Diagnostics::line("[DEBUG]   target:   lat=", plan.targetLatText, " lon=", plan.targetLonText);
    Diagnostics::line("[DEBUG]   target decimal: lat=", latitude, " lon=", longitude);
    Diagnostics::line("[DEBUG]   matches:  latText=", plan.latitude().matches, " lonText=", plan.longitude().matches,
                      " latRef=", plan.latitudeRef().matches, " lonRef=", plan.longitudeRef().matches);
}

// A property created beside another copy of itself (an attribute, or a child with another prefix)
// would leave two values, and other tools would still read the old one.
std::optional<Error> duplicateOfMissingProperty(const UpdatePlan& plan, pugi::xml_node element) {
    for (const auto& property : plan.properties) {
        if (property.matches || property.present) continue;
        if (const auto copy = XMPXML::findOtherCopy(property.property, element)) {
            return Error{"XMP", 1,
                         "XMP sidecar already holds " + copy->name + (copy->isAttribute ? " as an attribute" : "") +
                             "; left unchanged"};
        }
    }
    return std::nullopt;
}

}  // namespace

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
    const UpdatePlan plan = planUpdate(existing, latitude, longitude);
    printComparison(name, existing, plan, latitude, longitude);

    WriterAnswer answer;
    for (const auto& property : plan.properties)
        if (!property.matches) answer.formatNotes.push_back(property.note);
    if (answer.formatNotes.empty()) {
        if (!settings.alwaysOverwrite) Diagnostics::line("[DEBUG] Will not write ", name, " — already correct");
        return answer;
    }
    if (auto duplicate = duplicateOfMissingProperty(plan, *element)) return *duplicate;

    for (const auto& property : plan.properties) {
        if (property.matches) continue;
        answer.changes.push_back(property.change);
        if (!settings.dryRun) XMPXML::setPropertyValue(property.target, property.property, *element);
    }
    answer.written = true;
    if (settings.dryRun) {
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
