// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A folder of pairs that a corvane-cli --write run rewrites, for the tests that kill writers or run them
// against each other: one iPhone photo copied for every pair, each beside a sidecar with the right
// position but no hemisphere letters, told apart by a label. It keeps the old text of every sidecar,
// and the new texts and the folder's entries after a run that was let finish.

#include "tests/support/Fixtures.h"
#include "tests/support/TestMedia.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvane::test {

struct RewrittenLibrary {
    RewrittenLibrary(const std::filesystem::path& base, int pairs) : folder(base / "library") {
        std::filesystem::create_directories(folder);
        writeHeic(base / "image.HEIC", iPhoneImageAt(photoLatitude, photoLongitude));
        for (int i = 0; i < pairs; ++i) {
            std::filesystem::copy_file(base / "image.HEIC", std::filesystem::path(sidecar(i)).replace_extension(".HEIC"));
            oldSidecars.push_back(sidecarXml(letterlessSidecar, "   <xmp:Label>pair " + std::to_string(i) + "</xmp:Label>\n"));
        }
        reset();
    }

    std::filesystem::path sidecar(int i) const { return folder / ("IMG_" + std::to_string(1000 + i) + ".xmp"); }
    int size() const { return static_cast<int>(oldSidecars.size()); }
    // Every sidecar back to its old text.
    void reset() const {
        for (int i = 0; i < size(); ++i) writeText(sidecar(i), oldSidecars[i]);
    }
    // Keeps what a run that was let finish left: the new texts and the folder's entries.
    void recordFinishedRun() {
        for (int i = 0; i < size(); ++i) newSidecars.push_back(readText(sidecar(i)));
        entries = folderEntries(folder);
    }

    const std::filesystem::path folder;
    std::vector<std::string> oldSidecars, newSidecars, entries;
};

}  // namespace corvane::test
