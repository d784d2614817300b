// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SidecarWriter.h"

#include "engine/Diagnostics.h"
#include "engine/GpsText.h"
#include "engine/SafeSave.h"
#include "engine/SidecarGPS.h"
#include "engine/Text.h"
#include "engine/WriteQueue.h"

#include <array>

namespace corvane {
namespace {

// One of the four GPS properties: whether its text already is the target, and what setting it reports.
struct PropertyUpdate {
    bool matches;
    std::string property;
    std::string change;
    std::string note;
    std::string target;
};

// What the writer would change, from the comparison's values.
struct UpdatePlan {
    std::array<PropertyUpdate, 4> properties;

    const PropertyUpdate& latitude() const { return properties[0]; }
    const PropertyUpdate& longitude() const { return properties[1]; }
    const PropertyUpdate& latitudeRef() const { return properties[2]; }
    const PropertyUpdate& longitudeRef() const { return properties[3]; }
};

UpdatePlan planUpdate(const WriteSidecar& basis) {
    const SidecarGPSTexts& existing = basis.existing;
    const GPSTarget& target = basis.target;
    // Textual, not numeric: the number of decimals decides. A missing text never matches, since the
    // canonical target text is never empty.
    const bool latTextMatches = canonicalGPSText(existing.latitude) == canonicalGPSText(target.latText);
    const bool lonTextMatches = canonicalGPSText(existing.longitude) == canonicalGPSText(target.lonText);
    bool latRefMatches = basis.reading.effectiveLatRef == target.latRef;
    bool lonRefMatches = basis.reading.effectiveLonRef == target.lonRef;
    // A reference taken from the text's letter is enough to leave a sidecar alone, but a written
    // sidecar must name the hemisphere in its reference properties (the read-back validation requires
    // them): once anything is written, a reference that does not itself name the target is set too.
    if (!latTextMatches || !lonTextMatches || !latRefMatches || !lonRefMatches) {
        latRefMatches = latRefMatches && normalizeHemisphereRef(existing.latitudeRef) == target.latRef;
        lonRefMatches = lonRefMatches && normalizeHemisphereRef(existing.longitudeRef) == target.lonRef;
    }

    auto nil = [](const std::optional<std::string>& text) { return std::string(orNil(text)); };
    return UpdatePlan{{{
        {latTextMatches, "exif:GPSLatitude",
         "exif:GPSLatitude: " + existing.latitude.value_or(target.latValueText) + " → " + target.latText,
         "Latitude format: " + nil(existing.latitude) + " → " + target.latText, target.latText},
        {lonTextMatches, "exif:GPSLongitude",
         "exif:GPSLongitude: " + existing.longitude.value_or(target.lonValueText) + " → " + target.lonText,
         "Longitude format: " + nil(existing.longitude) + " → " + target.lonText, target.lonText},
        {latRefMatches, "exif:GPSLatitudeRef",
         "exif:GPSLatitudeRef: " + existing.latitudeRef.value_or("(empty)") + " → " + target.latRef,
         "LatitudeRef: " + nil(existing.latitudeRef) + " → " + target.latRef, target.latRef},
        {lonRefMatches, "exif:GPSLongitudeRef",
         "exif:GPSLongitudeRef: " + existing.longitudeRef.value_or("(empty)") + " → " + target.lonRef,
         "LongitudeRef: " + nil(existing.longitudeRef) + " → " + target.lonRef, target.lonRef},
    }}};
}

void printComparison(std::string_view name, const WriteSidecar& basis, const UpdatePlan& plan) {
    Diagnostics::line("[DEBUG] ", name, " update comparison:");
    Diagnostics::line("[DEBUG]   existing: lat=", basis.existing.latitude, " lon=", basis.existing.longitude);
    Diagnostics::line("[DEBUG]   existing decimal: lat=", basis.reading.latitudeDecimal,
                      " lon=", basis.reading.longitudeDecimal);
    Diagnostics::line("[DEBUG]   target:   lat=", basis.target.latText, " lon=", basis.target.lonText);
    Diagnostics::line("[DEBUG]   target decimal: lat=", basis.target.latitude, " lon=", basis.target.longitude);
    Diagnostics::line("[DEBUG]   matches:  latText=", plan.latitude().matches, " lonText=", plan.longitude().matches,
                      " latRef=", plan.latitudeRef().matches, " lonRef=", plan.longitudeRef().matches);
}

// Why a sidecar that needs a change must stay as it is, if it must: a property to be set has another
// copy beside it (an attribute and a child element, or another prefix), which would keep the old value
// for the tools that read that copy; the sidecar belongs to another image of the folder as well,
// whose position it would lose; or it has more names than one, which a rewrite would split (the others
// would keep the old text).
Error alreadyHolds(const XMPXML::PropertyCopy& copy) {
    return Error::sidecarLeftUnchanged("XMP sidecar already holds " + copy.name + (copy.isAttribute ? " as an attribute" : "") +
                                       "; left unchanged");
}

std::optional<Error> reasonToLeaveUnchanged(const UpdatePlan& plan, const LoadedSidecar& sidecar) {
    for (const auto& property : plan.properties) {
        if (property.matches) continue;
        if (const auto copy = XMPXML::findOtherCopy(property.property, sidecar.element)) return alreadyHolds(*copy);
    }
    if (!sidecar.otherImages.empty())
        return Error::sidecarLeftUnchanged("XMP sidecar also belongs to " + joined(sidecar.otherImages, " and ") + "; left unchanged");
    if (const uint64_t links = sidecar.file->linkCount(); links > 1) {
        return Error::sidecarLeftUnchanged("XMP sidecar has " + std::to_string(links) +
                                           " hard links, and a rewrite would leave the other names with the old text; left unchanged");
    }
    return std::nullopt;
}

}  // namespace

std::optional<Error> duplicatedGPSProperty(XmlNode element) {
    for (const char* property : {"exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef", "exif:GPSLongitudeRef"})
        if (const auto copy = XMPXML::findOtherCopy(property, element)) return alreadyHolds(*copy);
    return std::nullopt;
}

Expected<WriterAnswer> updateXmpGPS(FileSystem& fileSystem, const RunSwitches& switches, LoadedSidecar& sidecar,
                                    const WriteSidecar& instruction) {
    const std::string name = lastPathComponent(sidecar.file->path());
    Diagnostics::line("[DEBUG] Loading existing XMP: ", name);
    const UpdatePlan plan = planUpdate(instruction);
    printComparison(name, instruction, plan);

    WriterAnswer answer;
    for (const auto& property : plan.properties)
        if (!property.matches) answer.formatNotes.push_back(property.note);
    if (answer.formatNotes.empty()) {
        if (!switches.alwaysOverwrite) Diagnostics::line("[DEBUG] Will not write ", name, " — already correct");
        return answer;
    }
    if (auto reason = reasonToLeaveUnchanged(plan, sidecar)) return *reason;

    for (const auto& property : plan.properties) {
        if (property.matches) continue;
        answer.changes.push_back(property.change);
        if (!switches.dryRun) XMPXML::setPropertyValue(property.target, property.property, sidecar.element);
    }
    answer.rewritesSidecar = true;
    if (switches.dryRun) {
        Diagnostics::line("[DEBUG] Dry run — would save XMP: ", name);
        return answer;
    }

    Diagnostics::line("[DEBUG] Saving XMP atomically: ", name);
    Status saved;
    WriteQueue::xmpWriteQueue().runSync([&] { saved = saveXmpSafely(fileSystem, sidecar.document, *sidecar.file); });
    if (!saved) return saved.error();
    return answer;
}

}  // namespace corvane
