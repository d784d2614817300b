// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace corvane {
namespace {

constexpr uint64_t windowSize = 64 * 1024;

}  // namespace

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
}

ImageFile::~ImageFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool ImageFile::readFromFile(uint64_t offset, std::span<uint8_t> out) {
    while (!out.empty()) {
        const ssize_t count = ::pread(fd_, out.data(), out.size(), static_cast<off_t>(offset));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && error_ == 0) error_ = errno;
        if (count <= 0) return false;  // an I/O error, or the file shrank since it was opened
        out = out.subspan(static_cast<size_t>(count));
        offset += static_cast<uint64_t>(count);
    }
    return true;
}

bool ImageFile::readAt(uint64_t offset, std::span<uint8_t> out) {
    if (!isReadable() || offset > size_ || out.size() > size_ - offset) return false;
    if (out.empty()) return true;
    const uint64_t end = offset + out.size();
    if (offset < windowStart_ || end > windowStart_ + window_.size()) {
        if (out.size() >= windowSize) {
            if (!readFromFile(offset, out)) return false;
            delivered_ += out.size();
            return true;
        }
        window_.resize(static_cast<size_t>(std::min(windowSize, size_ - offset)));
        windowStart_ = offset;
        if (!readFromFile(windowStart_, window_)) {
            window_.clear();
            return false;
        }
    }
    std::memcpy(out.data(), window_.data() + (offset - windowStart_), out.size());
    delivered_ += out.size();
    return true;
}

}  // namespace corvane
