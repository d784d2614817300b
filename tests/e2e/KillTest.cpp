// SPDX-License-Identifier: GPL-3.0-or-later
// A writer stopped at any moment loses nothing. corvane-cli --write is started on real HEIC images with
// sidecars it must all rewrite (letterless texts), and:
// - killed with SIGKILL at a random moment of its run. After every kill each sidecar is byte for byte
//   either its old or its new document; --undo then puts back every sidecar the killed run replaced
//   and touches no other, adding no file, and the next run finishes the work and removes any
//   temporary file the killed run left.
//   The run syncs the folder once, after its last rename, so many kills land between renames whose
//   folder sync is still to come. KILL_TRIALS sets the number of kills (40 by default; run 200 or more
//   by hand), KILL_SEED the random seed (printed, so a failure can be replayed).
// - asked to stop by SIGINT, SIGTERM or SIGHUP while a sidecar is being written: the file in progress
//   finishes, no further file is taken, and the run ends as after its last file, with its closing line
//   and exit status 128 + the signal. A second signal ends the process at once, once the rows of the
//   files done are out.
// - asked to stop by a report it cannot write (a closed pipe, a full disk): nothing is written that
//   the report would not name.

#include "tests/support/ChildProcess.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RewrittenLibrary.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

namespace corvane::test {
namespace {

using namespace std::chrono;

// Several pairs, so that the moments at which a sidecar is being written spread over the run.
constexpr int pairCount = 12;

TEST(KillTest, SidecarIsAlwaysTheOldOrTheNewDocumentAndTheNextRunCleansUp) {
    const TempDir dir;
    RewrittenLibrary library(dir.path(), pairCount);
    const std::vector<std::string> write{CORVANE_CLI_PATH, "--write", "--quiet", library.folder.string()};

    // The new documents, and how long an uninterrupted run takes (half as long again, so that the kill
    // moments cover the whole of a slower run).
    const auto start = steady_clock::now();
    ASSERT_EQ(runProgram(write, dir.path()).exitCode, 0);
    const auto runLength = duration_cast<nanoseconds>(steady_clock::now() - start) * 3 / 2;
    library.recordFinishedRun();
    ASSERT_NE(library.newSidecars, library.oldSidecars);

    const int trials = environmentNumber("KILL_TRIALS", 40);
    const auto seed = static_cast<unsigned>(environmentNumber("KILL_SEED", static_cast<int>(std::random_device{}())));
    std::printf("KillTest: %d trials, KILL_SEED=%u, an uninterrupted run takes %.1f ms\n", trials, seed, runLength.count() / 1e6);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int64_t> killMoment(0, runLength.count());
    for (int trial = 0; trial < trials; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        library.reset();
        std::filesystem::remove_all(dir.path() / "state");  // the killed run's journal is the only one
        const pid_t pid = spawnChild(write, dir.path());
        std::this_thread::sleep_for(nanoseconds(killMoment(random)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        int replaced = 0;
        for (int i = 0; i < pairCount; ++i) {
            const std::string text = readText(library.sidecar(i));
            ASSERT_TRUE(text == library.oldSidecars[i] || text == library.newSidecars[i]) << library.sidecar(i) << " is partial";
            replaced += text != library.oldSidecars[i];
        }
        // A run killed before its journal was made had replaced nothing; one killed later is undone. A
        // temporary file the killed run was writing stays until the next run that writes in the folder
        // (an undo that restores nothing there does not write in it); the undo adds none of its own.
        const auto killedRunLeft = folderEntries(library.folder);
        const ProcessResult undo = runProgram({CORVANE_CLI_PATH, "--undo", "--quiet"}, dir.path());
        ASSERT_TRUE(undo.exitCode == 0 || (replaced == 0 && undo.err == "corvane-cli: no run to undo\n")) << undo.err;
        for (int i = 0; i < pairCount; ++i) ASSERT_EQ(readText(library.sidecar(i)), library.oldSidecars[i]) << "not undone";
        const auto undoLeft = folderEntries(library.folder);
        ASSERT_TRUE(std::includes(killedRunLeft.begin(), killedRunLeft.end(), undoLeft.begin(), undoLeft.end()) &&
                    std::includes(undoLeft.begin(), undoLeft.end(), library.entries.begin(), library.entries.end()))
            << "the undo left a temporary file";
        ASSERT_EQ(runProgram(write, dir.path()).exitCode, 0) << "the run after the kill failed";
        for (int i = 0; i < pairCount; ++i) ASSERT_EQ(readText(library.sidecar(i)), library.newSidecars[i]);
        ASSERT_EQ(folderEntries(library.folder), library.entries) << "a temporary file was left";
    }
}

// How many sidecars hold their new document; one that is neither old nor new, or anything left beside
// the pairs, fails the test.
int rewritten(const RewrittenLibrary& library) {
    int count = 0;
    for (int i = 0; i < library.size(); ++i) {
        const std::string text = readText(library.sidecar(i));
        EXPECT_TRUE(text == library.oldSidecars[i] || text.find(canonicalLatitude) != std::string::npos)
            << library.sidecar(i) << " is partial";
        count += text != library.oldSidecars[i];
    }
    EXPECT_EQ(folderEntries(library.folder).size(), 2u * library.size()) << "a temporary file was left";
    return count;
}

// strace sends the signal as corvane-cli puts its first new sidecar in place (the exchange of the two
// files); for the second signal, another follows as it removes the old file.
TEST(WriterStopTest, FirstSignalLetsTheFileInProgressFinishASecondEndsAtOnce) {
    const TempDir dir;
    const RewrittenLibrary library(dir.path(), pairCount);
    const std::vector<std::string> write{CORVANE_CLI_PATH, "--write", "--quiet", library.folder.string()};
    for (const auto& [signal, twice] : {std::pair{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGINT, true}}) {
        const std::string name = std::string("SIG") + ::sigabbrev_np(signal);
        SCOPED_TRACE(name + (twice ? " twice" : ""));
        library.reset();
        std::vector<std::string> strace{"-e", "trace=renameat2,unlink", "-e", "inject=renameat2:signal=" + name + ":when=1"};
        if (twice) strace.insert(strace.end(), {"-e", "inject=unlink:signal=" + name + ":when=1"});
        const ProcessResult result = runProgram(underStrace(strace, write), dir.path());
        EXPECT_EQ(result.signal, twice ? signal : 0) << result.err;
        if (twice) continue;
        EXPECT_EQ(result.exitCode, 128 + signal) << result.err;
        EXPECT_EQ(rewritten(library), 1) << "the file in progress is finished, and no other is taken";
        EXPECT_NE(result.out.find(".HEIC: Updated:\n"), std::string::npos) << result.out;
        EXPECT_EQ(result.err, "corvane-cli: interrupted by " + name + " after 1 of 12 files\ncorvane-cli: 1 file: 1 updated\n");
    }
}

// Rows for a pipe or a file are gathered into blocks; a second signal, which ends the process at once,
// still gets those of the files already done out first. The signals come as the second sidecar is put in
// place and as its old file is removed.
TEST(WriterStopTest, GatheredRowsAreOutBeforeASecondSignalEndsTheProcess) {
    const TempDir dir;
    const RewrittenLibrary library(dir.path(), pairCount);
    const std::vector<std::string> write{CORVANE_CLI_PATH, "--write", "--quiet", library.folder.string()};
    const std::vector<std::string> strace{"-e", "trace=renameat2,unlink", "-e", "inject=renameat2:signal=SIGINT:when=2",
                                          "-e", "inject=unlink:signal=SIGINT:when=2"};
    const ProcessResult result = runProgram(underStrace(strace, write), dir.path());
    EXPECT_EQ(result.signal, SIGINT) << result.err;
    const size_t first = result.out.find(".HEIC: Updated:\n");
    EXPECT_NE(first, std::string::npos) << result.out;
    EXPECT_EQ(result.out.find(".HEIC: Updated:\n", first + 1), std::string::npos) << "only the first file was done";
}

// The report fails at its first line, before any file is taken.
TEST(WriterStopTest, ReportThatCannotBeWrittenStopsTheRunBeforeItWrites) {
    const TempDir dir;
    const RewrittenLibrary library(dir.path(), pairCount);
    const std::vector<std::string> write{CORVANE_CLI_PATH, "--write", "--quiet", library.folder.string()};
    int closedPipe[2];
    ASSERT_TRUE(::pipe(closedPipe) == 0 && ::close(closedPipe[0]) == 0);
    const std::tuple<int, int, std::string> outputs[] = {
        {closedPipe[1], 128 + SIGPIPE, "the report's reader has gone: stopped"},
        {::open("/dev/full", O_WRONLY | O_CLOEXEC), 1, "cannot write the report (No space left on device): stopped"},
    };
    for (const auto& [output, exitCode, message] : outputs) {
        const ProcessResult result = runProgram(write, dir.path(), {}, seconds(60), output);
        EXPECT_EQ(result.exitCode, exitCode) << result.err;
        EXPECT_EQ(result.err, "corvane-cli: " + message + " after 0 of 12 files\ncorvane-cli: 0 files\n");
        EXPECT_EQ(rewritten(library), 0);
        ::close(output);
    }
}

}  // namespace
}  // namespace corvane::test
