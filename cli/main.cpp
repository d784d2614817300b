// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-cli: repairs the GPS position in XMP sidecars from the command line, on the same engine as the
// window. Dry run unless --write is given.

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/ExactText.h"
#include "cli/Interruption.h"
#include "engine/Diagnostics.h"
#include "engine/JournaledFileSystem.h"
#include "engine/MediaFileProcessor.h"
#include "engine/MediaFiles.h"
#include "engine/ResultReport.h"
#include "engine/RunDriver.h"
#include "engine/RunUndo.h"
#include "platform/system/FolderAccess.h"
#include "platform/image/ImageMetadataReader.h"
#include "platform/system/PosixFileSystem.h"
#include "platform/image/ReadAhead.h"
#include "platform/system/RunJournalFile.h"
#include "platform/system/RunJournalStore.h"
#include "platform/system/SettingsGrantStore.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>

using namespace corvane;

namespace {

// Writes each row the moment it arrives: a block of the report, or a JSON line. Keeps one progress
// line on a terminal, cleared before anything else is written, and counts the outcomes for the closing
// line. Rows are kept neither here nor by the run driver (it only publishes them), so the memory of a
// long run does not grow with its rows.
class CliObserver : public RunObserver {
public:
    CliObserver(const cli::CliOptions& options, bool showProgress) : options_(options), showProgress_(showProgress) {}

    // Files that get a row outside the driver's run, counted into the progress total.
    void addToTotal(int64_t count) { extraTotal_ += count; }

    void runStateChanged(const RunProgress& progress) override {
        if (progress.isProcessing) runTotal_ = progress.totalCount;
    }

    void rowAdded(const RunProgress&, const ProcessingResultDetail& row) override { record(row); }

    // The files of a folder that cannot be listed are missing from the report: the run is incomplete.
    void folderNotListed(const std::string& folder, const Error& why) override {
        clearProgress();
        std::fprintf(stderr, "corvane-cli: %s: cannot list the folder: %s\n", cli::escapeForTerminal(folder).c_str(),
                     std::strerror(why.code));
        problemReported_ = true;
    }

    // The sidecars were written and their rows printed; what the failed sync puts at risk is named here.
    void folderNotSynced(const FileSystem::FolderSyncFailure& failure) override {
        clearProgress();
        for (const std::string& name : failure.names)
            std::fprintf(stderr, "corvane-cli: %s: written, but its folder could not be synced (%s): the change may not survive a power cut\n",
                         cli::escapeForTerminal((failure.folder / name).string()).c_str(), std::strerror(failure.error.code));
        problemReported_ = true;
    }

    // The report's first line; the rows' blocks follow it as they arrive. The report's lines are those
    // of reportText, each ended by a line break.
    void beginReport(const RunSwitches& switches) {
        switches_ = switches;
        if (options_.json) return;
        write(reportHeader(switches, std::chrono::system_clock::now()) + "\n");
        // Out at once even when rows are gathered: a report that cannot be written stops the run before
        // its first file.
        cli::flushReport();
    }

    void endReport() { clearProgress(); }

    void record(const ProcessingResultDetail& row) {
        tally_.add(row.result);
        if (!switches_.silentlyIgnoreSkipped || !isSilentlySkippable(row.result)) {
            clearProgress();
            if (options_.json) {
                write(cli::resultJson(row) + "\n");
            } else {
                // Each line ends at once, so the progress line below it never overwrites it.
                write(cli::reportRow(row) + "\n");
            }
        }
        if (showProgress_) {
            std::fprintf(stderr, "\r\x1b[KProcessed %zu/%lld • %s", tally_.total(),
                         static_cast<long long>(runTotal_ + extraTotal_), cli::escapeForTerminal(lastPathComponent(row.fileURL)).c_str());
            std::fflush(stderr);
            progressShown_ = true;
        }
    }

    // Clears the progress line so that another line can take its place.
    void clearProgress() {
        if (!progressShown_) return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        progressShown_ = false;
    }

