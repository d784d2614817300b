// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Executor.h"
#include "engine/RunDriver.h"
#include "engine/RunScope.h"
#include "platform/system/PosixFileSystem.h"
#include "tests/support/DiagnosticsCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <stdexcept>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<fs::path>;

// Keeps each posted piece until the test runs it, so the test sees the run between pieces as a
// window's event loop would.
struct HeldExecutor {
    std::deque<std::function<void()>> pieces;
    Executor executor() { return [this](std::function<void()> work) { pieces.push_back(std::move(work)); }; }
    void runNext() { auto piece = std::move(pieces.front()); pieces.pop_front(); piece(); }
};

// The observer's calls as "state <processing> <rows>" and "row <processed>".
struct Recorder : RunObserver {
    std::vector<std::string> events;
    void runStateChanged(const RunProgress& p) override {
        events.push_back("state " + std::to_string(p.isProcessing) + " " + std::to_string(p.results.size()));
    }
    void resultRecorded(const RunProgress& p) override { events.push_back("row " + std::to_string(p.processedCount)); }
};

class RunDriverTest : public ::testing::Test {
protected:
    HeldExecutor held;
    Recorder recorder;
    std::vector<std::pair<std::string, size_t>> calls;  // file name, rows present when it was called
    std::optional<RunDriver> owned{std::in_place, PosixFileSystem::shared(),
                                   [this](const fs::path& file) -> FileOutcome {
                                       calls.emplace_back(file.filename().string(), driver.progress().results.size());
                                       if (file.filename() == "throws.heic") throw std::runtime_error("out of luck");
                                       return {outcome::AlreadyCorrect{}, file.filename() != "written.heic"};
                                   },
                                   held.executor(), &recorder};
    RunDriver& driver = *owned;
};

TEST_F(RunDriverTest, BatchesOfTwoEachStartingAfterTheRowsBeforeIt) {
    ASSERT_TRUE(driver.startRun({"/p/a.heic", "/p/b.HEIC", "/p/c.dng"}));
    EXPECT_EQ(driver.progress().totalCount, 3);
    EXPECT_TRUE(calls.empty()) << "the run proceeds on the executor, not inside startRun";
    held.runNext();
    EXPECT_EQ(driver.progress().currentFile, "b.HEIC");
    ASSERT_EQ(held.pieces.size(), 1u) << "the second batch is its own piece of work";
    held.runNext();
    EXPECT_EQ(calls, (std::vector<std::pair<std::string, size_t>>{{"a.heic", 0}, {"b.HEIC", 1}, {"c.dng", 2}}));
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"state 1 0", "row 1", "row 2", "row 3", "state 0 3"}));
    EXPECT_EQ(driver.progress().currentFile, "");
    EXPECT_TRUE(driver.progress().task.has_value()) << "kept until the next run";
}

TEST_F(RunDriverTest, DropDuringARunChangesNothing) {
    driver.startRun({"/p/a.heic", "/p/b.heic", "/p/c.heic"});
    held.runNext();
    const RunProgress before = driver.progress();
    const auto events = recorder.events;
    DiagnosticsCapture capture;
    EXPECT_FALSE(driver.startRun({"/p/x.jpg"}));
    EXPECT_TRUE(capture.lines().empty()) << "the items are not even expanded";
    EXPECT_TRUE(driver.progress().results == before.results && driver.progress().task == before.task);
    EXPECT_EQ(recorder.events, events);
    held.runNext();
    EXPECT_EQ(calls.back().first, "c.heic");
}

TEST_F(RunDriverTest, NewDropClearsTheOldRowsAndOneWithoutMediaStartsNothing) {
    driver.startRun({"/p/a.heic"});
    held.runNext();
    const auto firstRow = driver.progress().results.at(0);
    const auto firstTask = driver.progress().task;
    ASSERT_TRUE(driver.startRun({"/p/a.heic"}));
    EXPECT_TRUE(driver.progress().results.empty());
    EXPECT_NE(driver.progress().task, firstTask);
    held.runNext();
    EXPECT_NE(driver.progress().results.at(0), firstRow) << "the same file and outcome make a new row";

    recorder.events.clear();
    EXPECT_FALSE(driver.startRun({"/p/a.jpg"}));
    EXPECT_TRUE(driver.progress().results.empty() && !driver.progress().task && held.pieces.empty());
    EXPECT_EQ(recorder.events, std::vector<std::string>{"state 0 0"});
}

