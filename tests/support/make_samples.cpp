// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the bundled samples/ folder: small real HEIC and DNG images, all taken at 37.7749, -122.4194,
// each beside an XMP sidecar chosen so that one dry run of corvane-cli shows the main outcomes.
// Usage: make_samples FOLDER (scripts/make-samples). Files of the same names are replaced.

#include "tests/support/Fixtures.h"
#include "tests/support/TestMedia.h"

#include <cstdio>
#include <exception>
#include <filesystem>

namespace fs = std::filesystem;
using namespace corvane::test;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples FOLDER\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const struct {
        const char* image;
        bool fromIPhone;
        std::optional<SidecarGPSProperties> sidecar;  // absent: the image has no sidecar
        const char* shows;
    } samples[] = {
        {"IMG_0001.HEIC", true, canonicalSidecar, "already correct"},
        {"IMG_0002.HEIC", true, shortLetteredSidecar, "within tolerance, left alone"},
        {"IMG_0003.HEIC", true, letterlessSidecar, "no hemisphere letters: rewritten"},
        {"IMG_0004.DNG", true, parisSidecar, "another position: skipped"},
        {"IMG_0005.HEIC", true, std::nullopt, "no sidecar: skipped"},
        {"IMG_0006.DNG", true, SidecarGPSProperties{}, "sidecar without GPS: skipped"},
        {"DSC_0007.DNG", false, letterlessSidecar, "another camera: skipped"},
    };
    try {
        fs::create_directories(folder);
        for (const auto& sample : samples) {
            const fs::path image = folder / sample.image;
            const auto imageAt = sample.fromIPhone ? iPhoneImageAt : cameraImageAt;
            writeImage(image, imageAt(photoLatitude, photoLongitude));
            const fs::path xmp = fs::path(image).replace_extension("xmp");
            if (sample.sidecar) writeText(xmp, sidecarXml(*sample.sidecar));
            else fs::remove(xmp);
            std::printf("%s: %s\n", sample.image, sample.shows);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_samples: %s\n", error.what());
        return 1;
    }
    return 0;
}