    const cli::OutcomeTally& tally() const { return tally_; }
    bool problemReported() const { return problemReported_; }
    int64_t total() const { return runTotal_ + extraTotal_; }

private:
    // A report that cannot be written stops the run.
    static void write(const std::string& text) { cli::writeReport(text); }

    const cli::CliOptions& options_;
    bool showProgress_;
    bool progressShown_ = false;
    bool problemReported_ = false;
    int64_t runTotal_ = 0;
    int64_t extraTotal_ = 0;
    RunSwitches switches_;
    cli::OutcomeTally tally_;
};

// Why a FILE given to --inspect cannot be read as an image, told before it is opened: nothing there, a
// folder, something that is not a regular file (never opened: a FIFO would wait), or no permission.
std::optional<std::string> uninspectable(const std::string& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) return errno == ENOENT ? "no such file" : std::strerror(errno);
    if (S_ISDIR(status.st_mode)) return "is a folder, not a file";
    if (!S_ISREG(status.st_mode)) return "not a regular file";
    if (::access(file.c_str(), R_OK) != 0) return std::strerror(errno);
    return std::nullopt;
}

// Prints what each image holds; a FILE that cannot be inspected is named on standard error and makes the
// exit status 1.
int inspect(const cli::CliOptions& options, const ImageMetadataSource& reader) {
    int status = cli::exitSuccess;
    for (const std::string& file : options.paths) {
        std::optional<std::string> problem = uninspectable(file);
        std::optional<ImagePosition> position;
        std::optional<DeviceData> device;
        if (!problem) {
            // One opening of the file answers both; the position is asked first, so its lines come first.
            const auto reading = reader.read(file);
            position = reading->readImageGPS();
            device = reading->readDeviceData();
            if (!device) problem = "not an image whose metadata can be read";
        }
        if (problem) {
            std::fprintf(stderr, "corvane-cli: %s: %s\n", cli::escapeForTerminal(file).c_str(), problem->c_str());
            status = cli::exitFailure;
            continue;
        }
        cli::writeReport((options.json ? cli::inspectionJson(file, position, device) : cli::inspectionLine(file, position, device)) + '\n');
    }
    return cli::interruptionExitStatus().value_or(status);
}

// The engine's diagnostic lines go to standard error with --debug, one write call per line (standard
// error is unbuffered), each after the progress line is cleared; without --debug they are silenced.
void routeDiagnostics(bool debug, CliObserver& observer) {
    if (!debug) {
        Diagnostics::setSink({});
        return;
    }
    Diagnostics::setSink([&observer](std::string_view line) {
        observer.clearProgress();
        // The lines quote file names and sidecar texts: escaped, like every name this program prints.
        std::string text = cli::escapeForTerminal(line);
        text.push_back('\n');
        std::fwrite(text.data(), 1, text.size(), stderr);
    });
}

// The command line's paths, sorted: folders and media files go to the run. A file named on the command
// line that is not a media file still gets its "unsupported" row, so that nothing the user asked for
// passes unmentioned; inside folders such files (the sidecars among them) are passed over silently, as
// in the window. A path where nothing exists is reported at once, whatever its name.
struct SortedPaths {
    std::vector<std::filesystem::path> items;
    std::vector<std::filesystem::path> unsupported;
    bool missingPath = false;
};

SortedPaths sortPaths(const FileSystem& fileSystem, const std::vector<std::string>& paths) {
    SortedPaths sorted;
    for (const std::string& path : paths) {
        const FileSystem::Presence presence = fileSystem.presence(path);
        if (!presence.exists) {
            std::fprintf(stderr, "corvane-cli: %s: no such file or folder\n", cli::escapeForTerminal(path).c_str());
            sorted.missingPath = true;
        } else if (!presence.isDirectory && !hasSupportedExtension(path)) {
            sorted.unsupported.emplace_back(path);
        } else {
            sorted.items.emplace_back(path);
        }
    }
    return sorted;
}

