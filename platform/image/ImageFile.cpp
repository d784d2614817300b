// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace corvane {

ImageFile::ImageFile(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd_ < 0) {
        error_ = errno;
        // A socket cannot be opened at all (ENXIO); say what it is rather than call it missing. This
        // extra look is taken only on the failure path.
        if (error_ == ENXIO && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) irregularMode_ = info.st_mode;
        return;
    }
    if (::fstat(fd_, &info) != 0) {
        error_ = errno;
        return;
    }
    regular_ = S_ISREG(info.st_mode);
    if (!regular_) {
        irregularMode_ = info.st_mode;
        return;
    }
    size_ = static_cast<uint64_t>(info.st_size);
    // Metadata lies in a few small extents anywhere in the file: the kernel's readahead (megabytes on
    // some disks) would only read picture data nobody asked for. Only a hint; a failure changes nothing.
    (void)::posix_fadvise(fd_, 0, 0, POSIX_FADV_RANDOM);
}

ImageFile::~ImageFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool ImageFile::readAt(uint64_t offset, std::span<uint8_t> out) {
    if (!isReadable() || offset > size_ || out.size() > size_ - offset) return false;
    const size_t size = out.size();
    while (!out.empty()) {
        const ssize_t count = ::pread(fd_, out.data(), out.size(), static_cast<off_t>(offset));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && error_ == 0) error_ = errno;
        if (count <= 0) return false;  // an I/O error, or the file shrank since it was opened
        out = out.subspan(static_cast<size_t>(count));
        offset += static_cast<uint64_t>(count);
    }
    delivered_ += size;
    return true;
}

}  // namespace corvane
