#pragma once

#include "engine/FileSystem.h"

#include <array>
#include <filesystem>
#include <string_view>
#include <vector>

namespace corvane {

// The media file extensions the engine reads, in lower case. A file is supported when its extension,
// lower-cased, is one of them (IMG_0001.HEIC, a.Dng); the file system is not consulted.
inline constexpr std::array<std::string_view, 3> supportedExtensions = {"dng", "heic", "heif"};

bool hasSupportedExtension(const std::filesystem::path& fileURL);

// hasSupportedExtension, and when false the line "[DEBUG] NAME is not a supported media file".
bool isSupportedMediaFile(const std::filesystem::path& fileURL);

// The supported regular files below the folder, recursively, in the walk's order, skipping hidden
// entries. Unsupported files are reported one line each; the count ends with
// "[DEBUG] Enumerated N media files under PATH". Empty, silently, when the folder cannot be walked.
std::vector<std::filesystem::path> enumerateMediaFiles(const FileSystem& fileSystem, const std::filesystem::path& folderURL);

// The run's file list from the dropped locations, in the order received: folders expand to their media
// files, other locations are kept when their extension is supported (they need not exist) and reported
// otherwise. Not sorted, not de-duplicated.
std::vector<std::filesystem::path> expandDroppedItems(const FileSystem& fileSystem,
                                                      const std::vector<std::filesystem::path>& items);

}  // namespace corvane