// The file system a run writes through: with the run's undo journal when it writes, unless --no-journal
// is given. A journal that cannot be written stops the run before its first file.
class RunFiles {
public:
    RunFiles(RunJournalStore& store, bool writes, const cli::CliOptions& options, RunDescription description) {
        if (writes && options.journal) {
            journal_ = store.prepare(std::move(description));
            journaled_.emplace(PosixFileSystem::shared(), *journal_);
        }
    }
    ~RunFiles() { finish(); }

    // False, with the reason on standard error, when the journal cannot be made.
    bool open() {
        if (!journal_) return true;
        const Status opened = journal_->open();
        if (opened) return true;
        std::fprintf(stderr, "corvane-cli: the undo journal cannot be written (%s): nothing written; --no-journal writes without one\n",
                     cli::escapeForTerminal(opened.error().message).c_str());
        journaled_.reset();
        journal_.reset();
        return false;
    }
    FileSystem& fileSystem() { return journaled_ ? static_cast<FileSystem&>(*journaled_) : PosixFileSystem::shared(); }
    // Asked before each file: a journal that failed during the run ends it, as a signal does.
    bool journalFailed() const { return journal_ && journal_->failure(); }
    // The run has ended; true when its journal failed on the way (said on standard error).
    bool finish() {
        if (!journal_) return false;
        journal_->finish();
        const auto failure = journal_->failure();
        if (failure) {
            std::fprintf(stderr, "corvane-cli: the undo journal could not be written (%s): stopped\n",
                         cli::escapeForTerminal(failure->message).c_str());
        }
        journaled_.reset();
        journal_.reset();
        return failure.has_value();
    }

private:
    std::unique_ptr<RunJournalFile> journal_;
    std::optional<JournaledFileSystem> journaled_;
};

// A moment as the user's clock shows it: "2026-12-07 15:03:12".
std::string localTime(std::chrono::system_clock::time_point moment) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// "the journal of run NAME is damaged: 3 records could not be read (their sidecars are not restored)".
std::string damageText(const RunInfo& run) {
    std::string text = "the journal of run " + run.name + " is damaged";
    if (run.lost > 0)
        text += ": " + std::to_string(run.lost) +
                (run.lost == 1 ? " record could not be read (its sidecar is not restored)" : " records could not be read (their sidecars are not restored)");
    return text;
}

// One run of --list-runs: "NAME  TIME  write  12 sidecars  /photos/2024, /photos/2025".
std::string runLine(const RunInfo& run) {
    std::string line = run.name + "  " + localTime(run.started) + "  ";
    // Nothing of what the run was is known.
    if (run.unreadable) return cli::escapeForTerminal(line + "(its journal is damaged: it cannot be read)") + "\n";
    line += run.description.kind == RunDescription::Kind::undo ? "undo of " + run.description.undoneRun : std::string("write");
    line += "  " + std::to_string(run.replaced) + (run.replaced == 1 ? " sidecar" : " sidecars");
    if (run.inProgress) line += " (in progress)";
    else if (run.damaged)
        line += " (its journal is damaged" + (run.lost > 0 ? ": " + std::to_string(run.lost) + (run.lost == 1 ? " record" : " records") + " cannot be read)" : std::string(")"));
    else if (!run.finished) line += " (stopped before its end)";
    const std::vector<std::string>& items = run.description.items;
    for (size_t index = 0; index < std::min<size_t>(items.size(), 3); ++index) line += (index ? ", " : "  ") + items[index];
    if (items.size() > 3) line += ", and " + std::to_string(items.size() - 3) + " more";
    return cli::escapeForTerminal(line) + "\n";
}

int listRuns() {
    const RunJournalStore store(RunJournalStore::defaultFolder());
    const auto runs = store.list();
    if (!runs) {
        std::fprintf(stderr, "corvane-cli: %s\n", cli::escapeForTerminal(runs.error().message).c_str());
        return cli::exitFailure;
    }
    if (runs.value().empty()) std::fprintf(stderr, "corvane-cli: no run kept in %s\n", cli::escapeForTerminal(store.folder().string()).c_str());
    for (const RunInfo& run : runs.value()) cli::writeReport(runLine(run));
    return cli::interruptionExitStatus().value_or(cli::exitSuccess);
}

