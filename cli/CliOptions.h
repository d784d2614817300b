// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"
#include "engine/RunSwitches.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::cli {

// What the command line asks for.
struct CliOptions {
    enum class Mode { process, inspect, undo, listRuns, forgetRuns, help, version };
    Mode mode = Mode::process;
    bool modesConflict = false;  // two of --inspect, --undo, --list-runs and --forget-runs were given
    RunSwitches switches;
    bool dryRunAsked = false;  // --dry-run was given: an undo, which writes by default, only reports
    bool journal = true;       // a run that writes keeps an undo journal
    std::vector<std::string> processOptions;  // the options given that only a run over images heeds, as given
    bool check = false;  // a dry run whose exit status says whether any sidecar needs a change
    bool json = false;
    bool debug = false;
    bool quiet = false;
    std::vector<std::string> paths;
};

// The exit statuses of corvane-cli.
enum ExitStatus : int {
    exitSuccess = 0,
    exitFailure = 1,      // a file failed, or a named path is missing
    exitUsage = 2,        // the command line is wrong
    exitNeedsChange = 3,  // --check: a sidecar would be updated, or differs from its image
};

// One option of the command line: its names, the name of its argument when it takes one, its text in
// --help, what it sets, and the words its argument may be.
struct Option {
    char shortName;             // '\0' when there is none
    std::string_view longName;  // without the leading "--"
    std::string_view argument;  // e.g. "WHICH"; empty for an option without one
    std::string_view help;
    void (*apply)(CliOptions&, std::string_view argument);
    std::span<const std::string_view> choices = {};  // empty: any argument; else apply sees only these
    bool onlyForARun = false;  // shapes a run over images: refused beside --undo, --list-runs, --forget-runs
};

// corvane-cli's options, in the order --help lists them. Adding an option is adding a row to this table
// (and a paragraph to the manual page and a line to each completion script).
std::span<const Option> cliOptions();

// Parses the arguments after the program name, as GNU programs do: short options may be bundled
// ("-wq"), an option's argument may follow it ("--name=value", "--name value", "-xvalue", "-x value"),
// "--" ends the options, and "-" is a path. A usage error (an unknown option, a missing argument, no
// path, an argument that is not one of the option's choices, options that exclude each other) is an
// Error of domain "Usage", code exitUsage, whose message says what is wrong.
Expected<CliOptions> parseArguments(const std::vector<std::string>& arguments, std::span<const Option> options = cliOptions());

// The --help text, made from the table; no line is wider than 80 columns.
std::string usageText();

}  // namespace corvane::cli
