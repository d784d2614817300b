// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/FileSystem.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace corvane {

// The media file extensions the engine reads, in lower case. A file is supported when its extension,
// lower-cased, is one of them (IMG_0001.HEIC, a.Dng); the file system is not consulted. "hif" is the
// HEIF of Canon and Sony cameras.
inline constexpr std::array<std::string_view, 4> supportedExtensions = {"dng", "heic", "heif", "hif"};

bool hasSupportedExtension(const std::filesystem::path& fileURL);

// hasSupportedExtension, and when false the line "[DEBUG] NAME is not a supported media file".
bool isSupportedMediaFile(const std::filesystem::path& fileURL);

// Told of each folder that could not be listed (or not to its end), with its path as walked and why:
// the media files in it are missing from the run.
using UnlistedFolders = FileSystem::UnlistedFolders;

// The supported regular files below the folder, recursively, in the walk's order, skipping hidden
// entries. Unsupported files are reported one line each; the count ends with
// "[DEBUG] Enumerated N media files under PATH". A folder that cannot be listed is reported with the
// line "[DEBUG] " + the error's message and passed to `unlisted`; when it is the folder itself, the
// list is empty and no count is printed.
std::vector<std::filesystem::path> enumerateMediaFiles(const FileSystem& fileSystem, const std::filesystem::path& folderURL,
                                                       const UnlistedFolders& unlisted = {});

// The run's file list from the dropped locations, in the order received: folders expand to their media
// files, other locations are kept when their extension is supported (they need not exist) and reported
// otherwise. Not sorted, not de-duplicated.
std::vector<std::filesystem::path> expandDroppedItems(const FileSystem& fileSystem,
                                                      const std::vector<std::filesystem::path>& items,
                                                      const UnlistedFolders& unlisted = {});

// One file of a run: the location the pipeline works on, absolute and standardised, so that every
// diagnostic line names the full path; and the location as the user gave it (a relative path stays
// relative), which the file's row shows. `givenURL` is empty when the two are the same, as for every
// drop on the window.
struct QueuedFile {
    std::filesystem::path fileURL;
    std::filesystem::path givenURL;

    const std::filesystem::path& shownURL() const { return givenURL.empty() ? fileURL : givenURL; }
};

// The files of a run, in order, held compactly: a run of files in one folder shares that folder's
// two locations (standardised and as given), and each file keeps only its name, so the list of a
// library of 100,000 files costs a few megabytes. The working folder is asked for once per folder
// given relative to it, not once per file.
class FileQueue {
public:
    void add(const std::string& given);
    size_t size() const { return files_.size(); }
    bool empty() const { return files_.empty(); }
    QueuedFile operator[](size_t index) const;

private:
    struct Folder {
        std::string absolutePrefix;  // the standardised folder + "/"
        std::string givenPrefix;     // the given path up to its last "/", or the whole given path
        bool givenIsWhole = false;   // a given path whose last component is not a plain name
    };
    struct File {
        uint32_t folder;
        std::string name;
    };
    std::vector<Folder> folders_;
    std::deque<File> files_;  // grows in pieces: no copy of the whole list as it grows
};

// The run's queue from the dropped locations, as expandDroppedItems orders them.
FileQueue queueDroppedItems(const FileSystem& fileSystem, const std::vector<std::filesystem::path>& items,
                            const UnlistedFolders& unlisted = {});

}  // namespace corvane
