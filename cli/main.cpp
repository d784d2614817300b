// corvane-cli: repairs the GPS position in XMP sidecars from the command line, on the same engine as the
// window. Dry run unless --write is given.

#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "engine/Diagnostics.h"
#include "engine/MediaFileProcessor.h"
#include "engine/ResultReport.h"
#include "engine/RunDriver.h"
#include "platform/FolderAccess.h"
#include "platform/ImageMetadataReader.h"
#include "platform/PosixFileSystem.h"
#include "platform/SettingsGrantStore.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>

using namespace corvane;

namespace {

// Writes each row as a JSON line the moment it arrives, and keeps one progress line on a terminal.
class CliObserver : public RunObserver {
public:
    CliObserver(const cli::CliOptions& options, bool showProgress) : options_(options), showProgress_(showProgress) {}

    void runStateChanged(const RunProgress& progress) override {
        if (showProgress_ && !progress.isProcessing && progress.processedCount > 0) std::fputs("\n", stderr);
    }

    void resultRecorded(const RunProgress& progress) override {
        const ProcessingResultDetail& row = progress.results.back();
        if (std::holds_alternative<outcome::Failed>(row.result)) anyFailed_ = true;
        if (options_.json && (!options_.silentlyIgnoreSkipped || !isSilentlySkippable(row.result))) {
            const std::string line = cli::resultJson(row, RunSettings::shared().dryRun);
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
        if (showProgress_) {
            std::fprintf(stderr, "\r\x1b[KProcessed %lld/%lld • %s", static_cast<long long>(progress.processedCount),
                         static_cast<long long>(progress.totalCount), progress.currentFile.c_str());
            std::fflush(stderr);
        }
    }

    bool anyFailed() const { return anyFailed_; }

private:
    const cli::CliOptions& options_;
    bool showProgress_;
    bool anyFailed_ = false;
};

int inspect(const cli::CliOptions& options, const ImageMetadataSource& reader) {
    for (const std::string& file : options.paths) {
        const auto position = reader.readImageGPS(file);
        const auto device = reader.readDeviceData(file);
        std::cout << (options.json ? cli::inspectionJson(file, position, device) : cli::inspectionLine(file, position, device))
                  << '\n';
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = cli::parseArguments(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "corvane-cli: %s\n", error.c_str());
        return 2;
    }
    if (options->mode == cli::CliOptions::Mode::help) {
        std::cout << cli::usageText();
        return 0;
    }
    if (options->mode == cli::CliOptions::Mode::version) {
        std::cout << "corvane-cli " << CORVANE_VERSION << '\n';
        return 0;
    }

    if (options->debug) {
        Diagnostics::setSink([](std::string_view line) {
            std::fwrite(line.data(), 1, line.size(), stderr);
            std::fputc('\n', stderr);
        });
    } else {
        Diagnostics::setSink({});
    }

    PosixFileSystem& fileSystem = PosixFileSystem::shared();
    const ImageMetadataReader reader;
    if (options->mode == cli::CliOptions::Mode::inspect) return inspect(*options, reader);

    RunSettings& settings = RunSettings::shared();
    settings.dryRun = options->dryRun;
    settings.alwaysOverwrite = options->alwaysOverwrite;
    settings.appleOnly = options->appleOnly;
    settings.silentlyIgnoreSkipped = options->silentlyIgnoreSkipped;

    std::vector<std::filesystem::path> items;
    for (const std::string& path : options->paths) {
        if (!fileSystem.exists(path)) std::fprintf(stderr, "corvane-cli: %s: no such file or folder\n", path.c_str());
        items.emplace_back(path);
    }

    // Nobody can be asked for a folder here: folders granted in the window are used, others decline.
    SettingsGrantStore grants;
    DecliningFolderPrompt prompt;
    FolderAccess access(fileSystem, grants, prompt);
    const EngineServices services{fileSystem, reader, access, settings};

    CliObserver observer(*options, !options->quiet && !options->debug && ::isatty(STDERR_FILENO));
    InlineExecutor executor;
    RunDriver driver(
        fileSystem, [&](const std::filesystem::path& file) { return MediaFileProcessor(services).processFile(file); },
        executor.executor(), &observer);
    driver.startRun(items);

    if (!options->json) {
        const ReportSwitches switches{settings.dryRun, settings.alwaysOverwrite, settings.appleOnly,
                                      settings.silentlyIgnoreSkipped};
        std::cout << reportText(driver.progress().results, switches, std::chrono::system_clock::now()) << '\n';
    }
    return observer.anyFailed() ? 1 : 0;
}