int forgetRuns() {
    RunJournalStore store(RunJournalStore::defaultFolder());
    const auto forgotten = store.forget();
    if (!forgotten) {
        std::fprintf(stderr, "corvane-cli: %s\n", cli::escapeForTerminal(forgotten.error().message).c_str());
        return cli::exitFailure;
    }
    std::fprintf(stderr, "corvane-cli: forgot %zu %s\n", forgotten.value(), forgotten.value() == 1 ? "run" : "runs");
    return cli::exitSuccess;
}

// The end of a run or an undo: why it stopped early, if it did, and the closing line; the exit status.
int closeRun(const cli::CliOptions& options, CliObserver& observer, RunFiles& files, bool dryRun, bool otherProblem) {
    observer.endReport();
    cli::flushReport();  // every row is out before the closing lines, and a failure to write them counts
    const bool journalFailed = files.finish();
    const bool stopped = cli::interruptionRequested() || journalFailed;
    if (cli::interruptionRequested())
        std::fprintf(stderr, "%s\n", cli::interruptionMessage(observer.tally().total(), observer.total()).c_str());
    std::fprintf(stderr, "%s\n", cli::summaryLine(observer.tally(), dryRun, stopped).c_str());
    if (auto status = cli::interruptionExitStatus()) return *status;
    return cli::runExitStatus(observer.tally(), otherProblem || journalFailed || observer.problemReported(), options.check);
}

// Undoes the last run that replaced sidecars, or the run named, and reports each sidecar as a run
// reports each photo.
int undo(const cli::CliOptions& options, CliObserver& observer) {
    cli::catchInterruptions();
    RunJournalStore store(RunJournalStore::defaultFolder());
    const auto found = options.paths.empty() ? store.lastRun() : store.find(options.paths.front());
    const auto fail = [](const std::string& message) {
        std::fprintf(stderr, "corvane-cli: %s\n", cli::escapeForTerminal(message).c_str());
        return cli::exitFailure;
    };
    if (!found) return fail(found.error().message);
    if (!found.value()) return fail(options.paths.empty() ? "no run to undo" : "no run " + options.paths.front() + " (see --list-runs)");
    RunInfo run = *found.value();
    if (run.inProgress) return fail("the run " + run.name + " is still in progress");
    // A journal that cannot be read says nothing of what its run replaced: nothing is undone, and no
    // older run is taken for it.
    if (run.unreadable) return fail(damageText(run) + "; nothing restored");
    auto records = store.records(run);
    if (!records) return fail(records.error().message);
    // What can be read is restored, each sidecar only where it still holds what the run wrote; the
    // sidecars of the records that are lost stay as the run left them.
    if (run.damaged) std::fprintf(stderr, "corvane-cli: %s\n", cli::escapeForTerminal(damageText(run)).c_str());

    RunFiles files(store, !options.switches.dryRun, options, RunDescription{RunDescription::Kind::undo, run.name, run.description.items});
    if (!files.open()) return cli::exitFailure;
    std::fprintf(stderr, "corvane-cli: undoing the run %s of %s: %zu %s\n", run.name.c_str(), localTime(run.started).c_str(),
                 records.value().size(), records.value().size() == 1 ? "sidecar" : "sidecars");
    const UndoPlan plan = planUndo(files.fileSystem(), std::move(records).value(), options.switches.dryRun);
    InlineExecutor executor;
    RunDriver driver(files.fileSystem(), {}, executor.executor(), &observer, RowRetention::publishOnly);
    driver.stopWhen([&files] { return cli::interruptionRequested() || files.journalFailed(); });
    RunSwitches undoSwitches;  // an undo's header names only whether it writes
    undoSwitches.dryRun = options.switches.dryRun;
    observer.beginReport(undoSwitches);
    driver.startRun(plan.sidecars, plan.undo);
    return closeRun(options, observer, files, options.switches.dryRun, run.damaged);
}

