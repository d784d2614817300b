// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/FileSystem.h"
#include "platform/system/PosixFile.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <vector>
#include <string>

namespace corvane {

struct ListedEntry;

// The file system of this machine, through std::filesystem and POSIX calls. Thread-safe. The only state
// it holds serves the run in progress (RunScope): the listing of the folder last searched by stem, the
// free space of the folder last asked about, what a file created in the folder last written gets, the
// folders already cleaned of abandoned temporary files, and the folder whose sync is deferred.
class PosixFileSystem : public FileSystem {
public:
    Presence presence(const std::filesystem::path& path) const override;
    bool isReadable(const std::filesystem::path& path) const override;
    bool isWritable(const std::filesystem::path& path) const override;
    bool walk(const std::filesystem::path& folder, const WalkVisitor& visit, const UnlistedFolders& unlisted) const override;
    Expected<std::string> readFile(const std::filesystem::path& path, uint64_t maximumSize) const override;
    Expected<int64_t> itemSize(const std::filesystem::path& path) const override;
    Expected<std::unique_ptr<OpenFile>> openFile(const std::filesystem::path& path, uint64_t maximumSize,
                                                 FileUse use) override;
    // When the volume cannot exchange two names in one step (FAT, some network file systems), the
    // check that the file is unchanged comes just before an ordinary rename instead of just after the
    // exchange, and a save by another program in the moment between them is lost.
    Status replaceFile(const OpenFile& file, const std::filesystem::path& temporary, std::string_view text,
                       const OpenFile::Attributes& attributes,
                       const std::function<Status()>& validate) override;
    std::vector<FolderSyncFailure> syncPendingFolders() override;
    Expected<std::optional<uint64_t>> availableCapacity(const std::filesystem::path& folder) const override;
    std::optional<std::vector<FolderEntry>> entriesWithStem(const std::filesystem::path& folder,
                                                            std::string_view stem) const override;

    // The one instance a process needs.
    static PosixFileSystem& shared();

private:
    void removeAbandonedFilesOnce(const std::filesystem::path& folder);
    // Syncs the folder of the pending renames; a failure is reported and kept in syncFailures_.
    void syncPending(FolderSyncFailure pending);

    mutable std::mutex mutex_;
    mutable uint64_t listingRun_ = 0;
    mutable std::filesystem::path listingFolder_;
    mutable std::shared_ptr<const std::vector<ListedEntry>> listing_;
    uint64_t cleanedRun_ = 0;
    std::set<std::string> cleanedFolders_;
    mutable uint64_t capacityRun_ = 0;
    mutable std::filesystem::path capacityFolder_;
    mutable std::optional<uint64_t> capacity_;
    uint64_t traitsRun_ = 0;
    std::filesystem::path traitsFolder_;
    std::optional<CreatedFileTraits> traits_;
    std::optional<FolderSyncFailure> pendingSync_;  // the folder and the names whose sync is deferred (no error yet)
    std::vector<FolderSyncFailure> syncFailures_;
};

}  // namespace corvane
