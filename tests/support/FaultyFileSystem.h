// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The real file system with what a test sets on top: the free space the volume reports, a failing
// query of it, and a folder this process may not read or write. It wraps the real file system and
// passes every other call through to it.

#include "platform/system/PosixFileSystem.h"

#include <cerrno>
#include <optional>

namespace corvane::test {

class FaultyFileSystem : public FileSystem {
    using Path = std::filesystem::path;

public:
    enum class Failing { nothing, capacityQuery };

    explicit FaultyFileSystem(FileSystem& real = PosixFileSystem::shared()) : real_(real) {}

    // Absent: the volume reports no capacity. Never called: the real free space.
    void reportCapacity(std::optional<uint64_t> bytes) { capacity_ = bytes; }
    void fail(Failing operation) { failing_ = operation; }
    // Everything at or below `folder` reads as neither readable nor writable (root passes every
    // permission check, so tests cannot rely on chmod); with `readable` only writing is denied.
    void denyAccessBelow(const Path& folder, bool readable = false) {
        denied_ = folder.lexically_normal();
        readable_ = readable;
    }

    Presence presence(const Path& path) const override { return real_.presence(path); }
    bool isReadable(const Path& path) const override { return (readable_ || !isDenied(path)) && real_.isReadable(path); }
    bool isWritable(const Path& path) const override { return !isDenied(path) && real_.isWritable(path); }
    bool walk(const Path& folder, const WalkVisitor& visit, const UnlistedFolders& unlisted) const override { return real_.walk(folder, visit, unlisted); }
    Expected<std::string> readFile(const Path& path, uint64_t limit) const override { return real_.readFile(path, limit); }
    Expected<int64_t> itemSize(const Path& path) const override { return real_.itemSize(path); }
    Expected<std::unique_ptr<OpenFile>> openFile(const Path& path, uint64_t limit, FileUse use) override { return real_.openFile(path, limit, use); }
    Status replaceFile(const OpenFile& file, const Path& temporary, std::string_view text, const OpenFile::Attributes& attributes,
                       const std::function<Status()>& validate) override {
        return real_.replaceFile(file, temporary, text, attributes, validate);
    }
    std::vector<FolderSyncFailure> syncPendingFolders() override { return real_.syncPendingFolders(); }
    Expected<std::optional<uint64_t>> availableCapacity(const Path& folder) const override {
        if (failing_ == Failing::capacityQuery) return Error::posix(EIO, "Cannot read the free space: I/O error");
        if (capacity_) return *capacity_;
        return real_.availableCapacity(folder);
    }
    std::optional<std::vector<FolderEntry>> entriesWithStem(const Path& folder, std::string_view stem) const override {
        return real_.entriesWithStem(folder, stem);
    }

private:
    bool isDenied(const Path& path) const {
        if (!denied_) return false;
        const auto relative = path.lexically_normal().lexically_relative(*denied_);
        return !relative.empty() && *relative.begin() != "..";
    }

    FileSystem& real_;
    std::optional<std::optional<uint64_t>> capacity_;  // outer: set by the test; inner: what the volume says
    std::optional<std::filesystem::path> denied_;
    bool readable_ = false;
    Failing failing_ = Failing::nothing;
};

}  // namespace corvane::test
