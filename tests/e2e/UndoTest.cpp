// SPDX-License-Identifier: GPL-3.0-or-later
// Every write run of corvane-cli can be undone: the journal it keeps puts back every byte and mode it
// replaced, leaves a sidecar edited since alone, and is itself undone in turn; a dry run keeps none; a
// journal that cannot be written stops the run before it writes; and each record is on the disk before
// the rename it protects (seen in the system calls, and in a sync that fails). Killed runs are undone in
// KillTest.cpp.

#include "tests/e2e/JsonRowDescription.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RewrittenLibrary.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <regex>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

const JsonRowDescription documented(CORVANE_CLI_MAN_PAGE);

// corvane-cli with its home (and its journals below it) in `home`.
ProcessResult cli(std::vector<std::string> arguments, const fs::path& home) {
    arguments.insert(arguments.begin(), CORVANE_CLI_PATH);
    return runProgram(arguments, home);
}

unsigned modeOf(const fs::path& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// The JSON rows of a run by file, each checked against the manual page's description.
std::map<std::string, nlohmann::json> rowsOf(const std::string& out) {
    std::map<std::string, nlohmann::json> rows;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const auto row = nlohmann::json::parse(line);
        EXPECT_EQ(documented.problems(row, JsonRowDescription::row), std::vector<std::string>{}) << line;
        rows[row.at("file")] = row;
    }
    return rows;
}

TEST(UndoTest, AWriteRunIsUndoneByteForByteAndTheUndoCanBeUndone) {
    const TempDir dir;
    RewrittenLibrary library(dir.path(), 4);
    const unsigned modes[] = {0600, 0644, 0640, 0604};
    for (int i = 0; i < 4; ++i) fs::permissions(library.sidecar(i), fs::perms(modes[i]));
    const std::string folder = library.folder.string();

    EXPECT_EQ(cli({"--quiet", folder}, dir.path()).exitCode, 0);
    EXPECT_FALSE(fs::exists(dir.path() / "state")) << "a dry run keeps no journal";
    EXPECT_EQ(cli({"--undo"}, dir.path()).err, "corvane-cli: no run to undo\n");
    ASSERT_EQ(cli({"--write", "--quiet", folder}, dir.path()).exitCode, 0);
    library.recordFinishedRun();
    // Made private after the run: the undo gives it back the mode it had before the run.
    fs::permissions(library.sidecar(1), fs::perms(0600));
    const ProcessResult listed = cli({"--list-runs"}, dir.path());
    const std::regex run("(\\d{8}T\\d{6}\\.\\d{3}Z)  \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  write  4 sidecars  " + folder + "\n");
    std::smatch name;
    ASSERT_TRUE(std::regex_match(listed.out, name, run)) << listed.out;
    EXPECT_EQ(cli({"--undo", "NOPE"}, dir.path()).err, "corvane-cli: no run NOPE (see --list-runs)\n");

    // A look first: nothing is written, and the look keeps no journal.
    const ProcessResult look = cli({"--undo", "--dry-run", "--quiet"}, dir.path());
    EXPECT_NE(look.out.find("IMG_1000.xmp: [Dry Run] Would Update:\n• [DRY RUN] would update: exif:GPSLatitude: 37.77490000N → 37.7749\n"),
              std::string::npos) << look.out;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(readText(library.sidecar(i)), library.newSidecars[i]);
    EXPECT_EQ(cli({"--list-runs"}, dir.path()).out, listed.out);

    // Another program saves a sidecar after the run: the undo leaves it as that program saved it.
    const std::string edited = library.newSidecars[3] + "<!-- edited -->\n";
    writeText(library.sidecar(3), edited);
    const ProcessResult undo = cli({"--undo", name[1], "--json", "--quiet"}, dir.path());
    EXPECT_EQ(undo.exitCode, 1) << undo.err;
    auto rows = rowsOf(undo.out);
    ASSERT_EQ(rows.size(), 4u) << undo.out;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[library.sidecar(i).string()]["changes"], nlohmann::json({"exif:GPSLatitude: 37.77490000N → 37.7749",
                                                                                 "exif:GPSLongitude: 122.41940000W → 122.4194"}));
        EXPECT_EQ(readText(library.sidecar(i)), library.oldSidecars[i]);
        EXPECT_EQ(modeOf(library.sidecar(i)), modes[i]);
    }
    EXPECT_EQ(rows[library.sidecar(3).string()]["error"], "changed since the run; left unchanged");
    EXPECT_EQ(readText(library.sidecar(3)), edited);
    EXPECT_EQ(folderEntries(library.folder), library.entries) << "a temporary file was left";

    // The undo was a run of its own: undoing it brings back what the write run wrote.
    const ProcessResult redo = cli({"--undo", "--quiet"}, dir.path());
    EXPECT_EQ(redo.exitCode, 0) << redo.err;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(readText(library.sidecar(i)), library.newSidecars[i]);
    EXPECT_EQ(modeOf(library.sidecar(1)), 0600u);
    EXPECT_EQ(cli({"--forget-runs"}, dir.path()).err, "corvane-cli: forgot 3 runs\n");
    EXPECT_EQ(cli({"--list-runs"}, dir.path()).out, "");
}

