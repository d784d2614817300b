// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"

#include <cstdint>
#include <filesystem>
#include <functional>
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
        std::string path;                   // the folder as given + "/" + the names below it
        std::optional<bool> isRegularFile;  // absent when the entry's type cannot be read
    };
    using WalkVisitor = std::function<void(const WalkEntry& entry)>;
    using UnlistedFolders = std::function<void(const std::string& folder, const Error& why)>;
    // Calls `visit` for every entry below the folder, recursively, in the walk's order, skipping hidden
    // entries (a name beginning with ".") and not descending into them. Entries are judged by the types
    // the folder listing gives; only a symbolic link (or an entry of unknown type) costs a stat of its
    // own. Nothing is collected: a walk over a huge tree holds one folder's names at a time per level.
    // Any depth is reached, also where the full paths grow beyond what one system call accepts.
    // Each folder that cannot be listed, or not to its end, is passed to `unlisted` with its path as
    // walked and an error that names it and the cause, and the walk goes on without its (remaining)
    // entries. False, without a visit, when the folder itself cannot be listed.
    virtual bool walk(const std::filesystem::path& folder, const WalkVisitor& visit, const UnlistedFolders& unlisted) const = 0;

    // The whole file, when it is a regular file of at most `maximumSize` bytes. The file is opened
    // without blocking and judged by its descriptor, so a FIFO or a device never stalls the caller and a
    // link to /dev/zero is never read: anything else than a regular file fails with the message
    // "PATH is not a regular file (KIND)" (see notRegularFileMessage). A file larger than the limit,
    // or one that grows past it while it is read, fails with EFBIG without being read beyond it.
    // Fails with ENOENT when nothing exists at the path.
    virtual Expected<std::string> readFile(const std::filesystem::path& path, uint64_t maximumSize) const = 0;

    // Writes the text so that the destination holds either the whole text or what it held before: the
    // text goes to a unique file in the same folder, is fsynced and then renamed onto the destination.
    // The file's contents are synced before the rename; the folder is not, so the rename itself may not
    // outlive a crash. A caller that needs it to follows with replace(), which syncs the folder (at
    // once, or during a run once per folder).
    virtual Status writeTextAtomically(const std::filesystem::path& path, std::string_view text) = 0;

    // The item's size in bytes (following symbolic links).
    virtual Expected<int64_t> itemSize(const std::filesystem::path& path) const = 0;

    // Removes a file (not a directory tree).
    virtual Status remove(const std::filesystem::path& path) = 0;

    // Puts `from` in place of `to` in one atomic rename(2): at every moment `to` names either the old
    // or the new file. `from` must already hold synced contents, as a file made by writeTextAtomically
    // does: syncing it again would cost a journal commit and add nothing. A `to` that is a symbolic link
    // is never replaced: the call fails, removes `from`, and leaves the link and its target unchanged.
    // Outside a run the folder is synced at once, and a failed sync fails the call. During a run
    // (RunScope) the folder's sync waits until the run replaces a file in another folder, or until
    // syncPendingFolders(), which the run driver calls when the run ends: one journal commit per folder
    // instead of one per file. Until then a power cut may undo the folder's renames, leaving the old,
    // complete files in place. A deferred sync that fails is no failure of the replace that moved on
    // (its own rename worked): it is kept, with the files it concerns, for syncPendingFolders().
    virtual Status replace(const std::filesystem::path& from, const std::filesystem::path& to) = 0;

    // A folder whose deferred sync failed: the files replaced there hold their new contents, but their
    // renames may not outlive a power cut.
    struct FolderSyncFailure {
        std::filesystem::path folder;
        std::vector<std::string> names;  // the files replaced in the folder since its last sync, in order
        Error error;
    };
    // Syncs the folder whose sync replace() deferred, if any, and returns every deferred sync that
    // failed since the last call (those replace() met on moving to another folder, then this one), each
    // also reported on the diagnostic sink.
    virtual std::vector<FolderSyncFailure> syncPendingFolders() = 0;

    // Free bytes for this process on the volume that holds the folder (statvfs f_bavail * f_frsize);
    // absent when the volume does not say.
    virtual Expected<std::optional<uint64_t>> availableCapacity(const std::filesystem::path& folder) const = 0;

    // The names of the entries in `folder` that equal `name` ignoring ASCII letter case, `name` itself
    // among them when it exists, in byte order. Absent when the folder cannot be listed. During a run
    // the listing of the folder last asked about is kept and reused (only the names that end like
    // `name`), so a folder of many files is listed once while the run is in it, and the question
    // costs no system call per file.
    virtual std::optional<std::vector<std::string>> entriesIgnoringCase(const std::filesystem::path& folder,
                                                                        std::string_view name) const = 0;
};

// "PATH is not a regular file (KIND)", KIND one of "a FIFO", "a directory", "a character device",
// "a block device", "a socket", "an unknown kind of file"; `mode` is a stat st_mode.
std::string notRegularFileMessage(const std::filesystem::path& path, unsigned mode);

// Path helpers on file locations, the same on every platform.
std::string lastPathComponent(const std::filesystem::path& path);
// The part of the last path component after its last dot; empty when there is none.
std::string pathExtension(const std::filesystem::path& path);
// The path with "." and ".." components removed, absolute, without a trailing separator.
std::filesystem::path standardizedPath(const std::filesystem::path& path);

}  // namespace corvane
