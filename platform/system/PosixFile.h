// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small pieces shared by the platform's file code: an owned descriptor, the error of a failed call,
// and a file opened for a replacement.

#include "engine/FileSystem.h"

#include <sys/stat.h>

#include <filesystem>
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

// A file read by PosixFileSystem::openFile: what fstat said of it before it was read, and, when it was
// opened for writing, its descriptor, which holds the writer's lock until the object goes away.
class PosixOpenFile final : public OpenFile {
public:
    PosixOpenFile(std::filesystem::path path, std::string bytes, const struct stat& status, int fd)
        : OpenFile(std::move(path), std::move(bytes), {status.st_nlink, status.st_mode & 07777u, status.st_uid, status.st_gid}),
          status(status),
          descriptor{fd} {}

    const struct stat status;
    const Descriptor descriptor;  // -1 when the file was only read
};

// Replaces `file` by `text` as FileSystem::replaceFile describes, except for the folder's sync, which
// is the caller's once this has succeeded.
Status replaceOpenFile(const PosixOpenFile& file, const std::filesystem::path& temporary, std::string_view text,
                       const OpenFile::Attributes& attributes, const std::function<Status()>& validate);

// Whether a name has the form of replaceOpenFile's temporary files: "." + a sidecar's name + ".tmp",
// the sidecar's name ending in ".xmp" in any letter case.
bool isTemporaryFileName(std::string_view name);

// A replacement holds its temporary file (an exclusive lock on it) from the file's creation until the
// replacement has ended, so an unheld one was left by a writer that was killed. Removes the file named
// `name` in the open folder `folder` if no writer holds it; with `wait`, once its writer has let it go.
// Anything but a regular file or a symbolic link under the name is left alone.
void removeIfAbandoned(int folder, const char* name, bool wait);

}  // namespace corvane
