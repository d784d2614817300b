// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/PosixFileSystem.h"

#include "engine/Diagnostics.h"
#include "engine/RunScope.h"
#include "engine/Text.h"
#include "platform/system/PosixFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <tuple>
#include <utility>

namespace corvane {

// One entry of a folder's listing.
struct ListedEntry {
    std::string name;
    unsigned char type = DT_UNKNOWN;  // the listing's d_type; DT_UNKNOWN is resolved with lstat
};

namespace {

namespace fs = std::filesystem;

// Orders names by their ASCII lower-case form.
bool lessIgnoringCase(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const auto left = static_cast<unsigned char>(asciiLower(a[i]));
        const auto right = static_cast<unsigned char>(asciiLower(b[i]));
        if (left != right) return left < right;
    }
    return a.size() < b.size();
}

// One folder's entries in the order the system gives them, without "." and "..", and the errno that
// cut the listing short (0 when it ran to its end). Absent entries when the folder cannot be opened.
struct Listing {
    std::optional<std::vector<ListedEntry>> entries;
    int error = 0;
};

// Lists the folder at `relative` below the open folder `at`.
Listing listFolder(int at, const std::string& relative) {
    Listing listing;
    const int fd = ::openat(at, relative.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        listing.error = errno;
        if (fd >= 0) ::close(fd);
        return listing;
    }
    listing.entries.emplace();
    while (true) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            listing.error = errno;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : S_ISLNK(info.st_mode) ? DT_LNK : DT_FIFO;
        }
        listing.entries->push_back({std::string(name), type});
    }
    ::closedir(dir);
    return listing;
}

// The entries of the folder at `folder`, as listFolder gives them; absent when it cannot be listed to
// its end (a listing cut short by a read error is no listing: a name missing from it is not absent).
std::optional<std::vector<ListedEntry>> folderListing(const fs::path& folder) {
    Listing listing = listFolder(AT_FDCWD, folder.empty() ? "." : folder.string());
    if (listing.error != 0) return std::nullopt;
    return std::move(listing.entries);
}

// Whether the entry is a regular file, following a symbolic link (which costs a stat).
bool isRegularEntry(const fs::path& folder, const ListedEntry& entry) {
    if (entry.type != DT_LNK && entry.type != DT_UNKNOWN) return entry.type == DT_REG;
    struct stat info {};
    return ::stat((folder / entry.name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Opens a file to be read without blocking (a FIFO would otherwise wait for a writer that never comes)
// and makes sure that it is a regular file; fills `info`.
Expected<int> openRegularFile(const fs::path& path, struct stat& info) {
    Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) return posixError(errno, "Cannot open", path);
    if (::fstat(file.fd, &info) != 0) return posixError(errno, "Cannot read", path);
    if (!S_ISREG(info.st_mode)) {
        return Error::posix(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, notRegularFileMessage(path, info.st_mode));
    }
    return file.release();
}

// Opens a file to be replaced, without blocking, and locks it (flock) before looking at it, so that the
// look also tells whether the file still had its name once the lock was held: a writer that held the
// lock may have put a new file in place before letting it go, and removed this one. The name itself is
// opened first: a symbolic link is noted in `namedThroughLink` (such a file is read through its link
// but never replaced) and then followed. Only a regular file is waited for: a FIFO or a device that
// another program holds is refused at once. Fills `info`; no descriptor when the file had lost its name
// and must be opened again.
Expected<std::optional<int>> openLocked(const fs::path& path, struct stat& info, bool& namedThroughLink) {
    Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW)};
    namedThroughLink = file.fd < 0 && errno == ELOOP;
    if (namedThroughLink) file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) return posixError(errno, "Cannot open", path);
    const auto notRegular = [&] {
        return Error::posix(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, notRegularFileMessage(path, info.st_mode));
    };
    if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return posixError(errno, "Cannot lock", path);
        if (::fstat(file.fd, &info) != 0) return posixError(errno, "Cannot read", path);
        if (!S_ISREG(info.st_mode)) return notRegular();
        if (lockExclusive(file.fd) != 0) return posixError(errno, "Cannot lock", path);
    }
    if (::fstat(file.fd, &info) != 0) return posixError(errno, "Cannot read", path);
    if (!S_ISREG(info.st_mode)) return notRegular();
    if (info.st_nlink == 0) return std::optional<int>();
    return std::optional<int>(file.release());
}

