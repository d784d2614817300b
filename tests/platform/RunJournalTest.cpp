// SPDX-License-Identifier: GPL-3.0-or-later
// The journals of runs as they lie on the disk: old texts come back byte for byte, compressed against
// the first; a journal cut anywhere, as a killed run leaves it, still reads as the records before the
// cut; a frame damaged later costs only its record; the journals kept are those of the last 20 runs or 30 days,
// whichever are more; and no journal of a run in progress is removed.

#include "engine/SidecarGPS.h"
#include "platform/system/RunJournalFile.h"
#include "platform/system/RunJournalStore.h"
#include "tests/support/Fixtures.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <ctime>
#include <functional>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

ReplacedSidecar replaced(int number) {
    const std::string label = "   <xmp:Label>photo " + std::to_string(number) + "</xmp:Label>\n";
    return ReplacedSidecar{"/photos/IMG_" + std::to_string(number) + ".xmp", sidecarXml(letterlessSidecar, label),
                           0640, 1000, 100, 7, contentHash("new " + std::to_string(number))};
}

void expectSame(const ReplacedSidecar& read, const ReplacedSidecar& written) {
    EXPECT_EQ(read.path, written.path);
    EXPECT_EQ(read.oldBytes, written.oldBytes);
    EXPECT_EQ(std::tie(read.mode, read.owner, read.group, read.newSize), std::tie(written.mode, written.owner, written.group, written.newSize));
    EXPECT_EQ(read.newHash, written.newHash);
}

// A run's name for a moment `age` ago.
std::string nameAged(std::chrono::hours age) {
    const std::time_t moment = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() - age);
    std::tm utc{};
    ::gmtime_r(&moment, &utc);
    char name[32];
    std::strftime(name, sizeof name, "%Y%m%dT%H%M%S.000Z", &utc);
    return name;
}

TEST(RunJournalTest, OldTextsComeBackWholeFromAJournalCutAnywhere) {
    const TempDir dir;
    RunJournalStore store(dir.path() / "runs");
    std::vector<ReplacedSidecar> records;
    {
        const auto journal = store.prepare({RunDescription::Kind::write, "", {"/photos"}});
        for (int number = 0; number < 3; ++number) {
            records.push_back(replaced(number));
            const auto ticket = journal->record(records.back());
            ASSERT_TRUE(ticket && journal->waitUntilDurable(ticket.value()));
            if (number == 1) journal->cancel(ticket.value());  // its replacement failed
        }
    }
    auto run = store.lastRun();
    ASSERT_TRUE(run && run.value());
    EXPECT_EQ(run.value()->description.items, std::vector<std::string>{"/photos"});
    EXPECT_TRUE(run.value()->finished && !run.value()->inProgress && !run.value()->damaged);
    const auto read = store.records(*run.value());
    ASSERT_TRUE(read && read.value().size() == 2);
    expectSame(read.value()[0], records[0]);
    expectSame(read.value()[1], records[2]);

    const std::string bytes = readText(store.folder() / (run.value()->name + ".journal"));
    // Compressed, the later ones against the first record's old text: three records in the room of one
    // old text and a half.
    EXPECT_LT(bytes.size(), records[0].oldBytes.size() * 3 / 2);
    // Cut at any byte, and followed by the zero-filled room a killed run leaves, the journal reads as the
    // records whole before the cut; only a cut inside a frame is damage.
    size_t seen = 0;
    for (size_t cut = bytes.find("/photos/IMG_0"); cut <= bytes.size(); ++cut) {
        const auto contents = decodeJournal(bytes.substr(0, cut) + std::string(64, '\0'), true);
        ASSERT_TRUE(contents) << cut;
        ASSERT_FALSE(contents.value().damaged) << cut;
        ASSERT_GE(contents.value().records.size() + contents.value().cancelled, seen);
        seen = contents.value().records.size() + contents.value().cancelled;
        for (const ReplacedSidecar& record : contents.value().records) expectSame(record, records[record.path.string()[12] - '0']);
    }
    EXPECT_EQ(seen, 3u);
}

// A journal written by a run of three records, frame by frame, for the test to harm.
struct Frames {
    Frames() {
        RecordEncoder encoder;
        for (int number = 0; number < 3; ++number) {
            records.push_back(replaced(number));
            frames.push_back(encoder.frame(static_cast<uint64_t>(number), records.back()));
        }
        frames.push_back(encodeEndFrame());
    }
    std::string joined() const {
        std::string bytes = encodeJournalStart({RunDescription::Kind::write, "", {"/photos"}});
        for (const std::string& frame : frames) bytes += frame;
        return bytes;
    }
    std::vector<ReplacedSidecar> records;
    std::vector<std::string> frames;
};

