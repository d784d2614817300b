// SPDX-License-Identifier: GPL-3.0-or-later
// A sidecar of arbitrary bytes through the engine's reading path: load it from disk, find its GPS
// element, test for GPS data and run the comparison against an image position, then let the writer
// decide (dry run, nothing is written) and serialise the document as a save would.

#include "engine/SidecarComparison.h"
#include "engine/SidecarGPS.h"
#include "engine/SidecarWriter.h"
#include "engine/XmpXml.h"
#include "fuzz/FuzzSupport.h"
#include "platform/PosixFileSystem.h"

#include <cstring>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceDiagnostics();
    // The first byte picks the image position (so both signs and hemispheres are compared) and the
    // switches; the rest is the sidecar.
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    const std::filesystem::path sidecar = fuzz::writeScratchFile("IMG_0001.xmp", data + 1, size - 1);

    static RunSettings settings;
    settings.dryRun = true;
    settings.alwaysOverwrite = (selector & 1) != 0;
    const double latitude = (selector & 2) ? -37.7749 : 37.7749;
    const double longitude = (selector & 4) ? -122.4194 : 122.4194;

    PosixFileSystem& fileSystem = PosixFileSystem::shared();
    auto document = loadSidecar(fileSystem, sidecar);
    if (!document) return 0;
    if (const auto element = XMPXML::findGPSElement(*document.value())) {
        if (hasGPSData(*element)) (void)compareSidecarGPS(*element, latitude, longitude, "IMG_0001.HEIC", settings);
        (void)interpretSidecarGPS(readSidecarGPSTexts(*element));
    }
    (void)XMPXML::serialize(*document.value());

    const auto answer = updateXmpGPS(fileSystem, settings, sidecar, latitude, longitude);
    (void)reportWriterOutcome("IMG_0001.HEIC", answer, settings);
    return 0;
}
