#include "tests/support/DiagnosticsCapture.h"
#include "engine/Executor.h"
#include "engine/RunDriver.h"
#include "platform/PosixFileSystem.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <stdexcept>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// An executor that keeps each posted piece until the test runs it, so the test sees the run between
// pieces exactly as a window's event loop would.
class RecordingExecutor {
public:
    Executor executor() {
        return [this](std::function<void()> work) { pieces_.push_back(std::move(work)); };
    }
    size_t pending() const { return pieces_.size(); }
    void runNext() {
        ASSERT_FALSE(pieces_.empty());
        auto piece = std::move(pieces_.front());
        pieces_.pop_front();
        piece();
    }

private:
    std::deque<std::function<void()>> pieces_;
};

// One event per observer call, with the state it was told.
struct Event {
    std::string kind;  // "state" or "row"
    bool isProcessing;
    int64_t totalCount;
    int64_t processedCount;
    size_t rows;
    std::string currentFile;
};

class RecordingObserver : public RunObserver {
public:
    void runStateChanged(const RunProgress& progress) override { record("state", progress); }
    void resultRecorded(const RunProgress& progress) override { record("row", progress); }
    std::vector<Event> events;

private:
    void record(const char* kind, const RunProgress& p) {
        events.push_back({kind, p.isProcessing, p.totalCount, p.processedCount, p.results.size(), p.currentFile});
    }
};

// The per-file operation for these tests: records each call with the rows present at that moment and
// answers with an outcome that names the file.
struct Call {
    std::string file;
    size_t rowsBefore;
};

class RunDriverTest : public ::testing::Test {
protected:
    RunDriverTest()
        : driver(PosixFileSystem::shared(),
                 [this](const fs::path& file) -> ProcessingResult {
                     calls.push_back({file.filename().string(), driver.progress().results.size()});
                     return outcome::SkippedMissing{"No XMP sidecar file"};
                 },
                 executor.executor(), &observer) {}

    fs::path file(const char* name) const { return dir.path() / name; }
    std::vector<std::string> calledFiles() const {
        std::vector<std::string> out;
        for (const auto& call : calls) out.push_back(call.file);
        return out;
    }

    TempDir dir;
    RecordingExecutor executor;
    RecordingObserver observer;
    std::vector<Call> calls;
    RunDriver driver;
};

TEST_F(RunDriverTest, InitialStateIsIdle) {
    const RunProgress& progress = driver.progress();
    EXPECT_FALSE(progress.isProcessing);
    EXPECT_EQ(progress.currentFile, "");
    EXPECT_EQ(progress.totalCount, 0);
    EXPECT_EQ(progress.processedCount, 0);
    EXPECT_TRUE(progress.results.empty());
    EXPECT_FALSE(progress.task.has_value());
}

TEST_F(RunDriverTest, ThreeFilesRunInTwoBatches) {
    ASSERT_TRUE(driver.startRun({file("a.heic"), file("b.HEIC"), file("c.dng")}));
    const RunProgress& progress = driver.progress();
    EXPECT_TRUE(progress.isProcessing);
    EXPECT_EQ(progress.totalCount, 3);
    EXPECT_EQ(progress.processedCount, 0);
    EXPECT_TRUE(progress.task.has_value());
    EXPECT_TRUE(calls.empty()) << "the run proceeds on the executor, not inside startRun";
    ASSERT_EQ(executor.pending(), 1u);

    executor.runNext();  // first batch: a and b
    EXPECT_EQ(calledFiles(), (std::vector<std::string>{"a.heic", "b.HEIC"}));
    EXPECT_EQ(progress.processedCount, 2);
    EXPECT_EQ(progress.currentFile, "b.HEIC");
    EXPECT_TRUE(progress.isProcessing);
    ASSERT_EQ(executor.pending(), 1u) << "the second batch is its own piece of work";

    executor.runNext();  // second batch: c, which starts only when a and b have their rows
    EXPECT_EQ(calledFiles(), (std::vector<std::string>{"a.heic", "b.HEIC", "c.dng"}));
    EXPECT_EQ(calls[2].rowsBefore, 2u);
    EXPECT_EQ(executor.pending(), 0u);

    EXPECT_FALSE(progress.isProcessing);
    EXPECT_EQ(progress.currentFile, "");
    EXPECT_EQ(progress.totalCount, 3);
    EXPECT_EQ(progress.processedCount, 3);
    EXPECT_TRUE(progress.task.has_value()) << "kept until the next run";
    ASSERT_EQ(progress.results.size(), 3u);
    EXPECT_EQ(progress.results[0].fileURL, file("a.heic"));
    EXPECT_EQ(progress.results[2].fileURL, file("c.dng"));
    EXPECT_EQ(progress.results[2].result, ProcessingResult(outcome::SkippedMissing{"No XMP sidecar file"}));
    EXPECT_NE(progress.results[0].id, progress.results[1].id);
}

