// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/FileSystem.h"
#include "engine/RunSwitches.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvane {

// The base name of a media file's sidecar: the last extension replaced by "xmp" (IMG_0001.HEIC gives
// IMG_0001.xmp, IMG_0001.edited.HEIC gives IMG_0001.edited.xmp).
std::filesystem::path sidecarURLFor(const std::filesystem::path& fileURL);

// Where a media file's sidecar is, and which other media files of its folder have the same sidecar
// (IMG_1.heif beside IMG_1.HEIC under base names), by name in byte order.
struct SidecarLookup {
    std::filesystem::path url;  // the sidecar found, or where it was looked for
    std::vector<std::string> otherImages;
};

// Finds a media file's sidecar under the naming given: the base name IMG_0001.xmp, the full name
// IMG_0001.HEIC.xmp, or either (the base name when a sidecar of that name exists, else the full name).
// Linux volumes are case-sensitive: where the exact name is absent, the one entry of the folder equal
// to it ignoring ASCII case (IMG_0001.XMP) is the sidecar; two or more such entries leave no way to
// choose, which a diagnostic line names, and no sidecar is found. Answered from the folder's listing
// (during a run, without a system call per file); a folder that cannot be listed is asked about the
// names alone, and then nothing is known of other images.
SidecarLookup findSidecar(const FileSystem& fileSystem, const std::filesystem::path& fileURL, SidecarName naming);

}  // namespace corvane
