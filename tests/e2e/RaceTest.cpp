// SPDX-License-Identifier: GPL-3.0-or-later
// Writers of the same sidecars at the same moment, as real processes. corvane-cli --write runs while
// another program saves edits of the sidecars it rewrites, atomically as photo editors do (a new file
// renamed over the old one): no edit may be lost. Two corvane-cli --write runs go over the same folder
// at once (two windows, a window and a script): neither may fail, and no temporary file may be left.
//
// RACE_PAIRS (100 by default) and RACE_TRIALS (3) set the size; bench/race runs 500 pairs 20 times.

#include "tests/support/ChildProcess.h"
#include "tests/support/RewrittenLibrary.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace corvane::test {
namespace {

class RaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(finishProgram(startWriter()).exitCode, 0);
        library.recordFinishedRun();
    }
    RunningProgram startWriter() const {
        return startProgram({CORVANE_CLI_PATH, "--write", "--quiet", "--json", library.folder.string()}, dir.path());
    }
    static bool running(const RunningProgram& program) {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(program.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    }

    const int trials = environmentNumber("RACE_TRIALS", 3);
    const TempDir dir;
    RewrittenLibrary library{dir.path(), environmentNumber("RACE_PAIRS", 100)};
};

// The editor reads a sidecar, changes its label and saves it under a temporary name renamed over the
// old file, again and again while corvane-cli runs. Each sidecar's last edit must be in it afterwards;
// corvane-cli may refuse a rewrite only because the sidecar changed.
TEST_F(RaceTest, AnotherProgramSavingTheSameSidecarsLosesNoEdit) {
    std::mt19937 random(static_cast<unsigned>(environmentNumber("RACE_SEED", static_cast<int>(std::random_device{}()))));
    std::uniform_int_distribution<int> pick(0, library.size() - 1);
    int lost = 0, refused = 0;
    for (int trial = 0; trial < trials; ++trial) {
        library.reset();
        std::map<int, std::string> lastEdit;
        const RunningProgram writer = startWriter();
        for (int edit = 0; running(writer); ++edit) {
            const int i = pick(random);
            std::string text = readText(library.sidecar(i));
            const size_t from = text.find("<xmp:Label>"), to = text.find("</xmp:Label>") + 12;
            ASSERT_LT(to, text.size()) << "a torn read of " << library.sidecar(i);
            writeText(library.folder / ".editor-save", text.replace(from, to - from, lastEdit[i] = "<xmp:Label>edit " + std::to_string(edit) + "</xmp:Label>"));
            std::filesystem::rename(library.folder / ".editor-save", library.sidecar(i));
        }
        const ProcessResult result = finishProgram(writer);
        for (const auto& [i, label] : lastEdit) lost += readText(library.sidecar(i)).find(label) == std::string::npos;
        for (size_t at = 0; (at = result.out.find("\"outcome\":\"failed\"", at)) != std::string::npos; ++at, ++refused)
            EXPECT_NE(result.out.find("XMP sidecar changed while it was being updated; left unchanged", at), std::string::npos);
        EXPECT_EQ(folderEntries(library.folder), library.entries) << "a temporary file was left";
    }
    std::printf("RaceTest: %d edits lost, %d rewrites refused over %d trials of %d pairs\n", lost, refused, trials, library.size());
    EXPECT_EQ(lost, 0);
}

TEST_F(RaceTest, TwoWriteRunsAtOnceNeitherFailNorLeaveTemporaryFiles) {
    for (int trial = 0; trial < trials; ++trial) {
        library.reset();
        const RunningProgram first = startWriter(), second = startWriter();
        for (const ProcessResult& result : {finishProgram(first), finishProgram(second)}) {
            EXPECT_EQ(result.exitCode, 0) << result.err;
            EXPECT_EQ(result.out.find("\"outcome\":\"failed\""), std::string::npos) << result.out;
        }
        for (int i = 0; i < library.size(); ++i) ASSERT_EQ(readText(library.sidecar(i)), library.newSidecars[i]) << library.sidecar(i);
        EXPECT_EQ(folderEntries(library.folder), library.entries) << "a temporary file was left";
    }
}

}  // namespace
}  // namespace corvane::test
