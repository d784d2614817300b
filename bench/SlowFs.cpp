// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-bench-slowfs: a FUSE passthrough of a folder in which every read waits 2 ms (or --delay-ms)
// before it is answered, as a photo library on a NAS behind a network does. Reads are answered by up to
// 10 threads at once (libfuse's own; it says it ignores an unset maximum when it starts), so reads made
// at the same time wait together, as a network's do; listing, looking up and opening files cost nothing
// extra. The kernel keeps what was read in its page cache while the folder stays mounted (as a network
// file system does while a file is unchanged): unmounting and mounting again starts with nothing
// cached. Reads only: opening a file for writing fails with EROFS.
//
//   corvane-bench-slowfs [--delay-ms N] ROOT MOUNTPOINT    (stays in the foreground; `umount MOUNTPOINT` ends it)

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::string root;
long delayNanoseconds = 2'000'000;

std::string under(const char* path) { return root + path; }

int errorOf(int result) { return result < 0 ? -errno : result; }

void* init(fuse_conn_info*, fuse_config* config) {
    config->use_ino = 1;
    config->kernel_cache = 1;  // pages stay cached across opens while the mount lasts
    config->entry_timeout = config->attr_timeout = 3600;
    return nullptr;
}

int getAttributes(const char* path, struct stat* status, fuse_file_info*) {
    return errorOf(::lstat(under(path).c_str(), status));
}

int readDirectory(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    DIR* directory = ::opendir(under(path).c_str());
    if (!directory) return -errno;
    while (const dirent* entry = ::readdir(directory)) {
        struct stat status {};
        status.st_ino = entry->d_ino;
        status.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
        if (fill(buffer, entry->d_name, &status, 0, static_cast<fuse_fill_dir_flags>(0))) break;
    }
    ::closedir(directory);
    return 0;
}

int openFile(const char* path, fuse_file_info* info) {
    if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    const int fd = ::open(under(path).c_str(), info->flags);
    if (fd < 0) return -errno;
    info->fh = static_cast<uint64_t>(fd);
    return 0;
}

int readFile(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* info) {
    const timespec delay{0, delayNanoseconds};
    ::nanosleep(&delay, nullptr);
    return errorOf(static_cast<int>(::pread(static_cast<int>(info->fh), buffer, size, offset)));
}

int releaseFile(const char*, fuse_file_info* info) { return errorOf(::close(static_cast<int>(info->fh))); }

int fileSystemStatus(const char* path, struct statvfs* status) { return errorOf(::statvfs(under(path).c_str(), status)); }

int readLink(const char* path, char* buffer, size_t size) {
    const ssize_t length = ::readlink(under(path).c_str(), buffer, size - 1);
    if (length < 0) return -errno;
    buffer[length] = '\0';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> places;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--delay-ms" && i + 1 < argc) delayNanoseconds = std::atol(argv[++i]) * 1'000'000;
        else places.push_back(arg);
    }
    if (places.size() != 2) {
        std::fprintf(stderr, "usage: corvane-bench-slowfs [--delay-ms N] ROOT MOUNTPOINT\n");
        return 2;
    }
    char* real = ::realpath(places[0].c_str(), nullptr);
    if (!real) {
        std::perror(places[0].c_str());
        return 1;
    }
    root = real;
    std::free(real);

    fuse_operations operations{};
    operations.init = init;
    operations.getattr = getAttributes;
    operations.readdir = readDirectory;
    operations.open = openFile;
    operations.read = readFile;
    operations.release = releaseFile;
    operations.statfs = fileSystemStatus;
    operations.readlink = readLink;
    std::vector<std::string> arguments{argv[0], places[1], "-f", "-o", "fsname=corvane-slowfs,default_permissions"};
    std::vector<char*> fuseArguments;
    for (std::string& argument : arguments) fuseArguments.push_back(argument.data());
    return fuse_main(static_cast<int>(fuseArguments.size()), fuseArguments.data(), &operations, nullptr);
}
