// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/FileSystem.h"
#include "engine/RunJournal.h"

namespace corvane {

// The file system of a run that keeps a journal: every replacement is recorded in the journal first,
// and the new file takes the old one's place only once the record is durable. A replacement whose
// record cannot be kept fails with journalError() and leaves the file as it was; one that fails for any
// other reason has its record cancelled. Every other call goes to `inner` unchanged. The two objects
// must outlive this one; thread-safe as they are.
class JournaledFileSystem : public FileSystem {
    using Path = std::filesystem::path;

public:
    JournaledFileSystem(FileSystem& inner, RunJournal& journal) : inner_(inner), journal_(journal) {}

    Presence presence(const Path& path) const override { return inner_.presence(path); }
    bool isReadable(const Path& path) const override { return inner_.isReadable(path); }
    bool isWritable(const Path& path) const override { return inner_.isWritable(path); }
    bool walk(const Path& folder, const WalkVisitor& visit, const UnlistedFolders& unlisted) const override {
        return inner_.walk(folder, visit, unlisted);
    }
    Expected<std::string> readFile(const Path& path, uint64_t maximumSize) const override { return inner_.readFile(path, maximumSize); }
    Expected<int64_t> itemSize(const Path& path) const override { return inner_.itemSize(path); }
    Expected<std::unique_ptr<OpenFile>> openFile(const Path& path, uint64_t maximumSize, FileUse use) override {
        return inner_.openFile(path, maximumSize, use);
    }
    Status replaceFile(const OpenFile& file, const Path& temporary, std::string_view text, const OpenFile::Attributes& attributes,
                       const std::function<Status()>& validate) override;
    std::vector<FolderSyncFailure> syncPendingFolders() override { return inner_.syncPendingFolders(); }
    Expected<std::optional<uint64_t>> availableCapacity(const Path& folder) const override {
        return inner_.availableCapacity(folder);
    }
    std::optional<std::vector<FolderEntry>> entriesWithStem(const Path& folder, std::string_view stem) const override {
        return inner_.entriesWithStem(folder, stem);
    }

private:
    FileSystem& inner_;
    RunJournal& journal_;
};

}  // namespace corvane
