// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// A regular file read whole by FileSystem::openFile, held open until the object goes away.
class OpenFile {
public:
    virtual ~OpenFile() = default;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // What the file was when it was read besides its bytes.
    struct Attributes {
        uint64_t linkCount = 1;  // how many names (hard links) it had
        uint32_t mode = 0;       // its permission bits
        uint32_t owner = 0;
        uint32_t group = 0;
    };

    const std::filesystem::path& path() const { return path_; }
    const std::string& bytes() const { return bytes_; }
    const Attributes& attributes() const { return attributes_; }
    uint64_t linkCount() const { return attributes_.linkCount; }

protected:
    OpenFile(std::filesystem::path path, std::string bytes, Attributes attributes)
        : path_(std::move(path)), bytes_(std::move(bytes)), attributes_(attributes) {}

private:
    std::filesystem::path path_;
    std::string bytes_;
    Attributes attributes_;
};

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

    // The item's size in bytes (following symbolic links).
    virtual Expected<int64_t> itemSize(const std::filesystem::path& path) const = 0;

    // Reads the whole regular file as readFile does, and keeps it open for replaceFile. With
    // FileUse::write the call first takes an exclusive advisory lock on the file (flock), waiting while
    // another process holds one, and reads the file only once the lock is held on a file that still
    // has its name (the process that held it may have put a new file in place meanwhile, removing the
    // old one: the new one is then opened). The lock lasts as long as the OpenFile: every writer of this
    // program locks a file before reading it and until its replacement is in place and the old file
    // removed, so a second writer reads what the first one saved. (A file that keeps another name while
    // a new one takes its place is found out by replaceFile, which then replaces nothing.) Before the
    // first file opened for writing in a folder during a run (before every one outside a run), the
    // temporary files of replaceFile that a killed writer left in that folder are removed. With
    // FileUse::read the file is closed once read, and the result cannot be replaced.
    enum class FileUse { read, write };
    virtual Expected<std::unique_ptr<OpenFile>> openFile(const std::filesystem::path& path, uint64_t maximumSize,
                                                         FileUse use) = 0;

    // Puts `text` in place of a file opened with FileUse::write, under the same name, so that at every
    // moment the name holds either the old or the new file. The text goes first to `temporary`, a new
    // file in the same folder (a file already there that no writer holds is replaced), which gets the
    // permission bits, owner and group of `attributes` (as far as this process may set them: an owner
    // or group it may not give is left as the new file has it) and the old file's extended attributes,
    // and is synced. It is then read back through the descriptor it was written with and
    // compared with `text` byte for byte: any difference fails the call with Error::readBackMismatch(). `validate`
    // is then called with it in place. The old file is replaced
    // only if it still is the file that was read, with the bytes that were read: otherwise the call
    // fails with Error::fileChanged() and the file that another program saved stays. A name that is a
    // symbolic link is never replaced. No failure leaves `temporary` behind, and nothing but the
    // replacement changes the old file.
    // Outside a run the folder is then synced at once, and a failed sync fails the call. During a run
    // (RunScope) the folder's sync waits until the run replaces a file in another folder, or until
    // syncPendingFolders(), which the run driver calls when the run ends: one journal commit per folder
    // instead of one per file. Until then a power cut may undo the folder's renames, leaving the old,
    // complete files in place. A deferred sync that fails is no failure of the replacement that moved on
    // (its own rename worked): it is kept, with the files it concerns, for syncPendingFolders().
    virtual Status replaceFile(const OpenFile& file, const std::filesystem::path& temporary, std::string_view text,
                               const OpenFile::Attributes& attributes, const std::function<Status()>& validate) = 0;

    // A folder whose deferred sync failed: the files replaced there hold their new contents, but their
    // renames may not outlive a power cut.
    struct FolderSyncFailure {
        std::filesystem::path folder;
        std::vector<std::string> names;  // the files replaced in the folder since its last sync, in order
        Error error;
    };
    // Syncs the folder whose sync replaceFile() deferred, if any, and returns every deferred sync that
    // failed since the last call (those replaceFile() met on moving to another folder, then this one),
    // each also reported on the diagnostic sink.
    virtual std::vector<FolderSyncFailure> syncPendingFolders() = 0;

    // Free bytes for this process on the volume that holds the folder (statvfs f_bavail * f_frsize);
    // absent when the volume does not say. During a run the answer for the folder last asked about is
    // reused while the run stays in it: a folder of many rewritten sidecars asks the volume once.
    virtual Expected<std::optional<uint64_t>> availableCapacity(const std::filesystem::path& folder) const = 0;

    struct FolderEntry {
        std::string name;
        bool isRegularFile = false;  // a regular file, or a symbolic link to one
    };
    // The entries of `folder` whose stem (the name before its last dot) equals `stem` ignoring ASCII
    // letter case, in byte order of their names: for IMG_0001 the sidecar IMG_0001.xmp and the images
    // IMG_0001.HEIC and img_0001.heif. Absent when the folder cannot be listed. During a run the
    // listing of the folder last asked about is kept and reused, so a folder of many files is listed
    // once while the run is in it, and the question costs no system call per file.
    virtual std::optional<std::vector<FolderEntry>> entriesWithStem(const std::filesystem::path& folder,
                                                                    std::string_view stem) const = 0;
};

// "PATH is not a regular file (KIND)", KIND one of "a FIFO", "a directory", "a character device",
// "a block device", "a socket", "an unknown kind of file"; `mode` is a stat st_mode.
std::string notRegularFileMessage(const std::filesystem::path& path, unsigned mode);

// Path helpers on file locations, the same on every platform.
std::string lastPathComponent(const std::filesystem::path& path);
// The part of the last path component after its last dot; empty when there is none.
std::string pathExtension(const std::filesystem::path& path);
// A name's stem as entriesWithStem means it: the part before its last dot; empty when the name has no
// dot or only a leading one.
std::string_view stemOf(std::string_view name);
// The path with "." and ".." components removed, absolute, without a trailing separator.
std::filesystem::path standardizedPath(const std::filesystem::path& path);

}  // namespace corvane
