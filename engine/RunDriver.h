#pragma once

#include "engine/Executor.h"
#include "engine/FileSystem.h"
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
    // One row was appended (it is progress.results.back()).
    virtual void resultRecorded(const RunProgress& progress) = 0;
};

// The per-file operation: one outcome for one queued media file. Called once per file. It reports
// failures as outcomes; an exception that escapes it all the same becomes a failed row whose text is
// the exception's what().
using ProcessFile = std::function<ProcessingResult(const std::filesystem::path& fileURL)>;

// Turns dropped locations into a run and drives it: the files go to the per-file operation in
// consecutive batches of `batchSize`, each batch one piece of work on the executor, and every outcome
// becomes one row. A run cannot be cancelled; destroying the driver abandons the work not yet done.
class RunDriver {
public:
    static constexpr size_t batchSize = 2;

    RunDriver(const FileSystem& fileSystem, ProcessFile processFile, Executor executor, RunObserver* observer = nullptr);
    ~RunDriver();
    RunDriver(const RunDriver&) = delete;
    RunDriver& operator=(const RunDriver&) = delete;

    // Does nothing while a run is in progress (returns false). Otherwise resets the state, expands the
    // items, and when at least one media file is found starts the run on the executor (returns true).
    bool startRun(const std::vector<std::filesystem::path>& items);

    // Clears the run state (not the switches) and tells the observer.
    void resetRunState();

    // Publishes one outcome: currentFile, a new row with a fresh id, processedCount + 1.
    void recordResult(const std::filesystem::path& fileURL, ProcessingResult result);

    const RunProgress& progress() const;

    struct State;  // opaque; shared with the work posted on the executor

private:
    std::shared_ptr<State> state_;
};

}  // namespace corvane