// A record's length of its old text set to `size`, its frame's checksum made to match.
std::string withOldSize(std::string frame, const ReplacedSidecar& record, uint64_t size) {
    const size_t at = 8 + 1 + 8 + 4 + record.path.string().size() + 12 + 8 + 32;
    for (int byte = 0; byte < 8; ++byte) frame[at + static_cast<size_t>(byte)] = static_cast<char>(size >> (8 * byte));
    const auto crc = static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(frame.data() + 8), static_cast<uInt>(frame.size() - 8)));
    for (int byte = 0; byte < 4; ++byte) frame[4 + static_cast<size_t>(byte)] = static_cast<char>(crc >> (8 * byte));
    return frame;
}

// Harm done to a journal after its run wrote it is told from the torn end of a killed run: the records
// after it still read, and those it cost are counted.
TEST(RunJournalTest, DamageIsToldFromATornEndAndCostsOnlyTheRecordsItHits) {
    const struct {
        const char* harm;
        std::function<void(Frames&)> apply;
        std::vector<int> read;
        size_t unreadable;
        bool damaged;
    } cases[] = {
        {"the last record torn, zeros after it", [](Frames& f) {
             f.frames[2] = f.frames[2].substr(0, f.frames[2].size() / 2) + std::string(4096, '\0');
             f.frames.pop_back();
         }, {0, 1}, 0, false},
        {"a byte of the middle record", [](Frames& f) { f.frames[1][f.frames[1].size() / 2] ^= 1; }, {0, 2}, 1, true},
        {"a byte of the last record", [](Frames& f) { f.frames[2][f.frames[2].size() - 1] ^= 1; }, {0, 1}, 1, true},
        {"the middle record's length", [](Frames& f) { f.frames[1][1] ^= 0x40; }, {0, 2}, 1, true},
        {"the end mark, as a run killed while it ended leaves it", [](Frames& f) { f.frames[3][8] = 'X'; }, {0, 1, 2}, 0, false},
        {"the first record, whose old text the others are compressed against",
         [](Frames& f) { f.frames[0][f.frames[0].size() / 2] ^= 1; }, {}, 3, true},
        {"an old text's length beyond any sidecar's",
         [](Frames& f) { f.frames[1] = withOldSize(f.frames[1], f.records[1], uint64_t{1} << 40); }, {0, 2}, 1, true},
        {"an old text's length just beyond any sidecar's",
         [](Frames& f) { f.frames[1] = withOldSize(f.frames[1], f.records[1], maximumSidecarSize + 1); }, {0, 2}, 1, true},
    };
    for (const auto& [harm, apply, read, unreadable, damaged] : cases) {
        SCOPED_TRACE(harm);
        Frames frames;
        apply(frames);
        for (const bool withOldTexts : {true, false}) {
            const auto contents = decodeJournal(frames.joined(), withOldTexts);
            ASSERT_TRUE(contents);
            EXPECT_EQ(contents.value().damaged, damaged);
            std::vector<int> found;
            for (const ReplacedSidecar& record : contents.value().records) found.push_back(record.path.string()[12] - '0');
            if (!withOldTexts) continue;  // an old text that cannot be inflated is found only by inflating it
            EXPECT_EQ(found, read);
            EXPECT_EQ(contents.value().unreadable, unreadable);
            for (const ReplacedSidecar& record : contents.value().records) expectSame(record, frames.records[record.path.string()[12] - '0']);
        }
    }
}

TEST(RunJournalTest, KeepsTheLastTwentyRunsOrThirtyDaysWhicheverAreMoreAndNeverOneInProgress) {
    using std::chrono::hours;
    const struct {
        int recent, old, kept;
    } cases[] = {
        {25, 5, 26},  // every run of the last 30 days, and the new one
        {3, 30, 20},  // the last 20 runs: the new one, 3 recent and 16 old ones
    };
    for (const auto& [recent, old, kept] : cases) {
        const TempDir dir;
        RunJournalStore store(dir.path() / "runs");
        {
            const auto journal = store.prepare({});
            ASSERT_TRUE(journal->record(replaced(0)));
        }
        const fs::path made = store.folder() / (store.lastRun().value()->name + ".journal");
        for (int i = 0; i < recent + old; ++i)
            fs::copy_file(made, store.folder() / (nameAged(hours(i < recent ? 24 + i : 24 * 40 + i)) + ".journal"));
        // Names that only look like a run's (a year past what the clock counts, a thirteenth month) are
        // not runs: never listed, never removed.
        for (const char* stranger : {"99991231T235959.999Z", "20261301T000000.000Z"})
            fs::copy_file(made, store.folder() / (std::string(stranger) + ".journal"));
        fs::remove(made);

        const auto inProgress = store.prepare({});
        ASSERT_TRUE(inProgress->open());
        EXPECT_EQ(store.list().value().size(), static_cast<size_t>(kept));
        EXPECT_TRUE(store.list().value().back().inProgress);
        EXPECT_EQ(store.forget().value(), static_cast<size_t>(kept - 1));
        ASSERT_EQ(store.list().value().size(), 1u);
        inProgress->finish();  // it replaced nothing: it leaves no journal
        EXPECT_TRUE(store.list().value().empty());
    }
}

}  // namespace
}  // namespace corvane::test
