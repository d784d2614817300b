// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ReadAhead.h"

#include "engine/MediaFileProcessor.h"
#include "platform/ImageMetadataReader.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>

namespace corvane {
namespace {

// A descriptor closed when it goes.
class Descriptor {
public:
    explicit Descriptor(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    // The size of the regular file open here; absent for anything else.
    std::optional<off_t> regularFileSize() const {
        struct stat info {};
        if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
        return info.st_size;
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

// Whether the file's first page is in the page cache: a read that may not wait answers at once either
// way. A file system that cannot answer so (a FUSE volume) counts as not cached.
bool firstPageCached(const Descriptor& file) {
    std::array<uint8_t, 16> bytes;
    iovec vector{bytes.data(), bytes.size()};
    return ::preadv2(file.fd(), &vector, 1, 0, RWF_NOWAIT) > 0;
}

void readAheadOne(const ImageMetadataReader& reader, const std::filesystem::path& mediaFile) {
    {
        const Descriptor image(mediaFile);
        if (!image.regularFileSize() || firstPageCached(image)) return;
    }
    // The reader's own reading, exactly as the run will make it at the file's turn; its answer is dropped.
    (void)reader.read(mediaFile)->failure();
    const Descriptor sidecar(sidecarURLFor(mediaFile));
    if (const auto size = sidecar.regularFileSize()) (void)::posix_fadvise(sidecar.fd(), 0, *size, POSIX_FADV_WILLNEED);
}

}  // namespace

ReadAhead::ReadAhead(size_t threads) {
    // The threads inherit this thread's signal mask: all blocked while they start, then restored here.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
        for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
    } catch (...) {
        // Fewer threads, or none: reading ahead is only an aid.
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void ReadAhead::add(const std::filesystem::path& mediaFile) {
    if (threads_.empty()) return;
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(mediaFile);
    }
    wake_.notify_one();
}

void ReadAhead::work() {
    const ImageMetadataReader reader;
    for (;;) {
        std::filesystem::path next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            readAheadOne(reader, next);
        } catch (...) {
            // Out of memory while reading ahead: the run's own read will say so, if it comes to that.
        }
    }
}

}  // namespace corvane
