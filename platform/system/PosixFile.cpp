// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/PosixFile.h"

#include "engine/Text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace corvane {
namespace {

namespace fs = std::filesystem;

fs::path folderOf(const fs::path& path) {
    fs::path folder = path.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The name of a replacement's temporary file, removed when the replacement ends unless what it names
// by then must stay. Whatever it names at that moment is no longer wanted: the new text that was not
// put in place, or the old file that was.
class TemporaryName {
public:
    explicit TemporaryName(const fs::path& path) : path_(path) {}
    ~TemporaryName() {
        // A second try, should the first meet a passing failure: the name must not stay behind.
        if (remove_ && ::unlink(path_.c_str()) != 0 && errno != ENOENT) ::unlink(path_.c_str());
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    void keep() { remove_ = false; }

private:
    const fs::path& path_;
    bool remove_ = true;
};

// Makes the temporary file with the permission bits `mode` (as far as the umask or the folder's
// default ACL let them through), held (locked) from the start so that no other writer takes it for one
// a killed writer left. An unheld file under the name is such a leftover and goes; a held one belongs
// to a replacement of the same sidecar by another process, which ends in a moment.
Expected<int> createTemporary(const fs::path& temporary, mode_t mode) {
    int error = EEXIST;
    for (int attempt = 0; attempt < 3 && error == EEXIST; ++attempt) {
        const int fd = ::open(temporary.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            (void)lockExclusive(fd);  // a failed lock only leaves the file open to a cleanup's mistake
            return fd;
        }
        error = errno;
        if (error == EEXIST) removeIfAbandoned(AT_FDCWD, temporary.c_str(), /*wait=*/true);
    }
    return posixError(error, "Cannot write in the folder", folderOf(temporary));
}

Status writeAll(int fd, std::string_view text, const fs::path& temporary) {
    for (size_t written = 0; written < text.size();) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return posixError(count < 0 ? errno : EIO, "Cannot write", temporary);
        written += static_cast<size_t>(count);
    }
    return {};
}

// The extended attributes of `from` onto `to`: the user's (user.*) and the access ACL, whose loss would
// silently change who may read the file. Those the system keeps for itself (security.*, trusted.*)
// are copied where this process may set them, else the new file has the system's own.
Status copyExtendedAttributes(int from, int to, const fs::path& temporary) {
    std::string names(1024, '\0');
    ssize_t size = ::flistxattr(from, names.data(), names.size());
    if (size < 0 && errno == ERANGE && (size = ::flistxattr(from, nullptr, 0)) > 0) {
        names.resize(static_cast<size_t>(size));
        size = ::flistxattr(from, names.data(), names.size());
    }
    if (size < 0) return errno == ENOTSUP ? Status{} : posixError(errno, "Cannot list the extended attributes of", temporary);
    names.resize(static_cast<size_t>(size));
    std::string value;
    for (size_t at = 0, end = 0; at < names.size(); at = end + 1) {
        if ((end = names.find('\0', at)) == std::string::npos) break;
        const char* name = names.c_str() + at;
        const std::string_view view(name);
        const bool mustKeep = view.starts_with("user.") || view.starts_with("system.posix_acl_access");
        ssize_t length = ::fgetxattr(from, name, nullptr, 0);
        if (length >= 0) {
            value.resize(static_cast<size_t>(length));
            length = ::fgetxattr(from, name, value.data(), value.size());
        }
        if (length >= 0 && ::fsetxattr(to, name, value.data(), static_cast<size_t>(length), 0) == 0) continue;
        if (mustKeep) return posixError(errno, "Cannot copy the extended attribute " + std::string(view) + " to", temporary);
    }
    return {};
}

// Whether the text reads back from the file, through the descriptor it was written with, byte for byte:
// what is on disk is what was checked.
Status readBack(int fd, std::string_view text, const fs::path& temporary) {
    std::string read(text.size() + 1, '\0');  // a byte more, so that a longer file reads longer
    size_t filled = 0;
    while (filled < read.size()) {
        const ssize_t count = ::pread(fd, read.data() + filled, read.size() - filled, static_cast<off_t>(filled));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return posixError(errno, "Cannot read back", temporary);
        filled += static_cast<size_t>(count);
        // A regular file reads short only at its end: no second read just to meet it.
        if (count == 0 || filled < read.size()) break;
    }
    if (filled != text.size() || std::string_view(read.data(), filled) != text) return Error::readBackMismatch(temporary.string());
    return {};
}

// The new file's permission bits were asked for at its creation: what it got is known from `traits`
// once a file created in the folder with the same request has told. The owner and group are then set
// where they differ from those of `attributes` (changing the owner clears set-user-ID bits), as far as this
// process may set them: root may give the file to anyone, others may keep their own file in a group of
// theirs. Then the permission bits where they still differ, which a volume without them (FAT) cannot
// take, and the extended attributes of `file`.
Status copyAttributes(const PosixOpenFile& file, const OpenFile::Attributes& old, int to, const fs::path& temporary,
                      mode_t requested, std::optional<CreatedFileTraits>& traits) {
    if (!traits || traits->requested != requested) {
        struct stat created {};
        if (::fstat(to, &created) != 0) return posixError(errno, "Cannot read the attributes of", temporary);
        traits = CreatedFileTraits{requested, created.st_mode & 07777, created.st_uid, created.st_gid};
    }
    const bool ownerDiffers = traits->owner != old.owner || traits->group != old.group;
    if (ownerDiffers && ::fchown(to, old.owner, old.group) != 0) {
        const bool mayNot = errno == EPERM;
        if (!mayNot && errno != EINVAL && errno != ENOTSUP) return posixError(errno, "Cannot set the owner of", temporary);
        if (mayNot && ::fchown(to, static_cast<uid_t>(-1), old.group) != 0 && errno != EPERM)
            return posixError(errno, "Cannot set the group of", temporary);
    }
    const bool modeDiffers = traits->mode != (old.mode & 07777) || (ownerDiffers && (old.mode & 07000) != 0);
    if (modeDiffers && ::fchmod(to, old.mode & 07777) != 0 && errno != EPERM && errno != ENOTSUP)
        return posixError(errno, "Cannot set the permissions of", temporary);
    return copyExtendedAttributes(file.descriptor.fd, to, temporary);
}

// How long before a file was read its last change must lie for its modification time alone to prove
// it unchanged since: beyond the coarseness of any file system's clock (FAT's two seconds, the kernel's
// tick between the clock read here and the one that stamps files).
constexpr time_t settledSeconds = 3;

// Whether the file under `name` still is the file that was read, unchanged: the same file (device and
// inode) with the size and modification time it had. A change after the read stamps the file with a
// later time, unless it came so soon after the file's last change that the clock's resolution keeps the
// time; so when that change lies less than settledSeconds before the read, the bytes are compared too
// (read again through the descriptor kept open since).
Expected<bool> stillAsRead(const PosixOpenFile& file, const fs::path& name) {
    struct stat now {};
    if (::lstat(name.c_str(), &now) != 0) {
        if (errno == ENOENT) return false;
        return posixError(errno, "Cannot read the attributes of", name);
    }
    const struct stat& then = file.status;
    const std::string& read = file.bytes();
    if (!sameFile(now, then) || static_cast<uint64_t>(now.st_size) != read.size() ||
        now.st_mtim.tv_sec != then.st_mtim.tv_sec || now.st_mtim.tv_nsec != then.st_mtim.tv_nsec)
        return false;
    if (then.st_mtim.tv_sec + settledSeconds < file.readAt.tv_sec) return true;
    std::string current(read.size() + 1, '\0');  // a byte more, so that a longer file reads longer
    size_t filled = 0;
    while (filled < current.size()) {
        const ssize_t count = ::pread(file.descriptor.fd, current.data() + filled, current.size() - filled,
                                      static_cast<off_t>(filled));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return posixError(errno, "Cannot read", name);
        filled += static_cast<size_t>(count);
        // A regular file reads short only at its end: no second read just to meet it.
        if (count == 0 || filled < current.size()) break;
    }
    return filled == read.size() && current.compare(0, filled, read) == 0;
}

// After the exchange found that another program had saved the file, its version goes back under the
// name. Should yet another save have come in the moment since the exchange, that newer version goes
// back instead. True when the name of the temporary file may go: it holds our new file, or nothing.
bool putBack(const fs::path& temporary, const fs::path& path, int replacement) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0)
        return ::rename(temporary.c_str(), path.c_str()) == 0;
    struct stat out {}, ours {};
    if (::lstat(temporary.c_str(), &out) != 0 || ::fstat(replacement, &ours) != 0) return false;  // unknown: kept
    return sameFile(out, ours) || ::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

Descriptor::~Descriptor() {
    if (fd >= 0) ::close(fd);
}

int Descriptor::release() { return std::exchange(fd, -1); }

Error posixError(int number, std::string_view what, const fs::path& path) {
    return Error::posix(number, std::string(what) + " “" + path.string() + "”: " + std::strerror(number));
}

int lockExclusive(int fd) {
    int result = 0;
    while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {}
    return result;
}

bool isTemporaryFileName(std::string_view name) {
    if (name.size() < 10 || name.front() != '.' || !name.ends_with(".tmp")) return false;
    std::string extension(name.substr(name.size() - 8, 4));
    for (char& c : extension) c = asciiLower(c);
    return extension == ".xmp";
}

void removeIfAbandoned(int folder, const char* name, bool wait) {
    const Descriptor candidate{::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (candidate.fd < 0) {
        if (errno == ELOOP) ::unlinkat(folder, name, 0);  // a symbolic link: removing it touches nothing else
        return;
    }
    struct stat held {}, named {};
    if (::fstat(candidate.fd, &held) != 0 || !S_ISREG(held.st_mode)) return;
    if ((wait ? lockExclusive(candidate.fd) : ::flock(candidate.fd, LOCK_EX | LOCK_NB)) != 0) return;
    // Its writer may have removed it meanwhile, and another one made a new file under the name.
    if (::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(named, held)) ::unlinkat(folder, name, 0);
}

Status replaceOpenFile(const PosixOpenFile& file, const fs::path& temporary, std::string_view text,
                       const OpenFile::Attributes& attributes, const std::function<Status()>& validate,
                       std::optional<CreatedFileTraits>& traits) {
    const fs::path& path = file.path();
    if (file.descriptor.fd < 0) return posixError(EBADF, "Cannot replace a file only read:", path);
    // rename(2) would put a regular file in place of a link, cutting the user's link and leaving the
    // file it points to as it was. A linked file is read through its link but never replaced.
    if (file.namedThroughLink) {
        return Error::posix(ELOOP,
                            "Cannot replace “" + path.string() + "”: it is a symbolic link, and the link and the file it points "
                            "to are left unchanged");
    }

    // The permission bits are asked for at the creation, so that mostly none need setting afterwards;
    // special bits (set-ID, sticky) only once the owner is right.
    const mode_t requested = attributes.mode & 0777;
    const auto created = createTemporary(temporary, requested);
    if (!created) return created.error();
    const Descriptor replacement{created.value()};  // its lock lasts until the name holds its final file
    TemporaryName name(temporary);
    if (Status written = writeAll(replacement.fd, text, temporary); !written) return written;
    if (Status copied = copyAttributes(file, attributes, replacement.fd, temporary, requested, traits); !copied) return copied;
    if (::fsync(replacement.fd) != 0) return posixError(errno, "Cannot sync", temporary);
    if (Status same = readBack(replacement.fd, text, temporary); !same) return same;
    if (Status valid = validate(); !valid) return valid;

    // One exchange puts the new file under the name and the file that was there under the temporary
    // name, where it is compared with what was read. Until the exchange, another program's save is seen
    // by the comparison; after it, that save replaces our file, not theirs.
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0) {
        const int error = errno;
        if (error == ENOENT) return Error::fileChanged();  // the file is gone: nothing is created in its place
        if (error != EINVAL && error != ENOSYS && error != ENOTSUP) return posixError(error, "Cannot replace", path);
        // A volume that cannot exchange (FAT, some network file systems): the check comes just before an
        // ordinary rename, and a save in the moment between them is lost.
        const auto unchanged = stillAsRead(file, path);
        if (!unchanged) return unchanged.error();
        if (!unchanged.value()) return Error::fileChanged();
        if (::rename(temporary.c_str(), path.c_str()) != 0) return posixError(errno, "Cannot replace", path);
        name.keep();  // nothing is left under it
        return {};
    }
    const auto unchanged = stillAsRead(file, temporary);
    if (unchanged && unchanged.value()) return {};
    if (!putBack(temporary, path, replacement.fd)) {
        name.keep();
        return Error::posix(EIO,
                            "“" + path.string() + "” changed while it was being replaced, and the other program's version "
                            "could not be put back: it is in “" + temporary.string() + "”");
    }
    return unchanged ? Error::fileChanged() : unchanged.error();
}

}  // namespace corvane
