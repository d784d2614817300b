// SPDX-License-Identifier: GPL-3.0-or-later
// A writer killed at any moment loses nothing: corvane-cli --write is started on real HEIC images with
// sidecars it must all rewrite (letterless texts) and killed with SIGKILL at a random moment of its run.
// After every kill each sidecar is byte for byte either its old or its new document, and the next run
// finishes the work and leaves no temporary file behind. The run syncs the folder once, after its last
// rename, so many kills land between renames whose folder sync is still to come.
//
// KILL_TRIALS sets the number of kills (40 by default; run 200 or more by hand), KILL_SEED the random
// seed (printed, so a failure can be replayed).

#include "tests/support/ChildProcess.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RewrittenLibrary.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

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
        const pid_t pid = spawnChild(write, dir.path());
        std::this_thread::sleep_for(nanoseconds(killMoment(random)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        for (int i = 0; i < pairCount; ++i) {
            const std::string text = readText(library.sidecar(i));
            ASSERT_TRUE(text == library.oldSidecars[i] || text == library.newSidecars[i]) << library.sidecar(i) << " is partial";
        }
        ASSERT_EQ(runProgram(write, dir.path()).exitCode, 0) << "the run after the kill failed";
        for (int i = 0; i < pairCount; ++i) ASSERT_EQ(readText(library.sidecar(i)), library.newSidecars[i]);
        ASSERT_EQ(folderEntries(library.folder), library.entries) << "a temporary file was left";
    }
}

}  // namespace
}  // namespace corvane::test