TEST_F(RunDriverTest, ObserverHearsStartRowsAndEnd) {
    driver.startRun({file("a.heic"), file("b.heic"), file("c.heic")});
    while (executor.pending()) executor.runNext();
    ASSERT_EQ(observer.events.size(), 5u);
    const auto& e = observer.events;
    EXPECT_EQ(e[0].kind, "state");
    EXPECT_TRUE(e[0].isProcessing);
    EXPECT_EQ(e[0].totalCount, 3);
    EXPECT_EQ(e[0].rows, 0u);
    for (size_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(e[i].kind, "row");
        EXPECT_EQ(e[i].processedCount, static_cast<int64_t>(i));
        EXPECT_EQ(e[i].rows, i);
    }
    EXPECT_EQ(e[3].currentFile, "c.heic");
    EXPECT_EQ(e[4].kind, "state");
    EXPECT_FALSE(e[4].isProcessing);
    EXPECT_EQ(e[4].currentFile, "");
}

TEST_F(RunDriverTest, DropWhileRunningChangesNothing) {
    driver.startRun({file("a.heic"), file("b.heic"), file("c.heic")});
    executor.runNext();
    const RunProgress before = driver.progress();
    const size_t events = observer.events.size();

    DiagnosticsCapture capture;
    EXPECT_FALSE(driver.startRun({file("x.heic"), file("y.jpg")}));
    EXPECT_EQ(capture.lines(), std::vector<std::string>{}) << "the items are not even expanded";
    const RunProgress& after = driver.progress();
    EXPECT_TRUE(after.isProcessing);
    EXPECT_EQ(after.totalCount, before.totalCount);
    EXPECT_EQ(after.processedCount, before.processedCount);
    EXPECT_EQ(after.results, before.results);
    EXPECT_EQ(after.task, before.task);
    EXPECT_EQ(observer.events.size(), events);
    EXPECT_EQ(executor.pending(), 1u);

    executor.runNext();
    EXPECT_EQ(calledFiles(), (std::vector<std::string>{"a.heic", "b.heic", "c.heic"}));
}

TEST_F(RunDriverTest, NewDropReplacesThePreviousRows) {
    driver.startRun({file("a.heic")});
    executor.runNext();
    const auto firstTask = driver.progress().task;
    const auto firstRow = driver.progress().results.at(0);

    ASSERT_TRUE(driver.startRun({file("b.heic"), file("a.heic")}));
    EXPECT_TRUE(driver.progress().results.empty());
    EXPECT_EQ(driver.progress().processedCount, 0);
    EXPECT_EQ(driver.progress().totalCount, 2);
    EXPECT_NE(driver.progress().task, firstTask);
    executor.runNext();
    ASSERT_EQ(driver.progress().results.size(), 2u);
    EXPECT_EQ(driver.progress().results[1].fileURL, firstRow.fileURL);
    EXPECT_NE(driver.progress().results[1], firstRow) << "the same file and outcome make a new row";
}

TEST_F(RunDriverTest, DropWithoutMediaClearsThePreviousRunAndStartsNothing) {
    driver.startRun({file("a.heic"), file("b.heic")});
    executor.runNext();
    ASSERT_EQ(driver.progress().results.size(), 2u);
    observer.events.clear();

    DiagnosticsCapture capture;
    EXPECT_FALSE(driver.startRun({file("a.jpg"), file("b.txt")}));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[DEBUG] a.jpg is not a supported media file",
                                                         "[DEBUG] b.txt is not a supported media file"}));
    const RunProgress& progress = driver.progress();
    EXPECT_FALSE(progress.isProcessing);
    EXPECT_TRUE(progress.results.empty());
    EXPECT_EQ(progress.totalCount, 0);
    EXPECT_EQ(progress.processedCount, 0);
    EXPECT_FALSE(progress.task.has_value());
    EXPECT_EQ(executor.pending(), 0u);
    ASSERT_EQ(observer.events.size(), 1u);
    EXPECT_EQ(observer.events[0].rows, 0u);
}

TEST_F(RunDriverTest, DroppedFolderWithoutMediaStartsNothing) {
    fs::create_directory(file("empty"));
    DiagnosticsCapture capture;
    EXPECT_FALSE(driver.startRun({file("empty")}));
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"[DEBUG] Enumerated 0 media files under " + file("empty").string()});
    EXPECT_FALSE(driver.progress().isProcessing);
    EXPECT_EQ(executor.pending(), 0u);
}

