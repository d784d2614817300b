// SPDX-License-Identifier: GPL-3.0-or-later
// Writers of the same sidecars at the same moment, as real processes. corvane-cli --write runs while
// another program saves edits of the sidecars it rewrites, atomically as photo editors do (a new file
// renamed over the old one): no edit may be lost. Two corvane-cli --write runs go over the same folder
// at once (two windows, a window and a script): neither may fail, and no temporary file may be left.
//
// RACE_PAIRS (100 by default) and RACE_TRIALS (3) set the size; bench/race runs 500 pairs 20 times.

#include "tests/support/ChildProcess.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <map>
#include <random>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

class RaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(library);
        writeHeic(dir.path() / "image.HEIC", iPhoneImageAt(photoLatitude, photoLongitude));
        for (int i = 0; i < pairs; ++i) {
            fs::copy_file(dir.path() / "image.HEIC", fs::path(sidecar(i)).replace_extension(".HEIC"));
            oldSidecars.push_back(sidecarXml(letterlessSidecar, "   <xmp:Label>pair " + std::to_string(i) + "</xmp:Label>\n"));
        }
        reset();
        ASSERT_EQ(finishProgram(startWriter()).exitCode, 0);
        for (int i = 0; i < pairs; ++i) newSidecars.push_back(readText(sidecar(i)));
        entries = folderEntries(library);
        ASSERT_EQ(entries.size(), 2u * pairs);
    }

    fs::path sidecar(int i) const { return library / ("IMG_" + std::to_string(1000 + i) + ".xmp"); }
    void reset() {
        for (int i = 0; i < pairs; ++i) writeText(sidecar(i), oldSidecars[i]);
    }
    RunningProgram startWriter() const {
        return startProgram({CORVANE_CLI_PATH, "--write", "--quiet", "--json", library.string()}, dir.path());
    }

    const int pairs = environmentNumber("RACE_PAIRS", 100);
    const int trials = environmentNumber("RACE_TRIALS", 3);
    const TempDir dir;
    const fs::path library = dir.path() / "library";
    std::vector<std::string> oldSidecars, newSidecars, entries;
};

bool running(const RunningProgram& program) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(program.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

// The editor reads a sidecar, changes its label and saves it under a temporary name renamed over the
// old file, again and again while corvane-cli runs. Each sidecar's last edit must be in it afterwards.
TEST_F(RaceTest, AnotherProgramSavingTheSameSidecarsLosesNoEdit) {
    std::mt19937 random(static_cast<unsigned>(environmentNumber("RACE_SEED", static_cast<int>(std::random_device{}()))));
    std::uniform_int_distribution<int> pick(0, pairs - 1);
    int lost = 0, refused = 0;
    for (int trial = 0; trial < trials; ++trial) {
        reset();
        std::map<int, std::string> lastEdit;
        const RunningProgram writer = startWriter();
        for (int edit = 0; running(writer); ++edit) {
            const int i = pick(random);
            std::string text = readText(sidecar(i));
            const size_t from = text.find("<xmp:Label>") + 11, to = text.find("</xmp:Label>");
            ASSERT_LT(to, text.size()) << "a torn read of " << sidecar(i);
            lastEdit[i] = "<xmp:Label>edit " + std::to_string(edit) + "</xmp:Label>";
            writeText(library / ".editor-save", text.replace(from - 11, to + 12 - (from - 11), lastEdit[i]));
            fs::rename(library / ".editor-save", sidecar(i));
        }
        const ProcessResult result = finishProgram(writer);
        ASSERT_FALSE(result.timedOut);
        for (const auto& [i, label] : lastEdit) lost += readText(sidecar(i)).find(label) == std::string::npos;
        for (size_t at = 0; (at = result.out.find("\"outcome\":\"failed\"", at)) != std::string::npos; ++at, ++refused)
            EXPECT_NE(result.out.find("XMP sidecar changed while it was being updated; left unchanged", at), std::string::npos);
        EXPECT_EQ(folderEntries(library), entries) << "a temporary file was left";
    }
    std::printf("RaceTest: %d edits lost, %d rewrites refused over %d trials of %d pairs\n", lost, refused, trials, pairs);
    EXPECT_EQ(lost, 0);
}

TEST_F(RaceTest, TwoWriteRunsAtOnceNeitherFailNorLeaveTemporaryFiles) {
    for (int trial = 0; trial < trials; ++trial) {
        reset();
        const RunningProgram first = startWriter(), second = startWriter();
        for (const ProcessResult& result : {finishProgram(first), finishProgram(second)}) {
            EXPECT_EQ(result.exitCode, 0) << result.err;
            EXPECT_EQ(result.out.find("\"outcome\":\"failed\""), std::string::npos) << result.out;
        }
        for (int i = 0; i < pairs; ++i) ASSERT_EQ(readText(sidecar(i)), newSidecars[i]) << sidecar(i);
        EXPECT_EQ(folderEntries(library), entries) << "a temporary file was left";
    }
}

}  // namespace
}  // namespace corvane::test
