// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"
#include "engine/FileSystem.h"
#include "engine/RunSettings.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvane {

// The writer's answer when it does not fail: whether the sidecar was (or in a dry run would be) saved,
// one change text per property set, and one note per mismatching property (same count as changes;
// both empty exactly when nothing is written).
struct WriterAnswer {
    bool written = false;
    std::vector<std::string> changes;
    std::vector<std::string> formatNotes;
};

// Sets each of the four GPS properties of an existing sidecar whose text differs from the image's
// canonical text ("37.77490000N", "N", ...), then saves the document through the safe save on the write
// queue, or in a dry run only reports. Once anything is written, a reference property that does not
// itself name the target hemisphere is set as well, so every written sidecar carries both. Never creates
// a sidecar, and never creates a property beside another copy of it. Errors: "XMP" 1 "XMP file does not
// exist and creation is disabled", "XMP" 1 "Invalid XMP structure: missing rdf:Description", "XMP" 1 "XMP
// sidecar already holds NAME[ as an attribute]; left unchanged" (also in a dry run), the load's and the
// safe save's own errors; on any error the sidecar is as it was.
Expected<WriterAnswer> updateXmpGPS(FileSystem& fileSystem, const RunSettings& settings,
                                    const std::filesystem::path& sidecarURL, double latitude, double longitude);

}  // namespace corvane
