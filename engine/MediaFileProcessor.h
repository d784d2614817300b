// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"
#include "engine/FileSystem.h"
#include "engine/ImageMetadata.h"
#include "engine/ResultModel.h"
#include "engine/RunSettings.h"
#include "engine/SidecarAccess.h"
#include "engine/SidecarWriter.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvane {

// What the per-file pipeline works with. The referenced objects must outlive every processor made
// with them.
struct EngineServices {
    FileSystem& fileSystem;
    const ImageMetadataSource& images;
    SidecarAccessProvider& access;
    const RunSettings& settings;
};

// True when the make is "apple", the model names an iPhone, iPad, iPod or Mac, or the software names
// Apple (each compared in lower case; absent fields count as empty).
bool isAppleDevice(const DeviceData& device);

// The engine's operation on one media file. Holds no state of its own: a new processor may be made for
// every file. Takes a snapshot of `settings` when the file's turn comes; all its steps follow that one
// snapshot, so a switch changed meanwhile applies from the next file on.
class MediaFileProcessor {
public:
    using ScopedAccess = corvane::ScopedAccess;

    explicit MediaFileProcessor(const EngineServices& services) : services_(services) {}

    // Exactly one outcome per file; no error or exception leaves it. Never writes the media file and
    // never creates a sidecar. The folder access it obtains is released on every path.
    ProcessingResult processFile(const std::filesystem::path& fileURL);
    // processFile's outcome, with the Dry Run mode the file's steps ran in.
    FileOutcome process(const std::filesystem::path& fileURL);

private:
    ProcessingResult processSteps(const std::filesystem::path& fileURL, const RunSwitches& switches);
    ProcessingResult processSidecar(const std::filesystem::path& sidecarURL, const ImagePosition& position,
                                    const std::string& name, std::vector<std::string> otherImages,
                                    const RunSwitches& switches);

    EngineServices services_;
};

}  // namespace corvane