// The journal of the run named, as the run left it.
fs::path journalOf(const fs::path& home, const std::string& name) { return home / "state" / "corvane" / "runs" / (name + ".journal"); }

// The name of the one run --list-runs shows.
std::string onlyRun(const fs::path& home) {
    const std::string listed = cli({"--list-runs"}, home).out;
    return listed.substr(0, listed.find(' '));
}

// A journal harmed after its run wrote it (a bad disk block, a stray write) is not taken for the torn
// end of a killed run: the undo restores what it can read, says how many records it cannot, and fails.
// A newer journal that cannot be read at all stops the undo of the last run, rather than letting it
// undo an older one in its place; the older run can still be named.
TEST(UndoTest, AJournalDamagedAfterItsRunIsUndoneAsFarAsItCanBeReadAndNeverPassedBy) {
    const TempDir dir;
    RewrittenLibrary library(dir.path(), 5);
    ASSERT_EQ(cli({"--write", "--quiet", library.folder.string()}, dir.path()).exitCode, 0);
    library.recordFinishedRun();
    const std::string name = onlyRun(dir.path());
    const fs::path journal = journalOf(dir.path(), name);
    const std::string intact = readText(journal);

    // A byte of one record's path changed: that record is lost, those on either side of it are not.
    const int lost = 2;
    std::string damaged = intact;
    damaged[damaged.find(library.sidecar(lost).filename().string())] ^= 0x20;
    writeText(journal, damaged);
    EXPECT_NE(cli({"--list-runs"}, dir.path()).out.find("  write  4 sidecars (its journal is damaged: 1 record cannot be read)  "),
              std::string::npos);
    const ProcessResult look = cli({"--undo", "--dry-run", "--quiet"}, dir.path());
    EXPECT_EQ(look.exitCode, 1);
    EXPECT_NE(look.err.find("corvane-cli: the journal of run " + name + " is damaged: 1 record could not be read (its sidecar is not restored)\n"),
              std::string::npos) << look.err;
    for (int i = 0; i < library.size(); ++i) EXPECT_EQ(readText(library.sidecar(i)), library.newSidecars[i]);

    // A newer run whose journal cannot be read at all: nothing is undone, the older run included.
    const std::string newer = "20991231T235959.999Z";
    writeText(journalOf(dir.path(), newer), "CORVANE RUN JOURNAL 1\nthe rest is gone");
    const ProcessResult refused = cli({"--undo", "--quiet"}, dir.path());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "corvane-cli: the journal of run " + newer + " is damaged; nothing restored\n");
    const std::string listed = cli({"--list-runs"}, dir.path()).out;
    EXPECT_NE(listed.find(newer), std::string::npos);
    EXPECT_NE(listed.find("  (its journal is damaged: it cannot be read)\n"), std::string::npos) << listed;
    for (int i = 0; i < library.size(); ++i) EXPECT_EQ(readText(library.sidecar(i)), library.newSidecars[i]);

    const ProcessResult undo = cli({"--undo", "--quiet", name}, dir.path());
    EXPECT_EQ(undo.exitCode, 1) << undo.err;
    for (int i = 0; i < library.size(); ++i) EXPECT_EQ(readText(library.sidecar(i)), i == lost ? library.newSidecars[i] : library.oldSidecars[i]) << i;
}

