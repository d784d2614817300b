// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"
#include "engine/FileSystem.h"
#include "engine/RunSwitches.h"
#include "engine/SidecarGPS.h"
#include "engine/XmpXml.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

// The writer's answer when it does not fail: whether the sidecar is rewritten (saved, or in a dry run
// only reported as it would be), one change text per property set, and one note per mismatching
// property (same count as changes; both empty exactly when it is not rewritten).
struct WriterAnswer {
    bool rewritesSidecar = false;
    std::vector<std::string> changes;
    std::vector<std::string> formatNotes;
};

// A sidecar as the pipeline loaded it, once: the open file (which, in a run that writes, keeps other
// writers of this program waiting until the file is done), its document, the element that holds the
// GPS properties, and the other media files of the folder whose sidecar it also is (IMG_1.heif beside
// IMG_1.HEIC).
struct LoadedSidecar {
    std::unique_ptr<OpenFile> file;
    XmlDocument document;
    XmlNode element;
    std::vector<std::string> otherImages;
};

// Sets each of the four GPS properties whose text differs from the target's canonical text
// ("37.77490000N", "N", ...) on the loaded document, as the comparison's instruction says, then saves
// it through the safe save on the write queue, or in a dry run only reports. Once anything is written,
// a reference property that does not itself name the target hemisphere is set as well, so every
// written sidecar carries both. The sidecar is not read again. Never sets a property that has another
// copy beside it. A sidecar that needs a change but belongs to another image as well, or has more
// than one name (hard links), is left unchanged, also in a dry run. Errors: "XMP" 1 "XMP sidecar
// already holds NAME[ as an attribute]; left unchanged", "XMP" 1 "XMP sidecar also belongs to IMAGE;
// left unchanged", "XMP" 1 "XMP sidecar has N hard links ...; left unchanged", and the safe save's own
// errors; on any error the sidecar is as it was.
// The writer's error for a sidecar that holds one of the four GPS properties twice (an attribute and a
// child element, or under another prefix): "XMP" 1 "XMP sidecar already holds NAME[ as an attribute];
// left unchanged" for the first such property; absent when none is held twice. Which copy a program
// reads is its own choice (Exiv2 reads neither), so such a sidecar is neither right nor wrong: it is
// reported so, whatever the values, in a dry run as in a run that writes.
std::optional<Error> duplicatedGPSProperty(XmlNode element);

Expected<WriterAnswer> updateXmpGPS(FileSystem& fileSystem, const RunSwitches& switches, LoadedSidecar& sidecar,
                                    const WriteSidecar& instruction);

}  // namespace corvane
