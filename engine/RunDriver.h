// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Executor.h"
#include "engine/FileSystem.h"
#include "engine/MediaFiles.h"
#include "engine/ResultModel.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// The run's published state. Only the driver writes it, on the thread that runs the executor's work.
struct RunProgress {
    bool isProcessing = false;
    std::string currentFile;  // last path component of the file whose row was added last
    int64_t totalCount = 0;
    int64_t processedCount = 0;
    std::vector<ProcessingResultDetail> results;
    std::optional<uint64_t> task;  // the run's number; kept until the next run resets it
};

// Told of every change of RunProgress, on the thread that runs the executor's work; a front end
// marshals to its own thread from here if it needs to.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    // The run was reset, started or finished.
    virtual void runStateChanged(const RunProgress& progress) = 0;
    // One row was added: `row`, which is progress.results.back() when the driver keeps its rows. By
    // default it calls resultRecorded.
    virtual void rowAdded(const RunProgress& progress, const ProcessingResultDetail& row) {
        (void)row;
        resultRecorded(progress);
    }
    // One row was appended (it is progress.results.back()).
    virtual void resultRecorded(const RunProgress& progress) { (void)progress; }
    // A folder among the dropped items, or below one, could not be listed (or not to its end): the
    // media files in it are not in the run. Told while the items are expanded, before the run starts.
    virtual void folderNotListed(const std::string& folder, const Error& why) {
        (void)folder;
        (void)why;
    }
    // The files the run replaced in a folder hold their new contents, but the folder's sync failed, so
    // their renames may not outlive a power cut. Told when the run ends, before its end is published.
    virtual void folderNotSynced(const FileSystem::FolderSyncFailure& failure) { (void)failure; }
};

// Whether the driver keeps the rows of a run in RunProgress::results (the window lists and copies them)
// or only publishes each to the observer (a front end that prints each row as it comes needs no more,
// and its memory then does not grow with the run).
enum class RowRetention { keepRows, publishOnly };

// The per-file operation: one outcome for one queued media file, with the Dry Run mode it ran in.
// Called once per file. It reports failures as outcomes; an exception that escapes it all the same
// becomes a failed row (which wrote nothing) whose text is the exception's what().
using ProcessFile = std::function<FileOutcome(const std::filesystem::path& fileURL)>;

// Turns dropped locations into a run and drives it: the files go to the per-file operation in
// consecutive batches of `batchSize`, each batch one piece of work on the executor, and every outcome
// becomes one row. The per-file operation gets each file's absolute, standardised location; the row
// keeps the location as given. The run is a RunScope from its start to its end; when it ends the
// file system's deferred folder sync is done (a failed one is told to the observer) and the diagnostic
// lines are flushed. A run ends early only when stopWhen's condition asks it to, between two files;
// destroying the driver abandons the work not yet done (and ends the run's scope).
class RunDriver {
public:
    static constexpr size_t batchSize = 2;

    RunDriver(FileSystem& fileSystem, ProcessFile processFile, Executor executor, RunObserver* observer = nullptr,
              RowRetention retention = RowRetention::keepRows);
    ~RunDriver();
    RunDriver(const RunDriver&) = delete;
    RunDriver& operator=(const RunDriver&) = delete;

    // Does nothing while a run is in progress (returns false). Otherwise resets the state, expands the
    // items, and when at least one media file is found starts the run on the executor (returns true).
    bool startRun(const std::vector<std::filesystem::path>& items);
    // The same for a run over exactly `files` (no folder is expanded and no name is judged), each handed
    // to `process` in order instead of the driver's own per-file operation: an undo's sidecars.
    bool startRun(const std::vector<std::filesystem::path>& files, ProcessFile process);

    const RunProgress& progress() const;

    // Asked before each file of a run (on the executor's thread): once it answers true, the run takes
    // no further file and ends as after its last one (the file in progress has finished and has its
    // row; the scope closes, deferred folder syncs are done, the end is published). processedCount
    // then stays below totalCount. A way for a front end to end a run cleanly on a signal.
    void stopWhen(std::function<bool()> condition);

    // Tells `upcoming` of each file of a run but the first (its location as the per-file operation gets
    // it) once, up to `files` files before its turn: the first ones as the run's first file's turn comes,
    // then one more as each file's turn comes, on the executor's thread and before that file is
    // processed. A front end can have
    // those files read ahead meanwhile; the run does not wait for it. A run that stops early may have
    // told of files it never reaches.
    void lookAhead(size_t files, std::function<void(const std::filesystem::path&)> upcoming);

    struct State;  // opaque; shared with the work posted on the executor

private:
    bool start(FileQueue files, ProcessFile process);

    std::shared_ptr<State> state_;
};

}  // namespace corvane
