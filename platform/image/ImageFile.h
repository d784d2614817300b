// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace corvane {

// A media file opened once for reading its metadata. The open never blocks (a FIFO or a device answers
// at once), the file is read only when it is a regular file, and every read stays within the size the
// file had when it was opened. Each read asks the kernel for exactly the bytes wanted, straight into
// the caller's buffer, and the kernel is told that the file is read at random places: it reads no
// further ahead than a read reaches, so a photo's few metadata extents cost a few pages, not megabytes.
// Neither copied nor moved; closes the file when destroyed. Not safe to share between threads.
class ImageFile {
public:
    // Opens the file read-only without following the open into a blocking wait.
    explicit ImageFile(const std::filesystem::path& path);
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // True when the file is open and is a regular file: only then can it be read.
    bool isReadable() const { return fd_ >= 0 && regular_; }
    // For something at the path that is not a regular file: its mode (st_mode), which says what it is
    // (a FIFO, a directory, a device, a socket). Absent for a regular file and for a path where nothing
    // could be opened or examined (missing, no permission).
    const std::optional<unsigned>& irregularMode() const { return irregularMode_; }

    // Why the file could not be opened, examined or read: an errno value (ENOENT, EACCES, EIO, ...), or 0
    // while nothing has failed. A file that ends before a read does is not counted as an error.
    int error() const { return error_; }

    uint64_t size() const { return size_; }
    // The descriptor, for a caller that maps the file; -1 when the file is not readable.
    int descriptor() const { return isReadable() ? fd_ : -1; }

    // Reads exactly `out.size()` bytes at `offset`, one system call for them unless the kernel hands
    // them over in parts; false when they lie beyond the size or a read fails.
    bool readAt(uint64_t offset, std::span<uint8_t> out);
    // The bytes handed out by readAt so far, to check what a parser reads.
    uint64_t bytesDelivered() const { return delivered_; }

private:
    int fd_ = -1;
    int error_ = 0;
    bool regular_ = false;
    std::optional<unsigned> irregularMode_;
    uint64_t size_ = 0;
    uint64_t delivered_ = 0;
};

}  // namespace corvane
