// A writer killed at any moment loses nothing: corvane-cli --write is started on real HEIC images with
// letterless sidecars (so every sidecar is rewritten) and killed with SIGKILL at a random moment of its
// run. After every kill each sidecar exists and is byte for byte either its old or its new document, and
// the next run finishes the work and leaves no temporary file behind. The run syncs the library folder
// once, after its last rename there, so many kills land between renames whose folder sync is still to
// come: the sidecar must be whole at every such moment too.
//
// KILL_TRIALS sets the number of kills (40 by default; run 200 or more by hand), KILL_SEED the random
// seed (printed, so a failure can be replayed).

#include "tests/e2e/ChildProcess.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <thread>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

// Several pairs per run, so that the moments at which a sidecar is being written are spread over the
// run and a kill at a random moment often lands in one.
constexpr int pairCount = 12;

int settingFromEnvironment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

std::string imageName(int index) { return "IMG_" + std::to_string(1000 + index) + ".HEIC"; }
std::string sidecarName(int index) { return "IMG_" + std::to_string(1000 + index) + ".xmp"; }

std::string oldSidecar(int index) {
    // Agrees with the image but lacks the hemisphere letters: the writer rewrites it.
    return sidecarXml({"37.77490000", "122.41940000", "N", "W"},
                      "   <xmp:Label>pair " + std::to_string(index) + "</xmp:Label>\n");
}

class KillTest : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = dir_.path() / "library";
        fs::create_directories(library_);
        for (int i = 0; i < pairCount; ++i) writeHeic(library_ / imageName(i), iPhoneImageAt(37.7749, -122.4194));
        resetSidecars();
    }

    void resetSidecars() {
        for (int i = 0; i < pairCount; ++i) writeText(library_ / sidecarName(i), oldSidecar(i));
    }

    std::vector<std::string> writeArguments() const { return {cliPath(), "--write", "--quiet", library_.string()}; }

    // The names a finished run leaves: the pairs and nothing else.
    std::vector<std::string> expectedEntries() const {
        std::vector<std::string> names;
        for (int i = 0; i < pairCount; ++i) {
            names.push_back(imageName(i));
            names.push_back(sidecarName(i));
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
    fs::path library_;
};

TEST_F(KillTest, SidecarIsAlwaysTheOldOrTheNewDocumentAndTheNextRunCleansUp) {
    const int trials = settingFromEnvironment("KILL_TRIALS", 40);
    const unsigned seed = static_cast<unsigned>(settingFromEnvironment("KILL_SEED", static_cast<int>(std::random_device{}())));
    std::printf("KillTest: %d trials, KILL_SEED=%u\n", trials, seed);

    // The new documents, and how long an uninterrupted run takes (the slowest of three, so that kill
    // moments cover the whole run).
    nanoseconds runLength{0};
    std::vector<std::string> newSidecars(pairCount);
    for (int round = 0; round < 3; ++round) {
        resetSidecars();
        const auto start = steady_clock::now();
        const ProcessResult run = runCli({"--write", "--quiet", library_.string()}, dir_.path());
        runLength = std::max(runLength, duration_cast<nanoseconds>(steady_clock::now() - start));
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    }
    for (int i = 0; i < pairCount; ++i) {
        newSidecars[i] = readText(library_ / sidecarName(i));
        ASSERT_NE(newSidecars[i], oldSidecar(i)) << "the run must rewrite every sidecar";
    }
    std::printf("KillTest: an uninterrupted run of %d pairs takes %.1f ms\n", pairCount, runLength.count() / 1e6);

    std::mt19937 random(seed);
    std::uniform_int_distribution<int64_t> killMoment(0, runLength.count());
    int killsBeforeAnyWrite = 0, killsMidRun = 0, killsAfterLastWrite = 0, staleTempFilesSeen = 0;
    ChildEnvironment environment(dir_.path());
    for (int trial = 0; trial < trials; ++trial) {
        resetSidecars();
        const nanoseconds delay(killMoment(random));
        const pid_t pid = spawnQuietly(writeArguments(), environment);
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);

        int rewritten = 0;
        for (int i = 0; i < pairCount; ++i) {
            const fs::path sidecar = library_ / sidecarName(i);
            ASSERT_TRUE(fs::is_regular_file(sidecar)) << "trial " << trial << ": " << sidecarName(i) << " is missing";
            const std::string bytes = readText(sidecar);
            const bool isOld = bytes == oldSidecar(i);
            const bool isNew = bytes == newSidecars[i];
            ASSERT_TRUE(isOld || isNew) << "trial " << trial << " (kill after " << delay.count() / 1000
                                        << " µs): " << sidecarName(i) << " is partial:\n" << bytes;
            rewritten += isNew;
        }
        const std::vector<std::string> afterKill = folderEntries(library_);
        staleTempFilesSeen += static_cast<int>(afterKill.size()) - 2 * pairCount;
        if (rewritten == 0) ++killsBeforeAnyWrite;
        else if (rewritten == pairCount) ++killsAfterLastWrite;
        else ++killsMidRun;

        const ProcessResult next = runCli({"--write", "--quiet", library_.string()}, dir_.path());
        ASSERT_EQ(next.exitCode, 0) << "trial " << trial << ": the run after the kill failed\n" << next.out << next.err;
        for (int i = 0; i < pairCount; ++i)
            ASSERT_EQ(readText(library_ / sidecarName(i)), newSidecars[i]) << "trial " << trial << ": " << sidecarName(i);
        ASSERT_EQ(folderEntries(library_), expectedEntries()) << "trial " << trial << ": a temporary file was left";
    }
    std::printf("KillTest: kills before any write %d, between writes %d, after the last write %d; "
                "temporary files found after kills and removed by the next run: %d\n",
                killsBeforeAnyWrite, killsMidRun, killsAfterLastWrite, staleTempFilesSeen);
}

}  // namespace
}  // namespace corvane::test
