// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-cli: repairs the GPS position in XMP sidecars from the command line, on the same engine as the
// window. Dry run unless --write is given.

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "cli/ExactText.h"
#include "cli/Interruption.h"
#include "engine/Diagnostics.h"
#include "engine/MediaFileProcessor.h"
#include "engine/MediaFiles.h"
#include "engine/ResultReport.h"
#include "engine/RunDriver.h"
#include "platform/FolderAccess.h"
#include "platform/ImageMetadataReader.h"
#include "platform/PosixFileSystem.h"
#include "platform/ReadAhead.h"
#include "platform/SettingsGrantStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
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
    // Each row is out when its file is done; a report that cannot be written stops the run.
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

// Processes the paths and prints the report (or the JSON lines) and the closing line; the exit status.
// A signal or a report that cannot be written ends the run after the file in progress, as cleanly as
// its last file would.
int process(const cli::CliOptions& options, CliObserver& observer, const ImageMetadataSource& reader) {
    cli::catchInterruptions();
    PosixFileSystem& fileSystem = PosixFileSystem::shared();
    const RunSettings settings(options.switches);

    const SortedPaths paths = sortPaths(fileSystem, options.paths);
    observer.addToTotal(static_cast<int64_t>(paths.unsupported.size()));

    // Nobody can be asked for a folder here: folders granted in the window are used, others decline.
    SettingsGrantStore grants;
    DecliningFolderPrompt prompt;
    FolderAccess access(fileSystem, grants, prompt);
    const EngineServices services{fileSystem, reader, access, settings};

    InlineExecutor executor;
    ReadAhead readAhead;
    RunDriver driver(
        fileSystem, [&](const std::filesystem::path& file) { return MediaFileProcessor(services).process(file); },
        executor.executor(), &observer, RowRetention::publishOnly);
    driver.stopWhen(cli::interruptionRequested);
    // The next files' pages are fetched while this one is worked on: on a cold disk or a network volume
    // the run then waits for one read at a time no longer.
    driver.lookAhead(16, [&readAhead](const std::filesystem::path& file) { readAhead.add(file); });
    observer.beginReport(options.switches);
    if (!paths.items.empty()) driver.startRun(paths.items);
    for (const auto& file : paths.unsupported) {
        if (cli::interruptionRequested()) break;
        observer.record(ProcessingResultDetail::make(file, MediaFileProcessor(services).process(file)));
    }
    observer.endReport();

    const bool stopped = cli::interruptionRequested();
    if (stopped) std::fprintf(stderr, "%s\n", cli::interruptionMessage(observer.tally().total(), observer.total()).c_str());
    std::fprintf(stderr, "%s\n", cli::summaryLine(observer.tally(), options.switches.dryRun, stopped).c_str());
    if (auto status = cli::interruptionExitStatus()) return *status;
    return cli::runExitStatus(observer.tally(), paths.missingPath || observer.problemReported(), options.check);
}

}  // namespace

int main(int argc, char** argv) {
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
        case cli::CliOptions::Mode::inspect:
        case cli::CliOptions::Mode::process: break;
    }

    CliObserver observer(options, !options.quiet && ::isatty(STDERR_FILENO));
    routeDiagnostics(options.debug, observer);
    const ImageMetadataReader reader;
    if (options.mode == cli::CliOptions::Mode::inspect) return inspect(options, reader);
    return process(options, observer, reader);
}
