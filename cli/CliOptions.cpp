// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOptions.h"

namespace corvane::cli {

std::string usageText() {
    return "usage: corvane-cli [options] PATH...         process files and folders (recursively), one outcome per media file\n"
           "       corvane-cli --inspect FILE...         print the position and device that each image holds\n"
           "\n"
           "  -n, --dry-run               report what would change and write nothing (the default)\n"
           "  -w, --write                 write the sidecars that need it (turns dry run off)\n"
           "      --always-overwrite      also bring sidecars that differ beyond the tolerance to the image's position\n"
           "      --any-device            process images from every camera (turns the Apple-only filter off)\n"
           "      --silently-ignore-skipped   a missing image position counts as skipped; skipped outcomes are left out of the report\n"
           "      --json                  one JSON object per file on standard output (JSON Lines) instead of the report\n"
           "      --debug                 the engine's diagnostic lines (\"[DEBUG] ...\") on standard error\n"
           "  -q, --quiet                 no progress line\n"
           "  -h, --help                  this text\n"
           "      --version               the program's version\n"
           "\n"
           "Exit status: 0 when no file failed, 1 when at least one did (or something else went wrong), 2 for a usage\n"
           "error, 128 + N when signal N stopped the run after the file in progress.\n";
}

namespace {

Error usageError(std::string message) { return Error{"Usage", 2, std::move(message)}; }

}  // namespace

Expected<CliOptions> parseArguments(const std::vector<std::string>& arguments) {
    CliOptions options;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            options.paths.push_back(argument);
            continue;
        }
        if (argument == "--") optionsEnded = true;
        else if (argument == "-n" || argument == "--dry-run") options.dryRun = true;
        else if (argument == "-w" || argument == "--write") options.dryRun = false;
        else if (argument == "--always-overwrite") options.alwaysOverwrite = true;
        else if (argument == "--any-device") options.appleOnly = false;
        else if (argument == "--silently-ignore-skipped") options.silentlyIgnoreSkipped = true;
        else if (argument == "--json") options.json = true;
        else if (argument == "--debug") options.debug = true;
        else if (argument == "-q" || argument == "--quiet") options.quiet = true;
        else if (argument == "--inspect") options.mode = CliOptions::Mode::inspect;
        else if (argument == "-h" || argument == "--help") options.mode = CliOptions::Mode::help;
        else if (argument == "--version") options.mode = CliOptions::Mode::version;
        else return usageError("unknown option " + argument + " (see --help)");
    }
    if (options.mode == CliOptions::Mode::help || options.mode == CliOptions::Mode::version) return options;
    if (options.paths.empty()) {
        return usageError(options.mode == CliOptions::Mode::inspect ? "--inspect needs at least one FILE (see --help)"
                                                                    : "no PATH given (see --help)");
    }
    return options;
}

}  // namespace corvane::cli
