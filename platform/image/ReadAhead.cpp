// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/ReadAhead.h"

#include "engine/MediaFileProcessor.h"
#include "engine/SidecarLocation.h"
#include "platform/image/ImageMetadataReader.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>

namespace corvane {
namespace {

// After this many files in a row found in the page cache, only one file in `sampleEvery` is looked at.
constexpr size_t settleAfter = 64;
constexpr size_t sampleEvery = 32;

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
// way. A file system that cannot answer so (a FUSE volume) counts as not cached. Such a read still
// starts fetching what it asked for: told that the file is read at random places, the kernel fetches
// that one page (needed anyway), not the pages its readahead would add.
bool firstPageCached(const Descriptor& file) {
    (void)::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_RANDOM);
    std::array<uint8_t, 16> bytes;
    iovec vector{bytes.data(), bytes.size()};
    return ::preadv2(file.fd(), &vector, 1, 0, RWF_NOWAIT) > 0;
}

// Asks the kernel to fetch the sidecar, then reads the file ahead unless its first page is cached
// already; whether it was. The sidecar comes first: the probe of the image may itself bring its first
// page in (it starts the read it asks for), and must not decide for the sidecar.
bool readAheadOne(const ImageMetadataReader& reader, const std::filesystem::path& mediaFile, SidecarName naming) {
    const auto fetch = [](const std::filesystem::path& name) {
        const Descriptor sidecar(name);
        if (const auto size = sidecar.regularFileSize()) (void)::posix_fadvise(sidecar.fd(), 0, *size, POSIX_FADV_WILLNEED);
    };
    if (naming != SidecarName::full) fetch(sidecarURLFor(mediaFile));
    if (naming != SidecarName::base) fetch(std::filesystem::path(mediaFile) += ".xmp");
    {
        const Descriptor image(mediaFile);
        if (!image.regularFileSize()) return false;
        if (firstPageCached(image)) return true;
    }
    // The reader's own reading, exactly as the run will make it at the file's turn; its answer is dropped.
    (void)reader.read(mediaFile)->failure();
    return false;
}

}  // namespace

ReadAhead::ReadAhead(SidecarName naming, size_t threads) : naming_(naming) {
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
        if (cachedInARow_ >= settleAfter && ++passedOver_ % sampleEvery != 0) return;
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
        bool cached = false;
        try {
            cached = readAheadOne(reader, next, naming_);
        } catch (...) {
            // Out of memory while reading ahead: the run's own read will say so, if it comes to that.
        }
        const std::lock_guard lock(mutex_);
        cachedInARow_ = cached ? cachedInARow_ + 1 : 0;
    }
}

}  // namespace corvane
