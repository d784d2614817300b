// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MediaFiles.h"

#include "engine/Diagnostics.h"
#include "engine/Text.h"

#include <algorithm>
#include <functional>

namespace corvane {
namespace {

void reportUnsupported(const std::filesystem::path& fileURL) {
    Diagnostics::line("[DEBUG] ", lastPathComponent(fileURL), " is not a supported media file");
}

}  // namespace

bool hasSupportedExtension(const std::filesystem::path& fileURL) {
    const std::string extension = toLower(pathExtension(fileURL));
    return std::find(supportedExtensions.begin(), supportedExtensions.end(), extension) != supportedExtensions.end();
}

bool isSupportedMediaFile(const std::filesystem::path& fileURL) {
    if (hasSupportedExtension(fileURL)) return true;
    reportUnsupported(fileURL);
    return false;
}

namespace {

// Visits the supported regular files below the folder in the walk's order; reports the others and the
// count, as enumerateMediaFiles says.
void forEachMediaFile(const FileSystem& fileSystem, const std::filesystem::path& folderURL,
                      const std::function<void(const std::string& path)>& take, const UnlistedFolders& unlisted) {
    size_t found = 0;
    const auto visit = [&](const FileSystem::WalkEntry& entry) {
        if (entry.isRegularFile != true) return;
        if (!hasSupportedExtension(entry.path)) {
            reportUnsupported(entry.path);
            return;
        }
        ++found;
        take(entry.path);
    };
    const bool walked = fileSystem.walk(folderURL, visit, [&](const std::string& folder, const Error& why) {
        Diagnostics::line("[DEBUG] ", why.message);
        if (unlisted) unlisted(folder, why);
    });
    if (!walked) return;
    // The full path, also for a folder given relative to the working folder or with a trailing "/".
    Diagnostics::line("[DEBUG] Enumerated ", found, " media files under ", standardizedPath(folderURL).string());
}

void forEachDroppedFile(const FileSystem& fileSystem, const std::vector<std::filesystem::path>& items,
                        const std::function<void(const std::string& path)>& take, const UnlistedFolders& unlisted) {
    for (const auto& item : items) {
        const FileSystem::Presence presence = fileSystem.presence(item);
        if (presence.exists && presence.isDirectory) forEachMediaFile(fileSystem, item, take, unlisted);
        else if (hasSupportedExtension(item)) take(item.string());
        else reportUnsupported(item);
    }
}

}  // namespace

std::vector<std::filesystem::path> enumerateMediaFiles(const FileSystem& fileSystem, const std::filesystem::path& folderURL,
                                                       const UnlistedFolders& unlisted) {
    std::vector<std::filesystem::path> files;
    forEachMediaFile(fileSystem, folderURL, [&](const std::string& path) { files.emplace_back(path); }, unlisted);
    return files;
}

std::vector<std::filesystem::path> expandDroppedItems(const FileSystem& fileSystem,
                                                      const std::vector<std::filesystem::path>& items,
                                                      const UnlistedFolders& unlisted) {
    std::vector<std::filesystem::path> files;
    forEachDroppedFile(fileSystem, items, [&](const std::string& path) { files.emplace_back(path); }, unlisted);
    return files;
}

FileQueue queueDroppedItems(const FileSystem& fileSystem, const std::vector<std::filesystem::path>& items,
                            const UnlistedFolders& unlisted) {
    FileQueue queue;
    forEachDroppedFile(fileSystem, items, [&](const std::string& path) { queue.add(path); }, unlisted);
    return queue;
}

void FileQueue::add(const std::string& given) {
    const size_t slash = given.rfind('/');
    const std::string_view name = slash == std::string::npos ? std::string_view(given) : std::string_view(given).substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        // Not a plain name (a trailing "/" or a dot component): standardise the whole path once.
        const std::filesystem::path standardized = standardizedPath(given);
        std::string folder = standardized.parent_path().string();
        if (folder.empty() || folder.back() != '/') folder.push_back('/');
        folders_.push_back({std::move(folder), given, true});
        files_.push_back({static_cast<uint32_t>(folders_.size() - 1), standardized.filename().string()});
        return;
    }
    const std::string_view prefix = std::string_view(given).substr(0, given.size() - name.size());
    if (folders_.empty() || folders_.back().givenIsWhole || folders_.back().givenPrefix != prefix) {
        std::string folder = standardizedPath(prefix.empty() ? std::filesystem::path(".") : std::filesystem::path(prefix)).string();
        if (folder.back() != '/') folder.push_back('/');
        folders_.push_back({std::move(folder), std::string(prefix), false});
    }
    files_.push_back({static_cast<uint32_t>(folders_.size() - 1), std::string(name)});
}

QueuedFile FileQueue::operator[](size_t index) const {
    const File& file = files_[index];
    const Folder& folder = folders_[file.folder];
    std::string absolute = folder.absolutePrefix + file.name;
    std::string given = folder.givenIsWhole ? folder.givenPrefix : folder.givenPrefix + file.name;
    if (given == absolute) return {std::move(absolute), {}};
    return {std::move(absolute), std::move(given)};
}

}  // namespace corvane
