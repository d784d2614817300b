#pragma once

#include "engine/FileSystem.h"

namespace corvane {

// The file system of this machine, through std::filesystem and POSIX calls. Stateless and thread-safe.
class PosixFileSystem : public FileSystem {
public:
    Presence presence(const std::filesystem::path& path) const override;
    bool isReadable(const std::filesystem::path& path) const override;
    bool isWritable(const std::filesystem::path& path) const override;
    std::optional<std::vector<WalkEntry>> walk(const std::filesystem::path& folder) const override;
    Expected<std::string> readFile(const std::filesystem::path& path) const override;
    Status writeTextAtomically(const std::filesystem::path& path, std::string_view text) override;
    Expected<int64_t> itemSize(const std::filesystem::path& path) const override;
    Status remove(const std::filesystem::path& path) override;
    Status replace(const std::filesystem::path& from, const std::filesystem::path& to) override;
    Expected<std::optional<uint64_t>> availableCapacity(const std::filesystem::path& folder) const override;
    std::optional<std::string> entryIgnoringCase(const std::filesystem::path& folder,
                                                 std::string_view name) const override;

    // The one instance a process needs.
    static PosixFileSystem& shared();
};

}  // namespace corvane
