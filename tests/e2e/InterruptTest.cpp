// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-cli asked to stop part-way through a --write run: by SIGINT, SIGTERM or SIGHUP, or by a report
// it can no longer write. The file in progress finishes, no further file is taken, and the run ends as
// it would after its last file: every sidecar its old or its new document, no temporary file, a row for
// each sidecar written, the closing line, and exit status 128 + the signal (141 for a closed pipe, 1 for
// a full disk). A second signal ends the process at once. strace holds each rename of a sidecar for a
// moment, so that a signal lands while a file is being written.

#include "tests/support/ChildProcess.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

constexpr int pairCount = 4;

class InterruptTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(library);
        writeHeic(library / "IMG_1.HEIC", iPhoneImageAt(photoLatitude, photoLongitude));
        for (int i = 1; i <= pairCount; ++i) {
            if (i > 1) fs::copy_file(library / "IMG_1.HEIC", library / ("IMG_" + std::to_string(i) + ".HEIC"), fs::copy_options::overwrite_existing);
            writeText(library / ("IMG_" + std::to_string(i) + ".xmp"), oldSidecar);
        }
    }

    // How many sidecars hold the new document; fails the test for any that is neither old nor new, and
    // for anything left beside the pairs.
    int rewritten() const {
        int count = 0;
        for (int i = 1; i <= pairCount; ++i) {
            const std::string text = readText(library / ("IMG_" + std::to_string(i) + ".xmp"));
            EXPECT_TRUE(text == oldSidecar || text.find(canonicalLatitude) != std::string::npos) << "sidecar " << i << " is partial";
            count += text != oldSidecar;
        }
        EXPECT_EQ(folderEntries(library).size(), 2u * pairCount) << "a temporary file was left";
        return count;
    }

    // The run, with each rename held for 0.4 s, and `act` called with the program's process id once the
    // first sidecar is being written (its hidden temporary file is there).
    ProcessResult slowRun(const std::function<void(pid_t)>& act) {
        const char* sanitizer = std::getenv("ASAN_OPTIONS");  // LeakSanitizer cannot work under ptrace
        return runProgram({"/usr/bin/env", std::string("ASAN_OPTIONS=") + (sanitizer ? sanitizer : "") + ":detect_leaks=0",
                           "/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "--seccomp-bpf", "-e", "trace=rename",
                           "-e", "inject=rename:delay_enter=400000", CORVANE_CLI_PATH, "--write", library.string()},
                          dir.path(), {}, std::chrono::seconds(120), [&](pid_t strace) {
                              pid_t program = 0;
                              for (int wait = 0; wait < 30000 && (program == 0 || folderEntries(library).size() == 2u * pairCount); ++wait) {
                                  std::ifstream(fs::path("/proc") / std::to_string(strace) / "task" / std::to_string(strace) / "children") >> program;
                                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
                              }
                              act(program);
                          });
    }

    TempDir dir;
    const fs::path library = dir.path() / "library";
    const std::string oldSidecar = sidecarXml(letterlessSidecar);
};

TEST_F(InterruptTest, FirstSignalLetsTheFileInProgressFinishThenEndsTheRunCleanly) {
    for (const auto& [signal, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}}) {
        SCOPED_TRACE(name);
        SetUp();
        const ProcessResult result = slowRun([signal = signal](pid_t program) { ::kill(program, signal); });
        EXPECT_EQ(result.exitCode, 128 + signal) << result.err;
        EXPECT_EQ(rewritten(), 1) << "the file in progress is finished, and no other is taken";
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
        EXPECT_NE(result.out.find(".HEIC: Updated:\n"), std::string::npos) << result.out;
        EXPECT_TRUE(result.err.ends_with("corvane-cli: interrupted by " + std::string(name) +
                                         " after 1 of 4 files\ncorvane-cli: 1 file: 1 updated\n")) << result.err;
    }
}

TEST_F(InterruptTest, SecondSignalEndsTheProcessAtOnce) {
    const ProcessResult result = slowRun([](pid_t program) {
        ::kill(program, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::kill(program, SIGTERM);
    });
    EXPECT_EQ(result.signal, SIGTERM) << result.err;
    EXPECT_EQ(result.err.find("corvane-cli: 1 file"), std::string::npos) << "no closing line";
}

// The report fails at its first line, before any file is taken: nothing is written that it would not
// name.
TEST_F(InterruptTest, ReportThatCannotBeWrittenStopsTheRunBeforeItWrites) {
    int closedPipe[2];
    ASSERT_EQ(::pipe(closedPipe), 0);
    ::close(closedPipe[0]);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    const std::tuple<int, int, std::string> outputs[] = {
        {closedPipe[1], 128 + SIGPIPE, "corvane-cli: the report's reader has gone: stopped after 0 of 4 files\n"},
        {full, 1, "corvane-cli: cannot write the report (No space left on device): stopped after 0 of 4 files\n"},
    };
    for (const auto& [output, exitCode, message] : outputs) {
        const ProcessResult result = runProgram({CORVANE_CLI_PATH, "--write", library.string()}, dir.path(), {},
                                                std::chrono::seconds(60), {}, output);
        EXPECT_EQ(result.exitCode, exitCode) << result.err;
        EXPECT_EQ(result.err, message + "corvane-cli: 0 files\n");
        EXPECT_EQ(rewritten(), 0);
        ::close(output);
    }
}

}  // namespace
}  // namespace corvane::test
