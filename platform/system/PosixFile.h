// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small pieces shared by the platform's file code: an owned descriptor, the error of a failed call,
// and a file opened for a replacement.

#include "engine/FileSystem.h"

#include <sys/stat.h>
#include <time.h>

#include <filesystem>
#include <optional>
#include <string_view>

namespace corvane {

// Closes a descriptor on every path; closing also releases a lock taken through it.
struct Descriptor {
    explicit Descriptor(int descriptor = -1) : fd(descriptor) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    // Gives the descriptor up to the caller.
    int release();

    int fd;
};

// Domain "POSIX", the errno value as the code, and "WHAT “PATH”: CAUSE".
Error posixError(int number, std::string_view what, const std::filesystem::path& path);

// flock(LOCK_EX), waiting as long as another open file holds a lock; 0, or -1 with errno set.
int lockExclusive(int fd);

// A file read by PosixFileSystem::openFile: what fstat said of it before it was read, when it was read,
// and, when it was opened for writing, its descriptor, which holds the writer's lock until the object
// goes away, and whether its name was a symbolic link when the lock was taken.
class PosixOpenFile final : public OpenFile {
public:
    PosixOpenFile(std::filesystem::path path, std::string bytes, const struct stat& status, const struct timespec& readAt,
                  int fd, bool namedThroughLink)
        : OpenFile(std::move(path), std::move(bytes), {status.st_nlink, status.st_mode & 07777u, status.st_uid, status.st_gid}),
          status(status),
          readAt(readAt),
          descriptor{fd},
          namedThroughLink(namedThroughLink) {}

    const struct stat status;
    const struct timespec readAt;  // the real-time clock just before the file was opened
    const Descriptor descriptor;   // -1 when the file was only read
    const bool namedThroughLink;
};

// What a file this process creates in a folder gets, asked for `requested` permission bits: the bits
// the umask or the folder's default ACL leave, and the owner and group (the folder's group in a
// set-group-ID folder). The same in every file created there with the same request, so a run learns it
// from the first one.
struct CreatedFileTraits {
    mode_t requested = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

// Replaces `file` by `text` as FileSystem::replaceFile describes, except for the folder's sync, which
// is the caller's once this has succeeded. `traits`, when it holds what a file created in the folder
// with the same request gets, spares asking the new file; otherwise it is filled from the new file.
Status replaceOpenFile(const PosixOpenFile& file, const std::filesystem::path& temporary, std::string_view text,
                       const OpenFile::Attributes& attributes, const std::function<Status()>& validate,
                       std::optional<CreatedFileTraits>& traits);

// Whether a name has the form of replaceOpenFile's temporary files: "." + a sidecar's name + ".tmp",
// the sidecar's name ending in ".xmp" in any letter case.
bool isTemporaryFileName(std::string_view name);

// A replacement holds its temporary file (an exclusive lock on it) from the file's creation until the
// replacement has ended, so an unheld one was left by a writer that was killed. Removes the file named
// `name` in the open folder `folder` if no writer holds it; with `wait`, once its writer has let it go.
// Anything but a regular file or a symbolic link under the name is left alone.
void removeIfAbandoned(int folder, const char* name, bool wait);

}  // namespace corvane
