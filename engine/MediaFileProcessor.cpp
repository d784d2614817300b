// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MediaFileProcessor.h"

#include "engine/Diagnostics.h"
#include "engine/MediaFiles.h"
#include "engine/SidecarComparison.h"
#include "engine/SidecarGPS.h"
#include "engine/Text.h"

#include <algorithm>
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

// Linux volumes are case-sensitive: when IMG_0001.xmp does not exist but the folder holds exactly one
// entry equal to it ignoring case (IMG_0001.XMP), that entry is the sidecar. Two or more such entries
// (A.xmp beside A.XMP without a.xmp) leave no way to choose: the file is treated as having no sidecar,
// and a line names the candidates.
std::filesystem::path resolveSidecarName(const FileSystem& fileSystem, const std::filesystem::path& sidecarURL,
                                         std::string_view name) {
    const std::string sidecarName = lastPathComponent(sidecarURL);
    // The folder's listing answers both questions (during a run without a system call per file); only
    // a folder that cannot be listed is asked about the one name.
    const auto matches = fileSystem.entriesIgnoringCase(sidecarURL.parent_path(), sidecarName);
    if (!matches) return sidecarURL;
    if (std::find(matches->begin(), matches->end(), sidecarName) != matches->end()) return sidecarURL;
    if (matches->size() == 1) return sidecarURL.parent_path() / matches->front();
    if (matches->size() > 1) {
        std::string names = matches->front();
        for (size_t index = 1; index < matches->size(); ++index)
            names += (index + 1 == matches->size() ? " and " : ", ") + (*matches)[index];
        Diagnostics::line("[DEBUG] Ambiguous XMP sidecar for ", name, ": ", names, " differ only in letter case");
    }
    return sidecarURL;
}

// Whether a failed read of the sidecar means that there is none. The read's own error answers it for a
// missing file; for any other failure (a folder that may not be searched, a link loop) the question is
// put as before, so that the outcome does not depend on which call noticed.
bool sidecarIsMissing(const FileSystem& fileSystem, const std::filesystem::path& sidecarURL, const Error& readError) {
    if (readError.domain != "POSIX") return false;
    if (readError.code == ENOENT) return true;
    return !fileSystem.exists(sidecarURL);
}

}  // namespace

std::filesystem::path sidecarURLFor(const std::filesystem::path& fileURL) {
    std::filesystem::path sidecar = fileURL;
    return sidecar.replace_extension("xmp");
}

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
    // One reading of the switches for all the file's steps: the row can then say which mode they ran in.
    const RunSettings settings = services_.settings.snapshot();
    // Outcomes are values: even an exhausted allocator or a library fault ends as this file's failure.
    try {
        return {processSteps(fileURL, settings), settings.dryRun};
    } catch (const std::exception& error) {
        Diagnostics::line("[DEBUG] Failed ", lastPathComponent(fileURL), ": ", error.what());
        return {outcome::Failed{std::string("Unexpected error: ") + error.what()}, settings.dryRun};
    } catch (...) {
        return {outcome::Failed{"Unexpected error"}, settings.dryRun};
    }
}

ProcessingResult MediaFileProcessor::processSteps(const std::filesystem::path& fileURL, const RunSettings& settings) {
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
    if (settings.appleOnly) {
        if (auto device = image->readDeviceData(); device && !isAppleDevice(*device)) {
            Diagnostics::line("[DEBUG] Skipping non-Apple: ", name);
            return outcome::SkippedNonApple{device, "Non-Apple source"};
        }
    }

    const auto position = image->readImageGPS();
    if (!position) {
        if (settings.silentlyIgnoreSkipped) {
            Diagnostics::line("[DEBUG] Skipped missing GPS: ", name);
            return outcome::SkippedMissing{"No GPS available"};
        }
        Diagnostics::line("[DEBUG] Failed: no GPS for ", name);
        return outcome::Failed{"No GPS available"};
    }

    std::filesystem::path sidecarURL = resolveSidecarName(services_.fileSystem, sidecarURLFor(fileURL), name);

    auto access = services_.access.ensureSidecarAccess(
        sidecarURL, settings.dryRun ? SidecarUse::readOnly : SidecarUse::readAndWrite);
    if (!access) {
        Diagnostics::line("[DEBUG] Permission not granted for XMP sidecar: ", sidecarURL.string());
        return outcome::Failed{"Permission denied for XMP sidecar"};
    }
    sidecarURL = access->scopedURL;
    const AccessRelease release(std::move(access->stop));

    // The read itself tells whether the sidecar exists; no separate look.
    auto document = loadSidecar(services_.fileSystem, sidecarURL);
    if (!document && sidecarIsMissing(services_.fileSystem, sidecarURL, document.error())) {
        Diagnostics::line("[DEBUG] Skipping ", name, " - no XMP sidecar file exists");
        return outcome::SkippedMissing{"No XMP sidecar file"};
    }

    // A sidecar that cannot be read, parsed or searched goes to the writer, whose error names the cause.
    if (document) {
        if (auto element = XMPXML::findGPSElement(*document.value())) {
            if (!hasGPSData(*element)) {
                Diagnostics::line("[DEBUG] Skipping ", name, " - XMP contains no GPS data");
                return outcome::SkippedMissing{"No GPS data in XMP sidecar"};
            }
            ComparisonDecision decision = compareSidecarGPS(*element, position->latitude, position->longitude, name, settings);
            if (auto* settled = std::get_if<ProcessingResult>(&decision)) return std::move(*settled);
        }
    }

    const auto answer = corvane::updateXmpGPS(services_.fileSystem, settings, sidecarURL, position->latitude, position->longitude);
    return reportWriterOutcome(name, answer, settings);
}

Expected<WriterAnswer> MediaFileProcessor::updateXmpGPS(const std::filesystem::path& sidecarURL, double latitude,
                                                        double longitude) {
    return corvane::updateXmpGPS(services_.fileSystem, services_.settings, sidecarURL, latitude, longitude);
}

}  // namespace corvane