// Each row keeps the mode its file ran in; a throwing file wrote nothing.
TEST_F(RunDriverTest, ThrowingFileOperationBecomesAFailedRowAndEachRowKeepsItsMode) {
    driver.startRun({"/p/written.heic", "/p/throws.heic", "/p/c.heic"});
    while (!held.pieces.empty()) held.runNext();
    const auto& rows = driver.progress().results;
    EXPECT_TRUE(rows.at(1).result == ProcessingResult(outcome::Failed{"out of luck"}) && !rows[0].dryRun && rows[1].dryRun && rows[2].dryRun);
    EXPECT_TRUE(driver.startRun({"/p/d.heic"})) << "the run ended; a later drop is accepted";
}

// Asked to stop, the run takes no further file and ends as after its last one: its scope closed (the
// deferred folder sync done) and its end published.
TEST_F(RunDriverTest, StoppedRunEndsBetweenTwoFilesAsAfterItsLastOne) {
    driver.stopWhen([this] { return calls.size() == 1; });
    driver.startRun({"/p/a.heic", "/p/b.heic", "/p/c.heic"});
    held.runNext();
    EXPECT_TRUE(held.pieces.empty() && RunScope::current() == 0 && driver.progress().totalCount == 3);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"state 1 0", "row 1", "state 0 1"}));
}

// Each file but the first is told of once, two files before its turn; a new run starts over.
TEST_F(RunDriverTest, LookAheadTellsOfEachFileBeforeItsTurn) {
    driver.lookAhead(2, [this](const fs::path& file) { recorder.events.push_back("ahead " + file.filename().string()); });
    for (int run = 0; run < 2; ++run) {
        recorder.events.clear();
        driver.startRun({"/p/a.heic", "/p/b.heic", "/p/c.heic", "/p/d.heic", "/p/e.heic"});
        while (!held.pieces.empty()) held.runNext();
        EXPECT_EQ(recorder.events, (std::vector<std::string>{"state 1 0", "ahead b.heic", "ahead c.heic", "row 1", "ahead d.heic", "row 2",
                                                             "ahead e.heic", "row 3", "row 4", "row 5", "state 0 5"}));
    }
}

TEST_F(RunDriverTest, DestroyedDriverAbandonsTheWorkNotYetDone) {
    driver.startRun({"/p/a.heic", "/p/b.heic", "/p/c.heic"});
    held.runNext();
    owned.reset();
    held.runNext();  // must neither call the operation nor touch the freed state
    EXPECT_EQ(calls.size(), 2u);
}

// A front end that prints each row as it comes keeps none, however long the run: 2,000 files are
// 1,000 batches, each posting the next, which the executor must run after it, not inside it. The
// operation gets the absolute standardised location; the row shows the location as given.
TEST(RunDriver, PublishOnlyLongRunKeepsNoRowsAndAFlatStack) {
    const fs::path given = "photos/./IMG_1.HEIC";
    struct : RunObserver {
        Paths rows;
        void runStateChanged(const RunProgress&) override {}
        void rowAdded(const RunProgress&, const ProcessingResultDetail& row) override { rows.push_back(row.fileURL); }
    } collector;
    Paths processed;
    uintptr_t lowest = UINTPTR_MAX, highest = 0;
    InlineExecutor executor;
    RunDriver driver(PosixFileSystem::shared(), [&](const fs::path& file) -> FileOutcome {
        const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        lowest = std::min(lowest, here), highest = std::max(highest, here);
        processed.push_back(file);
        return {outcome::AlreadyCorrect{}, true};
    }, executor.executor(), &collector, RowRetention::publishOnly);
    ASSERT_TRUE(driver.startRun(Paths(2000, given)));
    EXPECT_EQ(processed, Paths(2000, fs::current_path() / "photos/IMG_1.HEIC"));
    EXPECT_EQ(collector.rows, Paths(2000, given));
    EXPECT_TRUE(driver.progress().results.empty());
    EXPECT_LT(highest - lowest, 4096u) << "the stack grew from batch to batch";
}

}  // namespace
}  // namespace corvane