// The journals go to a volume of their own in a mount namespace of the test's: a full one, or one that
// is read-only. Either stops the run before its first file; --no-journal writes all the same.
TEST(UndoTest, AJournalThatCannotBeWrittenStopsTheRunBeforeItWrites) {
    const TempDir probe;
    if (runProgram({"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "/bin/true"}, probe.path()).exitCode != 0)
        GTEST_SKIP() << "no user and mount namespaces here, so no volume of the test's own";
    const std::pair<const char*, const char*> volumes[] = {
        {"size=16k", "No space left on device"},
        {"ro", "Read-only file system"},
    };
    for (const auto& [options, cause] : volumes) {
        SCOPED_TRACE(options);
        const TempDir dir;
        const RewrittenLibrary library(dir.path(), 2);
        fs::create_directories(dir.path() / "state");
        const std::string mountAndRun =
            std::string("mount -t tmpfs -o ") + options + " tmpfs \"$XDG_STATE_HOME\" && "
            "{ head -c 1M /dev/zero 2>/dev/null >\"$XDG_STATE_HOME/filler\"; exec \"$@\"; }";
        const auto run = [&](std::vector<std::string> extra) {
            std::vector<std::string> arguments{"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "/bin/sh", "-c", mountAndRun,
                                               "sh", CORVANE_CLI_PATH, "--write", "--quiet", library.folder.string()};
            arguments.insert(arguments.end(), extra.begin(), extra.end());
            return runProgram(arguments, dir.path());
        };
        const ProcessResult stopped = run({});
        EXPECT_EQ(stopped.exitCode, 1);
        EXPECT_TRUE(stopped.err.starts_with("corvane-cli: the undo journal cannot be written (")) << stopped.err;
        EXPECT_TRUE(stopped.err.ends_with(std::string(cause) + "): nothing written; --no-journal writes without one\n")) << stopped.err;
        EXPECT_EQ(stopped.out, "");
        for (int i = 0; i < 2; ++i) EXPECT_EQ(readText(library.sidecar(i)), library.oldSidecars[i]);
        EXPECT_EQ(run({"--no-journal"}).exitCode, 0);
        for (int i = 0; i < 2; ++i) EXPECT_NE(readText(library.sidecar(i)), library.oldSidecars[i]);
    }
}

// Seen in the system calls: before each exchange that puts a new sidecar in place, its record was
// written to the journal and a sync of the journal has returned. And when that sync fails (here the
// second record's), its sidecar is not replaced: the file fails, and the run stops there.
TEST(UndoTest, EachRecordIsOnTheDiskBeforeTheRenameItProtects) {
    const TempDir dir;
    const RewrittenLibrary library(dir.path(), 4);
    const fs::path trace = dir.path() / "trace";
    const std::vector<std::string> write{CORVANE_CLI_PATH, "--write", "--quiet", library.folder.string()};
    const ProcessResult traced = runProgram(
        underStrace({"-o", trace.string(), "-y", "-e", "trace=pwrite64,fdatasync,renameat2"}, write), dir.path());
    ASSERT_EQ(traced.exitCode, 0) << traced.err;
    std::istringstream lines(readText(trace));
    bool recorded = false, synced = false;  // since the last exchange: a record written, then a sync returned after it
    int exchanges = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("pwrite64(") != std::string::npos && line.find(".journal>") != std::string::npos) recorded = true, synced = false;
        if (line.find("fdatasync") != std::string::npos && line.find(") = 0") != std::string::npos) synced = recorded;
        if (line.find("RENAME_EXCHANGE") == std::string::npos) continue;
        EXPECT_TRUE(recorded && synced) << "exchanged before its record was synced: " << line;
        recorded = synced = false;
        ++exchanges;
    }
    EXPECT_EQ(exchanges, 4);

    library.reset();
    const ProcessResult failed = runProgram(underStrace({"-e", "trace=fdatasync", "-e", "inject=fdatasync:error=EIO:when=2"}, write), dir.path());
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.out.find("Failed: The undo journal cannot be written (Cannot sync “"), std::string::npos) << failed.out;
    EXPECT_NE(failed.err.find("Input/output error): stopped\ncorvane-cli: 2 files: 1 updated, 1 failed\n"), std::string::npos) << failed.err;
    int rewritten = 0;
    for (int i = 0; i < 4; ++i) rewritten += readText(library.sidecar(i)) != library.oldSidecars[i];
    EXPECT_EQ(rewritten, 1);
}

}  // namespace
}  // namespace corvane::test
