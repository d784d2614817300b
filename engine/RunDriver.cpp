// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunDriver.h"

#include "engine/Diagnostics.h"
#include "engine/MediaFiles.h"
#include "engine/RunScope.h"

#include <algorithm>
#include <exception>

namespace corvane {

struct RunDriver::State {
    FileSystem& fileSystem;
    ProcessFile processFile;
    Executor executor;
    RunObserver* observer;
    RowRetention retention;
    RunProgress progress;
    uint64_t runsStarted = 0;
    bool inScope = false;  // between RunScope::begin and end

    bool abandoned = false;
    std::function<bool()> stopCondition;
    size_t lookAheadFiles = 0;
    std::function<void(const std::filesystem::path&)> upcoming;
    size_t toldUpTo = 0;  // the files before this index of the run have been told of

    // The run's last file has its row (or the driver goes away): what the run deferred is done now.
    // Returns the folder syncs that failed during the run.
    std::vector<FileSystem::FolderSyncFailure> closeScope() {
        if (!inScope) return {};
        inScope = false;
        std::vector<FileSystem::FolderSyncFailure> failures = fileSystem.syncPendingFolders();
        RunScope::end();
        Diagnostics::flush();
        return failures;
    }

    void stateChanged() {
        if (observer) observer->runStateChanged(progress);
    }

    void clear() {
        progress.isProcessing = false;
        progress.currentFile.clear();
        progress.totalCount = 0;
        progress.processedCount = 0;
        progress.results.clear();
        progress.task.reset();
    }

    // Publishes one outcome: currentFile, a new row (kept unless the driver only publishes its rows),
    // processedCount + 1.
    void recordResult(const std::filesystem::path& fileURL, FileOutcome outcome) {
        progress.currentFile = lastPathComponent(fileURL);
        progress.processedCount += 1;
        if (retention == RowRetention::keepRows) {
            progress.results.push_back(ProcessingResultDetail::make(fileURL, std::move(outcome)));
            if (observer) observer->rowAdded(progress, progress.results.back());
        } else {
            const ProcessingResultDetail row = ProcessingResultDetail::make(fileURL, std::move(outcome));
            if (observer) observer->rowAdded(progress, row);
        }
        // The file's lines reach their destination with its row.
        Diagnostics::flush();
    }
};

namespace {

// The per-file operation returns every outcome as a value. Should it throw all the same (out of
// memory), the file still gets its row and the run goes on: a run left half-done would stay
// "processing" for good and refuse every later drop.
FileOutcome processOneFile(const ProcessFile& process, const std::filesystem::path& file) {
    try {
        return process(file);
    } catch (const std::exception& error) {
        return {outcome::Failed{error.what()}, true};
    }
}

// The files after `index` within the look-ahead's reach that have not been told of yet (the file at
// `index` is read at once: telling of it would only read it twice).
void tellUpcoming(RunDriver::State& state, const FileQueue& files, size_t index) {
    if (!state.upcoming) return;
    const size_t reach = std::min(files.size(), index + 1 + state.lookAheadFiles);
    for (state.toldUpTo = std::max(state.toldUpTo, index + 1); state.toldUpTo < reach; ++state.toldUpTo)
        state.upcoming(files[state.toldUpTo].fileURL);
}

// The run's last file has its row, or the run was asked to stop: its scope closes and its end is
// published.
void endRun(RunDriver::State& state) {
    for (const auto& failure : state.closeScope())
        if (state.observer) state.observer->folderNotSynced(failure);
    state.progress.isProcessing = false;
    state.progress.currentFile.clear();
    state.stateChanged();
}

// One batch per piece of work; the next batch is posted only when this one has its rows, so batches
// never overlap and the event loop of a window gets its turn between batches.
void runBatch(std::weak_ptr<RunDriver::State> weak, std::shared_ptr<const FileQueue> files,
              std::shared_ptr<ProcessFile> process, size_t first) {
    auto state = weak.lock();
    if (!state || state->abandoned) return;
    const size_t end = std::min(files->size(), first + RunDriver::batchSize);
    for (size_t index = first; index < end; ++index) {
        if (state->stopCondition && state->stopCondition()) return endRun(*state);
        tellUpcoming(*state, *files, index);
        const QueuedFile file = (*files)[index];
        FileOutcome outcome = processOneFile(*process, file.fileURL);
        if (state->abandoned) return;  // the driver went away while the file was processed
        state->recordResult(file.shownURL(), std::move(outcome));
    }
    if (end < files->size()) {
        state->executor([weak, files, process, end] { runBatch(weak, files, process, end); });
        return;
    }
    endRun(*state);
}

}  // namespace

RunDriver::RunDriver(FileSystem& fileSystem, ProcessFile processFile, Executor executor, RunObserver* observer,
                     RowRetention retention)
    : state_(std::make_shared<State>(
          State{fileSystem, std::move(processFile), std::move(executor), observer, retention, {}, 0, false, false, {}, 0, {}, 0})) {}

RunDriver::~RunDriver() {
    state_->abandoned = true;
    (void)state_->closeScope();  // nobody is left to tell of a failed sync but the diagnostic lines
}

bool RunDriver::startRun(const std::vector<std::filesystem::path>& items) {
    if (state_->progress.isProcessing) return false;
    // The previous run's rows go even when the new items hold no media file.
    state_->clear();
    RunObserver* observer = state_->observer;
    FileQueue files = queueDroppedItems(state_->fileSystem, items, [observer](const std::string& folder, const Error& why) {
        if (observer) observer->folderNotListed(folder, why);
    });
    return start(std::move(files), state_->processFile);
}

bool RunDriver::startRun(const std::vector<std::filesystem::path>& files, ProcessFile process) {
    if (state_->progress.isProcessing) return false;
    state_->clear();
    FileQueue queue;
    for (const auto& file : files) queue.add(file.string());
    return start(std::move(queue), std::move(process));
}

bool RunDriver::start(FileQueue queue, ProcessFile process) {
    auto files = std::make_shared<const FileQueue>(std::move(queue));
    state_->progress.totalCount = static_cast<int64_t>(files->size());
    if (state_->progress.totalCount < 1) {
        state_->stateChanged();
        return false;
    }
    state_->progress.isProcessing = true;
    state_->progress.task = ++state_->runsStarted;
    state_->toldUpTo = 0;
    RunScope::begin();
    state_->inScope = true;
    state_->stateChanged();
    std::weak_ptr<State> weak = state_;
    auto operation = std::make_shared<ProcessFile>(std::move(process));
    state_->executor([weak, files, operation] { runBatch(weak, files, operation, 0); });
    return true;
}

const RunProgress& RunDriver::progress() const { return state_->progress; }

void RunDriver::stopWhen(std::function<bool()> condition) { state_->stopCondition = std::move(condition); }

void RunDriver::lookAhead(size_t files, std::function<void(const std::filesystem::path&)> upcoming) {
    state_->lookAheadFiles = files;
    state_->upcoming = std::move(upcoming);
}

}  // namespace corvane
