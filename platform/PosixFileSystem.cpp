#include "platform/PosixFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane {
namespace {

namespace fs = std::filesystem;

Error posixError(int number, std::string_view what, const fs::path& path) {
    return Error{"POSIX", number, std::string(what) + " “" + path.string() + "”: " + std::strerror(number)};
}

// Closes a descriptor on every path.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

struct ListedEntry {
    std::string name;
    bool isDirectory = false;  // a directory itself, not a link to one
};

// The entries of one folder in the order the system gives them, without "." and "..". Absent when the
// folder cannot be opened; an error while reading ends the listing with what was read.
std::optional<std::vector<ListedEntry>> folderListing(const fs::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return std::nullopt;
    std::vector<ListedEntry> entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            isDirectory = ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
        }
        entries.push_back({std::string(name), isDirectory});
    }
    ::closedir(dir);
    return entries;
}

// The unique files of writeTextAtomically are named "." + destination name + "." + six characters, and
// their writer holds an exclusive lock on each from its creation until it has been renamed into place or
// removed. A process killed in between leaves its file behind with the lock released, so a unique file
// for the same destination whose lock can be taken is abandoned: no writer will ever rename or remove
// it. The next write to that destination removes it.
void removeAbandonedUniqueFiles(const fs::path& destination) {
    const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
    const std::string prefix = "." + destination.filename().string() + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) continue;
        Descriptor candidate{::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
        if (candidate.fd < 0) continue;
        struct stat info {};
        if (::fstat(candidate.fd, &info) != 0 || !S_ISREG(info.st_mode)) continue;
        if (::flock(candidate.fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

Status syncFolderOf(const fs::path& path) {
    fs::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    // A folder this process may write into but not list cannot be opened for syncing. The rename has
    // already happened by then; failing now would report a completed replacement as a failure.
    if (dir.fd < 0 && (errno == EACCES || errno == EPERM)) return {};
    if (dir.fd < 0) return posixError(errno, "Cannot open the folder", folder);
    if (::fsync(dir.fd) != 0 && errno != EINVAL) return posixError(errno, "Cannot sync the folder", folder);
    return {};
}

}  // namespace

FileSystem::Presence PosixFileSystem::presence(const fs::path& path) const {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return {true, S_ISDIR(info.st_mode)};
}

bool PosixFileSystem::isReadable(const fs::path& path) const { return ::access(path.c_str(), R_OK) == 0; }

bool PosixFileSystem::isWritable(const fs::path& path) const { return ::access(path.c_str(), W_OK) == 0; }

std::optional<std::vector<FileSystem::WalkEntry>> PosixFileSystem::walk(const fs::path& folder) const {
    auto top = folderListing(folder);
    if (!top) return std::nullopt;
    // Depth first, each folder listed in full and closed before its entries are visited: no descriptor
    // stays open per level, so the depth of a tree cannot exhaust them, and a folder that cannot be
    // listed costs only its own entries.
    struct Level {
        fs::path folder;
        std::vector<ListedEntry> entries;
        size_t next = 0;
    };
    std::vector<Level> pending;
    pending.push_back({folder, std::move(*top)});
    std::vector<WalkEntry> entries;
    while (!pending.empty()) {
        Level& level = pending.back();
        if (level.next == level.entries.size()) {
            pending.pop_back();
            continue;
        }
        const ListedEntry& listed = level.entries[level.next++];
        if (listed.name.front() == '.') continue;  // hidden: neither listed nor entered
        fs::path path = level.folder / listed.name;
        struct stat info {};
        // A file is judged by what it names (a link to a regular file counts as one); a link is never
        // entered, so a link to an enclosing folder cannot make the walk go round.
        std::optional<bool> isRegularFile;
        if (::stat(path.c_str(), &info) == 0) isRegularFile = S_ISREG(info.st_mode);
        entries.push_back({path, isRegularFile});
        if (listed.isDirectory) {
            if (auto inner = folderListing(path)) pending.push_back({std::move(path), std::move(*inner)});
        }
    }
    return entries;
}

Expected<std::string> PosixFileSystem::readFile(const fs::path& path) const {
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return posixError(errno, "Cannot open", path);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) return posixError(errno, "Cannot read", path);
    if (S_ISDIR(info.st_mode)) return posixError(EISDIR, "Cannot read", path);
    std::string bytes;
    if (info.st_size > 0) bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    while (true) {
        const ssize_t count = ::read(file.fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            return posixError(errno, "Cannot read", path);
        }
        if (count == 0) break;
        bytes.append(buffer, static_cast<size_t>(count));
    }
    return bytes;
}

Status PosixFileSystem::writeTextAtomically(const fs::path& path, std::string_view text) {
    removeAbandonedUniqueFiles(path);
    std::string pattern = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    Descriptor file{::mkostemp(pattern.data(), O_CLOEXEC)};
    if (file.fd < 0) return posixError(errno, "Cannot create a file beside", path);
    const fs::path unique = pattern;
    // Held (through its own descriptor) until the unique file is renamed or removed: marks it as in use.
    const Descriptor inUse{::dup(file.fd)};
    if (inUse.fd >= 0) ::flock(inUse.fd, LOCK_EX);
    auto fail = [&](int number, std::string_view what) {
        ::unlink(unique.c_str());
        return posixError(number, what, path);
    };
    // Readable by others like any document the user creates (mkstemp makes it private).
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(file.fd, 0666 & ~mask);
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(file.fd, text.data() + written, text.size() - written);
        if (count < 0) {
            if (errno == EINTR) continue;
            return fail(errno, "Cannot write");
        }
        written += static_cast<size_t>(count);
    }
    if (::fsync(file.fd) != 0) return fail(errno, "Cannot sync");
    if (::close(file.fd) != 0) {
        file.fd = -1;
        return fail(errno, "Cannot write");
    }
    file.fd = -1;
    if (::rename(unique.c_str(), path.c_str()) != 0) return fail(errno, "Cannot write");
    // The folder is not synced here: the destination holds the whole text or its old content even
    // after a crash, and the one caller that needs the rename to last (the safe save) renames the
    // file once more and syncs the folder then. One journal commit less per sidecar written.
    return {};
}

