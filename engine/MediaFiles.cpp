#include "engine/MediaFiles.h"

#include "engine/Diagnostics.h"
#include "engine/Text.h"

#include <algorithm>
#include <optional>

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

std::vector<std::filesystem::path> enumerateMediaFiles(const FileSystem& fileSystem,
                                                       const std::filesystem::path& folderURL) {
    std::vector<std::filesystem::path> files;
    auto entries = fileSystem.walk(folderURL);
    if (!entries) return files;
    for (const auto& entry : *entries) {
        if (entry.isRegularFile != true) continue;
        if (!hasSupportedExtension(entry.path)) {
            reportUnsupported(entry.path);
            continue;
        }
        files.push_back(entry.path);
    }
    // The full path, also for a folder given relative to the working folder or with a trailing "/".
    Diagnostics::line("[DEBUG] Enumerated ", files.size(), " media files under ", standardizedPath(folderURL).string());
    return files;
}

std::vector<std::filesystem::path> expandDroppedItems(const FileSystem& fileSystem,
                                                      const std::vector<std::filesystem::path>& items) {
    std::vector<std::filesystem::path> files;
    for (const auto& item : items) {
        const FileSystem::Presence presence = fileSystem.presence(item);
        if (presence.exists && presence.isDirectory) {
            auto found = enumerateMediaFiles(fileSystem, item);
            files.insert(files.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
        } else if (hasSupportedExtension(item)) {
            files.push_back(item);
        } else {
            reportUnsupported(item);
        }
    }
    return files;
}

std::vector<QueuedFile> standardizeQueue(std::vector<std::filesystem::path> files) {
    std::vector<QueuedFile> queue;
    queue.reserve(files.size());
    std::optional<std::filesystem::path> workingFolder;
    for (auto& file : files) {
        std::filesystem::path absolute = file;
        if (!absolute.is_absolute()) {
            std::error_code ignored;
            if (!workingFolder) workingFolder = std::filesystem::current_path(ignored);
            absolute = *workingFolder / file;
        }
        std::filesystem::path standardized = standardizedPath(absolute);
        if (standardized.native() == file.native()) queue.push_back({std::move(standardized), {}});
        else queue.push_back({std::move(standardized), std::move(file)});
    }
    return queue;
}

}  // namespace corvane