// The whole file behind the descriptor, whose fstat gave `info`, when it holds at most `maximumSize`
// bytes; a file that grows past the limit while it is read is not read beyond it.
Expected<std::string> readWhole(int fd, const struct stat& info, const fs::path& path, uint64_t maximumSize) {
    const auto tooLarge = [&] {
        return Error::posix(EFBIG, "Cannot read “" + path.string() + "”: larger than " + std::to_string(maximumSize) + " bytes");
    };
    if (info.st_size > 0 && static_cast<uint64_t>(info.st_size) > maximumSize) return tooLarge();
    // One byte more than the size says, so that one read normally both fills the text and meets the
    // end; a file that grew since keeps being read, but never past the limit.
    std::string bytes(std::min<uint64_t>(static_cast<uint64_t>(std::max<off_t>(info.st_size, 0)), maximumSize) + 1, '\0');
    size_t filled = 0;
    while (true) {
        if (filled == bytes.size()) {
            if (bytes.size() > maximumSize) return tooLarge();
            bytes.resize(static_cast<size_t>(std::min<uint64_t>(maximumSize + 1, bytes.size() * 2 + 65536)));
        }
        const ssize_t count = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (count < 0) {
            if (errno == EINTR) continue;
            return posixError(errno, "Cannot read", path);
        }
        if (count == 0) break;
        filled += static_cast<size_t>(count);
        // A regular file reads short only at its end: no second read just to meet it.
        if (filled < bytes.size() && static_cast<off_t>(filled) == info.st_size) break;
    }
    bytes.resize(filled);
    return bytes;
}

fs::path folderOf(const fs::path& path) {
    fs::path folder = path.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

Status syncFolder(const fs::path& folder) {
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

bool PosixFileSystem::walk(const fs::path& folder, const WalkVisitor& visit, const UnlistedFolders& unlisted) const {
    const auto cannotList = [&](const std::string& path, int error) { unlisted(path, posixError(error, "Cannot list the folder", path)); };
    // Depth first, each folder listed in full and closed before its entries are visited. Folders are
    // reached relative to an open ancestor, an anchor, so no path handed to the system grows with the
    // tree's depth: past a few hundred bytes below its anchor, a folder becomes an anchor itself. Only
    // anchors stay open, one per kilobyte of path, so no depth can exhaust the descriptors or exceed
    // PATH_MAX, and a folder that cannot be listed costs only its own entries.
    constexpr size_t anchorSpacing = 1024;
    struct Anchors {
        std::vector<int> fds;
        ~Anchors() {
            for (int fd : fds) ::close(fd);
        }
    } anchors;
    struct Level {
        std::string path;      // as the walk names it: the folder as given + "/" + the names below it
        size_t anchor;         // the open ancestor it is reached from
        std::string relative;  // from that anchor ("." for the anchor itself)
        std::vector<ListedEntry> entries;
        size_t next = 0;
    };
    const int top = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    Listing listing = top < 0 ? Listing{std::nullopt, errno} : listFolder(top, ".");
    if (top >= 0) anchors.fds.push_back(top);
    if (listing.error != 0) cannotList(folder.string(), listing.error);
    if (!listing.entries) return false;
    std::vector<Level> pending;
    pending.push_back({folder.string(), 0, ".", std::move(*listing.entries)});
    WalkEntry entry;
    while (!pending.empty()) {
        Level& level = pending.back();
        if (level.next == level.entries.size()) {
            if (level.relative == "." && level.anchor > 0) {
                ::close(anchors.fds.back());
                anchors.fds.pop_back();
            }
            pending.pop_back();
            continue;
        }
        const ListedEntry& listed = level.entries[level.next++];
        if (listed.name.front() == '.') continue;  // hidden: neither listed nor entered
        entry.path = level.path;
        if (!entry.path.empty() && entry.path.back() != '/') entry.path.push_back('/');
        entry.path += listed.name;
        const int anchor = anchors.fds[level.anchor];
        std::string relative = level.relative == "." ? listed.name : level.relative + "/" + listed.name;
        // A file is judged by what it names (a link to a regular file counts as one), so only a link
        // costs a stat; a link is never entered, so a link to an enclosing folder cannot make the walk
        // go round.
        entry.isRegularFile.reset();
        if (listed.type == DT_LNK || listed.type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(anchor, relative.c_str(), &info, 0) == 0) entry.isRegularFile = S_ISREG(info.st_mode);
        } else {
            entry.isRegularFile = listed.type == DT_REG;
        }
        visit(entry);
        if (listed.type != DT_DIR) continue;
        size_t childAnchor = level.anchor;
        if (relative.size() > anchorSpacing) {
            const int fd = ::openat(anchor, relative.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) {
                cannotList(entry.path, errno);
                continue;
            }
            anchors.fds.push_back(fd);
            childAnchor = anchors.fds.size() - 1;
            relative = ".";
        }
        Listing inner = listFolder(anchors.fds[childAnchor], relative);
        if (inner.error != 0) cannotList(entry.path, inner.error);
        if (inner.entries) {
            pending.push_back({entry.path, childAnchor, std::move(relative), std::move(*inner.entries)});
        } else if (childAnchor != level.anchor) {
            ::close(anchors.fds.back());
            anchors.fds.pop_back();
        }
    }
    return true;
}

Expected<std::string> PosixFileSystem::readFile(const fs::path& path, uint64_t maximumSize) const {
    struct stat info {};
    const auto opened = openRegularFile(path, info);
    if (!opened) return opened.error();
    const Descriptor file{opened.value()};
    return readWhole(file.fd, info, path, maximumSize);
}

Expected<std::unique_ptr<OpenFile>> PosixFileSystem::openFile(const fs::path& path, uint64_t maximumSize, FileUse use) {
    const bool write = use == FileUse::write;
    if (write) removeAbandonedFilesOnce(folderOf(path));
    // A writer that held the lock may have put a new file in place before letting it go: the file that
    // the path names once the lock is held is the one read. A file replaced again and again is given up.
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct timespec readAt {};
        ::clock_gettime(CLOCK_REALTIME, &readAt);
        struct stat info {};
        bool namedThroughLink = false;
        Descriptor file;
        if (write) {
            const auto locked = openLocked(path, info, namedThroughLink);
            if (!locked) return locked.error();
            if (!locked.value()) continue;
            file.fd = *locked.value();
        } else {
            const auto opened = openRegularFile(path, info);
            if (!opened) return opened.error();
            file.fd = opened.value();
        }
        auto bytes = readWhole(file.fd, info, path, maximumSize);
        if (!bytes) return bytes.error();
        return std::unique_ptr<OpenFile>(std::make_unique<PosixOpenFile>(
            path, std::move(bytes).value(), info, readAt, write ? file.release() : -1, namedThroughLink));
    }
    return Error::fileChanged();
}