// Processes the paths and prints the report (or the JSON lines) and the closing line; the exit status.
// A signal or a report that cannot be written ends the run after the file in progress, as cleanly as
// its last file would.
int process(const cli::CliOptions& options, CliObserver& observer, const ImageMetadataSource& reader) {
    cli::catchInterruptions();
    PosixFileSystem& fileSystem = PosixFileSystem::shared();
    const RunSettings settings(options.switches);

    const SortedPaths paths = sortPaths(fileSystem, options.paths);
    observer.addToTotal(static_cast<int64_t>(paths.unsupported.size()));
    RunDescription description;
    for (const auto& item : paths.items) description.items.push_back(standardizedPath(item).string());
    RunJournalStore store(RunJournalStore::defaultFolder());
    RunFiles files(store, !options.switches.dryRun, options, std::move(description));
    if (!files.open()) return cli::exitFailure;

    // Nobody can be asked for a folder here: folders granted in the window are used, others decline.
    SettingsGrantStore grants;
    DecliningFolderPrompt prompt;
    FolderAccess access(fileSystem, grants, prompt);
    const EngineServices services{files.fileSystem(), reader, access, settings};

    InlineExecutor executor;
    ReadAhead readAhead(options.switches.sidecarName);
    RunDriver driver(
        files.fileSystem(), [&](const std::filesystem::path& file) { return MediaFileProcessor(services).process(file); },
        executor.executor(), &observer, RowRetention::publishOnly);
    driver.stopWhen([&files] { return cli::interruptionRequested() || files.journalFailed(); });
    // The next files' pages are fetched while this one is worked on: on a cold disk or a network volume
    // the run then waits for one read at a time no longer.
    driver.lookAhead(16, [&readAhead](const std::filesystem::path& file) { readAhead.add(file); });
    observer.beginReport(options.switches);
    if (!paths.items.empty()) driver.startRun(paths.items);
    for (const auto& file : paths.unsupported) {
        if (cli::interruptionRequested()) break;
        observer.record(ProcessingResultDetail::make(file, MediaFileProcessor(services).process(file)));
    }
    return closeRun(options, observer, files, options.switches.dryRun, paths.missingPath);
}

}  // namespace

int main(int argc, char** argv) {
    // Each save parses its new text and frees the document again; with the heap's default trimming that
    // costs two or three calls to grow and shrink it per sidecar. What a run frees stays for its next file.
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    ::mallopt(M_TOP_PAD, 1 << 20);
    const auto parsed = cli::parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed) {
        std::fprintf(stderr, "corvane-cli: %s\n", cli::escapeForTerminal(parsed.error().message).c_str());
        return parsed.error().code;
    }
    const cli::CliOptions& options = parsed.value();
    switch (options.mode) {
        case cli::CliOptions::Mode::help: cli::writeReport(cli::usageText()); return cli::interruptionExitStatus().value_or(0);
        case cli::CliOptions::Mode::version:
            cli::writeReport("corvane-cli " CORVANE_VERSION "\n");
            return cli::interruptionExitStatus().value_or(0);
        case cli::CliOptions::Mode::listRuns: return listRuns();
        case cli::CliOptions::Mode::forgetRuns: return forgetRuns();
        case cli::CliOptions::Mode::inspect:
        case cli::CliOptions::Mode::undo:
        case cli::CliOptions::Mode::process: break;
    }

    CliObserver observer(options, !options.quiet && ::isatty(STDERR_FILENO));
    routeDiagnostics(options.debug, observer);
    const ImageMetadataReader reader;
    if (options.mode == cli::CliOptions::Mode::inspect) return inspect(options, reader);
    // A run's rows for a terminal, or between --debug's lines on standard error, are out as their files
    // are done; elsewhere they are gathered into blocks, all out by the run's closing line.
    if (!options.debug && !::isatty(STDOUT_FILENO)) cli::gatherReport();
    if (options.mode == cli::CliOptions::Mode::undo) return undo(options, observer);
    return process(options, observer, reader);
}
