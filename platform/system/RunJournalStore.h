// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"
#include "engine/RunJournal.h"
#include "platform/system/RunJournalFormat.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class RunJournalFile;

// A run as its journal tells it.
struct RunInfo {
    std::string name;  // when it began, in UTC: "20261207T140312.345Z" ("-2", "-3", ... for a second run that millisecond)
    std::chrono::system_clock::time_point started;
    RunDescription description;
    size_t replaced = 0;      // the sidecars it replaced
    bool finished = false;    // it ended as runs end, rather than being killed
    bool inProgress = false;  // its process is still writing the journal
    bool damaged = false;     // its journal was harmed after it was written (see `unreadable`, `lost`)
    size_t lost = 0;          // records of sidecars it replaced that cannot be read: they cannot be restored
    bool unreadable = false;  // its journal cannot be read at all: what it did is unknown, it cannot be undone
};

// The journals of the runs that wrote, one file per run ("NAME.journal") in a folder that only the user
// may enter, since the journals hold the old texts of the sidecars. Keeps the journals of the last
// `runsKept` runs, and those of all runs of the last `daysKept` days, whichever are more. Several
// processes may use one folder at once: a run's process holds its journal (a lock) until the run ends,
// and no journal held so is removed. Not thread-safe; the journals it prepares are.
class RunJournalStore {
public:
    static constexpr size_t runsKept = 20;
    static constexpr int daysKept = 30;

    explicit RunJournalStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
    // $XDG_STATE_HOME/corvane/runs, or ~/.local/state/corvane/runs when XDG_STATE_HOME is not an
    // absolute path.
    static std::filesystem::path defaultFolder();
    const std::filesystem::path& folder() const { return folder_; }

    // The journal of a new run. Nothing is created until it is opened or takes its first record; then its
    // folder and file are made, and the journals beyond what is kept are removed.
    std::unique_ptr<RunJournalFile> prepare(RunDescription description);

    // The runs whose journals are kept, oldest first, those whose journals cannot be read included (as
    // `unreadable`); a file that cannot be read is left out. No folder: no runs.
    Expected<std::vector<RunInfo>> list() const;
    // The newest run that replaced a sidecar, or whose journal is too damaged to tell; absent when there
    // is none. A journal that cannot be read is an error rather than passed by, so that an undo never
    // takes an older run for the last one.
    Expected<std::optional<RunInfo>> lastRun() const;
    // The run named so; absent when there is none.
    Expected<std::optional<RunInfo>> find(std::string_view name) const;
    // The run's records that were not cancelled and can be read, in the order made, with the old texts;
    // an error for a run whose journal cannot be read at all. `run.lost` may grow as the old texts are
    // read.
    Expected<std::vector<ReplacedSidecar>> records(RunInfo& run) const;
    // Removes the journal of every run that is not in progress; how many were removed.
    Expected<size_t> forget();

private:
    friend class RunJournalFile;
    // A new journal file, named after this moment, locked; the journals beyond what is kept are removed.
    struct Created {
        std::string name;
        std::filesystem::path path;
        int fd;
    };
    Expected<Created> create();
    Expected<std::vector<std::string>> names() const;
    Expected<RunInfo> read(const std::string& name, std::optional<JournalContents>* withOldTexts = nullptr) const;

    std::filesystem::path folder_;
};

}  // namespace corvane
