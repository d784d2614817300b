// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/FileSystem.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace corvane {

// The file system of this machine, through std::filesystem and POSIX calls. Thread-safe. The only state
// it holds serves the run in progress (RunScope): the listing of the folder last searched ignoring
// case, the folders already cleaned of abandoned unique files, and the folder whose sync is deferred.
class PosixFileSystem : public FileSystem {
public:
    Presence presence(const std::filesystem::path& path) const override;
    bool isReadable(const std::filesystem::path& path) const override;
    bool isWritable(const std::filesystem::path& path) const override;
    bool walk(const std::filesystem::path& folder, const WalkVisitor& visit, const UnlistedFolders& unlisted) const override;
    Expected<std::string> readFile(const std::filesystem::path& path, uint64_t maximumSize) const override;
    // Before its first write into a folder during a run (before every write outside a run), removes
    // the unique files that killed writers abandoned in that folder.
    Status writeTextAtomically(const std::filesystem::path& path, std::string_view text) override;
    Expected<int64_t> itemSize(const std::filesystem::path& path) const override;
    Status remove(const std::filesystem::path& path) override;
    Status replace(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::vector<FolderSyncFailure> syncPendingFolders() override;
    Expected<std::optional<uint64_t>> availableCapacity(const std::filesystem::path& folder) const override;
    std::optional<std::vector<std::string>> entriesIgnoringCase(const std::filesystem::path& folder,
                                                                std::string_view name) const override;

    // The one instance a process needs.
    static PosixFileSystem& shared();

private:
    void removeAbandonedFilesOnce(const std::filesystem::path& folder);
    // Syncs the folder of the pending renames; a failure is reported and kept in syncFailures_.
    void syncPending(FolderSyncFailure pending);

    mutable std::mutex mutex_;
    mutable uint64_t listingRun_ = 0;
    mutable std::filesystem::path listingFolder_;
    mutable std::string listingSuffix_;
    mutable std::shared_ptr<const std::vector<std::string>> listing_;
    uint64_t cleanedRun_ = 0;
    std::set<std::string> cleanedFolders_;
    std::optional<FolderSyncFailure> pendingSync_;  // the folder and the names whose sync is deferred (no error yet)
    std::vector<FolderSyncFailure> syncFailures_;
};

}  // namespace corvane
