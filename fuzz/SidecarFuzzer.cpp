// SPDX-License-Identifier: GPL-3.0-or-later
// A sidecar of arbitrary bytes through the engine's reading path: read it from disk, parse it, find its
// GPS element, serialise the document as a save would (what is written must read back as the same
// document), test for GPS data and run the comparison against an image position, then let the writer
// act on its instruction (dry run, nothing is written).

#include "engine/SidecarComparison.h"
#include "engine/SidecarGPS.h"
#include "engine/SidecarWriter.h"
#include "engine/XmpXml.h"
#include "fuzz/FuzzSupport.h"
#include "platform/system/PosixFileSystem.h"

#include <cstring>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceDiagnostics();
    // The first byte picks the image position (so both signs and hemispheres are compared) and the
    // switches; the rest is the sidecar.
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    const std::filesystem::path sidecar = fuzz::writeScratchFile("IMG_0001.xmp", data + 1, size - 1);

    RunSwitches switches;
    switches.alwaysOverwrite = (selector & 1) != 0;
    const double latitude = (selector & 2) ? -37.7749 : 37.7749;
    const double longitude = (selector & 4) ? -122.4194 : 122.4194;

    PosixFileSystem& fileSystem = PosixFileSystem::shared();
    auto opened = fileSystem.openFile(sidecar, maximumSidecarSize, FileSystem::FileUse::read);
    if (!opened) return 0;
    auto document = XMPXML::load(opened.value()->bytes());
    if (!document) return 0;
    const auto element = XMPXML::findGPSElement(document.value());
    // A rewrite must be a document that reads back to itself: written again, it is the same text.
    const std::string written = document.value().serialize();
    const auto reread = XMPXML::load(written);
    if (!reread || reread.value().serialize() != written) __builtin_trap();
    if (!element || !hasGPSData(*element)) return 0;
    auto decision = compareSidecarGPS(*element, gpsTargetFor(latitude, longitude), "IMG_0001.HEIC", switches);
    if (const auto* write = std::get_if<WriteSidecar>(&decision)) {
        LoadedSidecar loaded{std::move(opened).value(), std::move(document).value(), *element, {}};
        const auto answer = updateXmpGPS(fileSystem, switches, loaded, *write);
        (void)reportWriterOutcome("IMG_0001.HEIC", answer, switches);
    }
    return 0;
}
