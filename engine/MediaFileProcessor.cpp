// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MediaFileProcessor.h"

#include "engine/Diagnostics.h"
#include "engine/MediaFiles.h"
#include "engine/SidecarComparison.h"
#include "engine/SidecarGPS.h"
#include "engine/SidecarLocation.h"
#include "engine/Text.h"

#include <cerrno>

namespace corvane {
namespace {

// Calls the grant's stop action exactly once, whichever way the file's processing ends.
class AccessRelease {
public:
    explicit AccessRelease(std::function<void()> stop) : stop_(std::move(stop)) {}
    ~AccessRelease() {
        if (stop_) stop_();
    }
    AccessRelease(const AccessRelease&) = delete;
    AccessRelease& operator=(const AccessRelease&) = delete;

private:
    std::function<void()> stop_;
};

// Whether a failed read of the sidecar means that there is none. The read's own error answers it for a
// missing file; for any other failure (a folder that may not be searched, a link loop) the question is
// put as before, so that the outcome does not depend on which call noticed.
bool sidecarIsMissing(const FileSystem& fileSystem, const std::filesystem::path& sidecarURL, const Error& readError) {
    if (!readError.isPosix()) return false;
    if (readError.isMissingFile()) return true;
    return !fileSystem.exists(sidecarURL);
}

}  // namespace

bool isAppleDevice(const DeviceData& device) {
    const std::string make = toLower(device.make.value_or(""));
    const std::string model = toLower(device.model.value_or(""));
    const std::string software = toLower(device.software.value_or(""));
    if (make == "apple") return true;
    for (std::string_view family : {"iphone", "ipad", "ipod", "mac"})
        if (model.find(family) != std::string::npos) return true;
    return software.find("apple") != std::string::npos;
}

ProcessingResult MediaFileProcessor::processFile(const std::filesystem::path& fileURL) { return process(fileURL).result; }

FileOutcome MediaFileProcessor::process(const std::filesystem::path& fileURL) {
    // One snapshot of the switches for all the file's steps: the row can then say which mode they ran in.
    const RunSwitches switches = services_.settings.snapshot();
    // Outcomes are values: even an exhausted allocator or a library fault ends as this file's failure.
    try {
        return {processSteps(fileURL, switches), switches.dryRun};
    } catch (const std::exception& error) {
        Diagnostics::line("[DEBUG] Failed ", lastPathComponent(fileURL), ": ", error.what());
        return {outcome::Failed{std::string("Unexpected error: ") + error.what()}, switches.dryRun};
    } catch (...) {
        return {outcome::Failed{"Unexpected error"}, switches.dryRun};
    }
}

ProcessingResult MediaFileProcessor::processSteps(const std::filesystem::path& fileURL, const RunSwitches& switches) {
    const std::string name = lastPathComponent(fileURL);

    if (!isSupportedMediaFile(fileURL)) {
        const std::string extension = pathExtension(fileURL);
        Diagnostics::line("[DEBUG] ", name, " unsupported extension ", extension);
        return outcome::UnsupportedFile{"Unsupported extension: " + extension};
    }
    Diagnostics::line("[DEBUG] Processing ", name);

    // One look at the image answers both the device and the position questions.
    const std::unique_ptr<ImageReading> image = services_.images.read(fileURL);
    if (auto failure = image->failure()) {
        Diagnostics::line("[DEBUG] Failed ", name, ": ", *failure);
        return outcome::Failed{*failure};
    }
    if (switches.appleOnly) {
        if (auto device = image->readDeviceData(); device && !isAppleDevice(*device)) {
            Diagnostics::line("[DEBUG] Skipping non-Apple: ", name);
            return outcome::SkippedNonApple{device, "Non-Apple source"};
        }
    }

    const auto position = image->readImageGPS();
    if (!position) {
        if (switches.silentlyIgnoreSkipped) {
            Diagnostics::line("[DEBUG] Skipped missing GPS: ", name);
            return outcome::SkippedMissing{"No GPS available"};
        }
        Diagnostics::line("[DEBUG] Failed: no GPS for ", name);
        return outcome::Failed{"No GPS available"};
    }

    const SidecarLookup lookup = findSidecar(services_.fileSystem, fileURL, switches.sidecarName);
    auto access = services_.access.ensureSidecarAccess(lookup.url);
    if (!access) {
        Diagnostics::line("[DEBUG] Permission not granted for XMP sidecar: ", lookup.url.string());
        return outcome::Failed{access.error().message};
    }
    const std::filesystem::path sidecarURL = access.value().scopedURL;
    const AccessRelease release(std::move(access.value().stop));
    return processSidecar(sidecarURL, *position, name, lookup.otherImages, switches);
}

// The sidecar is read and parsed once; the comparison decides on that document and the writer changes
// it. In a run that writes, the file stays locked from before it is read until it is saved, so that
// another writer of this program reads only what this one saved.
ProcessingResult MediaFileProcessor::processSidecar(const std::filesystem::path& sidecarURL, const ImagePosition& position,
                                                    const std::string& name, std::vector<std::string> otherImages,
                                                    const RunSwitches& switches) {
    FileSystem& fileSystem = services_.fileSystem;
    const auto use = switches.dryRun ? FileSystem::FileUse::read : FileSystem::FileUse::write;
    auto opened = fileSystem.openFile(sidecarURL, static_cast<uint64_t>(maximumSidecarSize), use);
    // The read itself tells whether the sidecar exists; no separate look.
    if (!opened && sidecarIsMissing(fileSystem, sidecarURL, opened.error())) {
        Diagnostics::line("[DEBUG] Skipping ", name, " - no XMP sidecar file exists");
        return outcome::SkippedMissing{"No XMP sidecar file"};
    }
    // A sidecar that cannot be read, parsed or searched fails with the cause; nothing is written.
    if (!opened) return reportWriterOutcome(name, sidecarReadError(fileSystem, sidecarURL, opened.error()), switches);
    auto document = XMPXML::load(opened.value()->bytes());
    if (!document) return reportWriterOutcome(name, document.error(), switches);
    const auto element = XMPXML::findGPSElement(document.value());
    if (!element) return reportWriterOutcome(name, Error::invalidSidecar("Invalid XMP structure: missing rdf:Description"), switches);

    if (!hasGPSData(*element)) {
        Diagnostics::line("[DEBUG] Skipping ", name, " - XMP contains no GPS data");
        return outcome::SkippedMissing{"No GPS data in XMP sidecar"};
    }
    // A property held twice is not compared: the copy that the comparison would read may not be the one
    // another program reads.
    if (auto duplicated = duplicatedGPSProperty(*element)) return reportWriterOutcome(name, *duplicated, switches);
    const GPSTarget target = gpsTargetFor(position.latitude, position.longitude, switches.coordinateForm);
    ComparisonDecision decision = compareSidecarGPS(*element, target, name, switches);
    if (auto* settled = std::get_if<ProcessingResult>(&decision)) return std::move(*settled);

    LoadedSidecar sidecar{std::move(opened).value(), std::move(document).value(), *element, std::move(otherImages)};
    const auto answer = updateXmpGPS(fileSystem, switches, sidecar, std::get<WriteSidecar>(decision));
    return reportWriterOutcome(name, answer, switches);
}

}  // namespace corvane