// A front end that prints each row as it comes needs the driver to keep none; the file operation works
// on the standardised absolute location, the row shows the location as given.
TEST(RunDriver, PublishedRowsAreNotKeptAndKeepTheGivenPath) {
    TempDir dir;
    test::writeText(dir.path() / "IMG_1.HEIC", "");
    const fs::path given = (dir.path() / "." / "IMG_1.HEIC").lexically_relative(fs::current_path());
    ASSERT_TRUE(given.is_relative());
    struct RowCollector : RunObserver {
        std::vector<fs::path> rows;
        void runStateChanged(const RunProgress&) override {}
        void rowAdded(const RunProgress&, const ProcessingResultDetail& row) override { rows.push_back(row.fileURL); }
    } collector;
    std::vector<fs::path> processed;
    InlineExecutor executor;
    RunDriver driver(
        PosixFileSystem::shared(),
        [&](const fs::path& file) -> ProcessingResult {
            processed.push_back(file);
            return outcome::AlreadyCorrect{};
        },
        executor.executor(), &collector, RowRetention::publishOnly);
    ASSERT_TRUE(driver.startRun({given, given}));
    EXPECT_EQ(processed, (std::vector<fs::path>{dir.path() / "IMG_1.HEIC", dir.path() / "IMG_1.HEIC"}));
    EXPECT_EQ(collector.rows, (std::vector<fs::path>{given, given}));
    EXPECT_TRUE(driver.progress().results.empty());
    EXPECT_EQ(driver.progress().processedCount, 2);
}

TEST(RunDriver, DropDuringAFileIsRefusedAndTheRunGoesOn) {
    // A modal folder prompt runs a nested event loop in which the user may drop again.
    InlineExecutor executor;
    RunDriver* self = nullptr;
    std::vector<bool> nestedStarts;
    RunDriver driver(
        PosixFileSystem::shared(),
        [&](const fs::path&) -> ProcessingResult {
            nestedStarts.push_back(self->startRun({"/elsewhere/x.heic"}));
            return outcome::AlreadyCorrect{};
        },
        executor.executor());
    self = &driver;
    driver.startRun({"/p/a.heic", "/p/b.heic", "/p/c.heic"});
    EXPECT_EQ(nestedStarts, (std::vector<bool>{false, false, false}));
    EXPECT_EQ(driver.progress().processedCount, 3);
    EXPECT_EQ(driver.progress().results.at(2).fileURL, fs::path("/p/c.heic"));
    EXPECT_FALSE(driver.progress().isProcessing);
}

TEST(RunDriver, ThrowingFileOperationBecomesAFailedRowAndTheRunEnds) {
    InlineExecutor executor;
    RunDriver driver(
        PosixFileSystem::shared(),
        [](const fs::path& file) -> ProcessingResult {
            if (file.filename() == "b.heic") throw std::runtime_error("out of luck");
            return outcome::AlreadyCorrect{};
        },
        executor.executor());
    driver.startRun({"/p/a.heic", "/p/b.heic", "/p/c.heic"});
    const RunProgress& progress = driver.progress();
    EXPECT_FALSE(progress.isProcessing);
    ASSERT_EQ(progress.results.size(), 3u);
    EXPECT_EQ(progress.results[1].result, ProcessingResult(outcome::Failed{"out of luck"}));
    EXPECT_TRUE(driver.startRun({"/p/d.heic"})) << "a later drop is accepted";
}

TEST(RunDriver, DestroyedDriverAbandonsTheWorkNotYetDone) {
    RecordingExecutor executor;
    int calls = 0;
    {
        RunDriver driver(
            PosixFileSystem::shared(), [&](const fs::path&) -> ProcessingResult { ++calls; return outcome::AlreadyCorrect{}; },
            executor.executor());
        driver.startRun({"/p/a.heic", "/p/b.heic", "/p/c.heic"});
        executor.runNext();
    }
    ASSERT_EQ(executor.pending(), 1u);
    executor.runNext();  // must neither call the operation nor touch the freed state
    EXPECT_EQ(calls, 2);
}

TEST(RunDriver, LongRunOnTheInlineExecutorKeepsTheStackFlat) {
    // 2,000 files are 1,000 batches; each batch posts the next, which must run after it, not inside it.
    InlineExecutor executor;
    std::vector<uintptr_t> stackPositions;
    RunDriver driver(
        PosixFileSystem::shared(),
        [&](const fs::path&) -> ProcessingResult {
            int local = 0;
            stackPositions.push_back(reinterpret_cast<uintptr_t>(&local));
            return outcome::AlreadyCorrect{};
        },
        executor.executor());
    driver.startRun(std::vector<fs::path>(2000, fs::path("/p/a.heic")));
    EXPECT_EQ(driver.progress().processedCount, 2000);
    EXPECT_FALSE(driver.progress().isProcessing);
    ASSERT_EQ(stackPositions.size(), 2000u);
    const auto [lowest, highest] = std::minmax_element(stackPositions.begin(), stackPositions.end());
    EXPECT_LT(*highest - *lowest, 4096u) << "the stack grew from batch to batch";
}

TEST(InlineExecutor, RunsPiecesPostedByAPieceAfterItInOrder) {
    InlineExecutor executor;
    std::vector<int> order;
    executor.post([&] {
        order.push_back(1);
        executor.post([&] { order.push_back(3); });
        order.push_back(2);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(InlineExecutor, StillRunsWorkAfterAPieceThrew) {
    InlineExecutor executor;
    EXPECT_THROW(executor.post([] { throw std::runtime_error("x"); }), std::runtime_error);
    bool ran = false;
    executor.post([&] { ran = true; });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace corvane