Expected<int64_t> PosixFileSystem::itemSize(const fs::path& path) const {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return posixError(errno, "Cannot read the attributes of", path);
    return static_cast<int64_t>(info.st_size);
}

Status PosixFileSystem::replaceFile(const OpenFile& file, const fs::path& temporary, std::string_view text,
                                    const OpenFile::Attributes& attributes, const std::function<Status()>& validate) {
    const auto* opened = dynamic_cast<const PosixOpenFile*>(&file);
    if (!opened) return posixError(EBADF, "Cannot replace a file another file system opened:", file.path());
    const fs::path folder = folderOf(file.path());
    const uint64_t run = RunScope::current();
    // What a new file gets in the folder is learned once per folder during a run; outside a run, every
    // replacement asks its own new file.
    std::optional<CreatedFileTraits> traits;
    if (run != 0) {
        std::lock_guard lock(mutex_);
        if (traitsRun_ == run && traitsFolder_ == folder) traits = traits_;
    }
    if (Status replaced = replaceOpenFile(*opened, temporary, text, attributes, validate, traits); !replaced) return replaced;
    if (run != 0 && traits) {
        std::lock_guard lock(mutex_);
        std::tie(traitsRun_, traitsFolder_, traits_) = std::tuple(run, folder, traits);
    }
    if (run == 0) return syncFolder(folder);
    // The rename of a file whose contents are synced leaves the old or the new file under its name
    // after any crash; the folder's sync only makes the new one last. It is deferred while the run
    // stays in this folder, so a folder of many rewritten sidecars costs one journal commit.
    std::optional<FolderSyncFailure> previous;
    {
        std::lock_guard lock(mutex_);
        if (pendingSync_ && pendingSync_->folder != folder) previous = std::exchange(pendingSync_, std::nullopt);
        if (!pendingSync_) pendingSync_ = FolderSyncFailure{folder, {}, {}};
        pendingSync_->names.push_back(lastPathComponent(file.path()));
    }
    // That folder's failure belongs to its own files, not to this one, whose rename worked.
    if (previous) syncPending(std::move(*previous));
    return {};
}

