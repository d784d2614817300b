#pragma once

#include "engine/Error.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The file operations the engine asks of the platform. Paths are byte strings (file names need not be
// valid UTF-8). No operation prints or retries. Errors carry the domain "POSIX", the errno value as the
// code and a message that names the file and the cause. All operations are safe to call from any thread.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    struct Presence {
        bool exists = false;
        bool isDirectory = false;
    };
    // Whether anything exists at the path (following symbolic links), and whether it is a directory.
    virtual Presence presence(const std::filesystem::path& path) const = 0;
    bool exists(const std::filesystem::path& path) const { return presence(path).exists; }

    // Whether this process may read, or write, the item (access(2)).
    virtual bool isReadable(const std::filesystem::path& path) const = 0;
    virtual bool isWritable(const std::filesystem::path& path) const = 0;

    struct WalkEntry {
        std::filesystem::path path;
        std::optional<bool> isRegularFile;  // absent when the entry's type cannot be read
    };
    // Every entry below the folder, recursively, in the walk's order, skipping hidden entries (a name
    // beginning with ".") and not descending into them. Errors met during the walk are skipped.
    // Absent when the walk cannot be started (the folder cannot be opened).
    virtual std::optional<std::vector<WalkEntry>> walk(const std::filesystem::path& folder) const = 0;

    // The whole file. Fails for a directory, a missing or unreadable file.
    virtual Expected<std::string> readFile(const std::filesystem::path& path) const = 0;

    // Writes the text so that the destination holds either the whole text or what it held before: the
    // text goes to a unique file in the same folder, is fsynced and then renamed onto the destination.
    // The file's contents are synced before the rename; the folder is not, so the rename itself may not
    // outlive a crash. A caller that needs it to follows with replace(), which syncs the folder.
    virtual Status writeTextAtomically(const std::filesystem::path& path, std::string_view text) = 0;

    // The item's size in bytes (following symbolic links).
    virtual Expected<int64_t> itemSize(const std::filesystem::path& path) const = 0;

    // Removes a file (not a directory tree).
    virtual Status remove(const std::filesystem::path& path) = 0;

    // Puts `from` in place of `to` in one atomic rename(2): at every moment `to` names either the old
    // or the new file. The folder is synced after. `from` must already hold synced contents, as a file
    // made by writeTextAtomically does: syncing it again would cost a journal commit and add nothing.
    // A `to` that is a symbolic link is never replaced: the call fails, removes `from`, and leaves the
    // link and its target unchanged.
    virtual Status replace(const std::filesystem::path& from, const std::filesystem::path& to) = 0;

    // Free bytes for this process on the volume that holds the folder (statvfs f_bavail * f_frsize);
    // absent when the volume does not say.
    virtual Expected<std::optional<uint64_t>> availableCapacity(const std::filesystem::path& folder) const = 0;

    // The name of the one entry in `folder` that equals `name` ignoring ASCII letter case, when
    // exactly one such entry exists (and `name` itself does not).
    virtual std::optional<std::string> entryIgnoringCase(const std::filesystem::path& folder,
                                                         std::string_view name) const = 0;
};

// Path helpers on file locations, the same on every platform.
std::string lastPathComponent(const std::filesystem::path& path);
// The part of the last path component after its last dot; empty when there is none.
std::string pathExtension(const std::filesystem::path& path);
// The path with "." and ".." components removed, absolute, without a trailing separator.
std::filesystem::path standardizedPath(const std::filesystem::path& path);

}  // namespace corvane