Expected<int64_t> PosixFileSystem::itemSize(const fs::path& path) const {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return posixError(errno, "Cannot read the attributes of", path);
    return static_cast<int64_t>(info.st_size);
}

Status PosixFileSystem::remove(const fs::path& path) {
    if (::unlink(path.c_str()) != 0) return posixError(errno, "Cannot remove", path);
    return {};
}

Status PosixFileSystem::replace(const fs::path& from, const fs::path& to) {
    // rename(2) would put a regular file in place of a link, cutting the user's link and leaving the
    // file it points to as it was. A linked sidecar is read through its link but never replaced; the
    // file that was to replace it is removed, since it can never be put in place.
    struct stat link {};
    if (::lstat(to.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        ::unlink(from.c_str());
        return Error{"POSIX", ELOOP,
                     "Cannot replace “" + to.string() + "”: it is a symbolic link, and the link and the file it points "
                     "to are left unchanged"};
    }
    if (::rename(from.c_str(), to.c_str()) != 0) return posixError(errno, "Cannot replace", to);
    return syncFolderOf(to);
}

Expected<std::optional<uint64_t>> PosixFileSystem::availableCapacity(const fs::path& folder) const {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return posixError(errno, "Cannot read the free space of", folder);
    if (info.f_frsize == 0) return std::optional<uint64_t>{};
    return std::optional<uint64_t>(static_cast<uint64_t>(info.f_bavail) * info.f_frsize);
}

std::optional<std::string> PosixFileSystem::entryIgnoringCase(const fs::path& folder, std::string_view name) const {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> found;
    int matches = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (entryName == name) {
            matches = 0;  // the exact name exists: nothing to resolve
            found.reset();
            break;
        }
        if (asciiEqualsIgnoringCase(entryName, name)) {
            ++matches;
            found = std::string(entryName);
        }
    }
    ::closedir(dir);
    if (matches != 1) return std::nullopt;
    return found;
}

PosixFileSystem& PosixFileSystem::shared() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

}  // namespace corvane
