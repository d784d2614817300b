#pragma once

// The real file system with two things a test can set: the free space the volume reports, and one
// operation that fails. Everything else goes to the disk.

#include "platform/PosixFileSystem.h"

#include <cerrno>
#include <optional>

namespace corvane::test {

class FaultyFileSystem : public PosixFileSystem {
public:
    enum class Failing { nothing, capacityQuery, atomicWrite, replace };

    // Absent: the volume reports no capacity. Unset (the default): the real free space.
    void reportCapacity(std::optional<uint64_t> bytes) { capacity_ = bytes; capacityOverridden_ = true; }
    void fail(Failing operation) { failing_ = operation; }
    // Everything at or below `folder` reads as neither readable nor writable for this process (root
    // passes every permission check, so tests cannot rely on chmod for this).
    // With `readable` true only writing is denied (a read-only mount or archive).
    void denyAccessBelow(const std::filesystem::path& folder, bool readable = false) {
        denied_ = folder;
        readable_ = readable;
    }

    bool isReadable(const std::filesystem::path& path) const override {
        return (readable_ || !isDenied(path)) && PosixFileSystem::isReadable(path);
    }
    bool isWritable(const std::filesystem::path& path) const override {
        return !isDenied(path) && PosixFileSystem::isWritable(path);
    }

    Expected<std::optional<uint64_t>> availableCapacity(const std::filesystem::path& folder) const override {
        if (failing_ == Failing::capacityQuery) return Error{"POSIX", EIO, "Cannot read the free space: I/O error"};
        if (capacityOverridden_) return capacity_;
        return PosixFileSystem::availableCapacity(folder);
    }
    Status writeTextAtomically(const std::filesystem::path& path, std::string_view text) override {
        if (failing_ == Failing::atomicWrite) return Error{"POSIX", ENOSPC, "Cannot write: No space left on device"};
        return PosixFileSystem::writeTextAtomically(path, text);
    }
    Status replace(const std::filesystem::path& from, const std::filesystem::path& to) override {
        if (failing_ == Failing::replace) return Error{"POSIX", EIO, "Cannot replace: I/O error"};
        return PosixFileSystem::replace(from, to);
    }

private:
    bool isDenied(const std::filesystem::path& path) const {
        if (!denied_) return false;
        const auto relative = path.lexically_normal().lexically_relative(denied_->lexically_normal());
        return !relative.empty() && *relative.begin() != "..";
    }

    std::optional<std::filesystem::path> denied_;
    bool readable_ = false;
    std::optional<uint64_t> capacity_;
    bool capacityOverridden_ = false;
    Failing failing_ = Failing::nothing;
};

}  // namespace corvane::test