std::vector<FileSystem::FolderSyncFailure> PosixFileSystem::syncPendingFolders() {
    std::optional<FolderSyncFailure> pending;
    {
        std::lock_guard lock(mutex_);
        pending = std::exchange(pendingSync_, std::nullopt);
    }
    if (pending) syncPending(std::move(*pending));
    std::lock_guard lock(mutex_);
    return std::exchange(syncFailures_, {});
}

void PosixFileSystem::syncPending(FolderSyncFailure pending) {
    Status synced = syncFolder(pending.folder);
    if (synced) return;
    // The renames in the folder have been reported as done; should they not last a power cut, the
    // user at least reads why, and which files it concerns.
    Diagnostics::line("[DEBUG] ", synced.error().message);
    pending.error = synced.error();
    std::lock_guard lock(mutex_);
    syncFailures_.push_back(std::move(pending));
}

void PosixFileSystem::removeAbandonedFilesOnce(const fs::path& folder) {
    const uint64_t run = RunScope::current();
    if (run != 0) {
        std::lock_guard lock(mutex_);
        if (cleanedRun_ != run) {
            cleanedRun_ = run;
            cleanedFolders_.clear();
        }
        if (!cleanedFolders_.insert(folder.string()).second) return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir))
        if (isTemporaryFileName(entry->d_name)) removeIfAbandoned(::dirfd(dir), entry->d_name, /*wait=*/false);
    ::closedir(dir);
}

Expected<std::optional<uint64_t>> PosixFileSystem::availableCapacity(const fs::path& folder) const {
    const uint64_t run = RunScope::current();
    if (run != 0) {
        std::lock_guard lock(mutex_);
        if (capacityRun_ == run && capacityFolder_ == folder) return capacity_;
    }
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return posixError(errno, "Cannot read the free space of", folder);
    std::optional<uint64_t> capacity;
    if (info.f_frsize != 0) capacity = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    if (run != 0) {
        std::lock_guard lock(mutex_);
        std::tie(capacityRun_, capacityFolder_, capacity_) = std::tuple(run, folder, capacity);
    }
    return capacity;
}

std::optional<std::vector<FileSystem::FolderEntry>> PosixFileSystem::entriesWithStem(const fs::path& folder,
                                                                                   std::string_view stem) const {
    const fs::path listed = folder.empty() ? fs::path(".") : folder;
    const uint64_t run = RunScope::current();
    std::shared_ptr<const std::vector<ListedEntry>> entries;
    {
        std::lock_guard lock(mutex_);
        if (run != 0 && listingRun_ == run && listingFolder_ == listed) entries = listing_;
    }
    if (!entries) {
        auto fresh = folderListing(listed);
        if (!fresh) return std::nullopt;
        std::erase_if(*fresh, [](const ListedEntry& entry) { return stemOf(entry.name).empty(); });
        // Ordered by stem ignoring case, so that each question is a binary search, not a pass over the
        // folder.
        std::sort(fresh->begin(), fresh->end(), [](const ListedEntry& a, const ListedEntry& b) {
            return lessIgnoringCase(stemOf(a.name), stemOf(b.name));
        });
        entries = std::make_shared<const std::vector<ListedEntry>>(std::move(*fresh));
        if (run != 0) {
            std::lock_guard lock(mutex_);
            listingRun_ = run;
            listingFolder_ = listed;
            listing_ = entries;
        }
    }
    struct ByStem {
        bool operator()(const ListedEntry& entry, std::string_view stem) const { return lessIgnoringCase(stemOf(entry.name), stem); }
        bool operator()(std::string_view stem, const ListedEntry& entry) const { return lessIgnoringCase(stem, stemOf(entry.name)); }
    };
    const auto [first, last] = std::equal_range(entries->begin(), entries->end(), stem, ByStem{});
    std::vector<FolderEntry> matches;
    for (auto entry = first; entry != last; ++entry) matches.push_back({entry->name, isRegularEntry(listed, *entry)});
    std::sort(matches.begin(), matches.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return matches;
}

PosixFileSystem& PosixFileSystem::shared() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

}  // namespace corvane
