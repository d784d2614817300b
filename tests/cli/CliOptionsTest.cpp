// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOptions.h"

#include <gtest/gtest.h>

#include <sstream>

namespace corvane::cli {
namespace {

// What a parse gave, in a few words, so that a table can say what it expects.
std::string summary(const Expected<CliOptions>& parsed) {
    if (!parsed) return "error: " + parsed.error().message;
    const CliOptions& o = parsed.value();
    std::string text = o.switches.dryRun ? "dry" : "write";
    for (const auto& [on, word] : {std::pair{o.check, " check"}, std::pair{o.quiet, " quiet"}, std::pair{o.json, " json"},
                                   std::pair{o.switches.alwaysOverwrite, " overwrite"}, std::pair{!o.switches.appleOnly, " any"},
                                   std::pair{!o.journal, " no-journal"}, std::pair{o.mode == CliOptions::Mode::undo, " undo"},
                                   std::pair{o.mode == CliOptions::Mode::listRuns, " list-runs"}})
        if (on) text += word;
    if (o.switches.sidecarName != SidecarName::base) text += " " + std::string(wordFor(o.switches.sidecarName));
    if (o.switches.coordinateForm != CoordinateForm::decimal) text += " " + std::string(wordFor(o.switches.coordinateForm));
    for (const std::string& path : o.paths) text += " [" + path + "]";
    return text;
}

TEST(CliOptions, ParsesAsGnuProgramsDo) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"x"}, "dry [x]"},
        {{"-wq", "x"}, "write quiet [x]"},
        {{"-qw", "x", "-n"}, "dry quiet [x]"},  // the last of -w and -n counts
        {{"--json", "--always-overwrite", "--any-device", "x", "y"}, "dry json overwrite any [x] [y]"},
        {{"--check", "-q", "x"}, "dry check quiet [x]"},
        {{"--", "-w", "--json"}, "dry [-w] [--json]"},
        {{"--sidecar-name=either", "--coordinate-form", "xmp", "x"}, "dry either xmp [x]"},
        {{"--sidecar-name", "Full", "x"}, "error: option --sidecar-name takes base, full or either, not 'Full' (see --help)"},
        {{"x", "--coordinate-form="}, "error: option --coordinate-form takes decimal or xmp, not '' (see --help)"},
        {{"-", "x"}, "dry [-] [x]"},
        {{"-wx", "x"}, "error: unknown option -x (see --help)"},
        {{"--writ", "x"}, "error: unknown option --writ (see --help)"},
        {{"--json=yes", "x"}, "error: option --json takes no argument (see --help)"},
        {{"--check", "--write", "x"}, "error: --check does not write: leave out --write (see --help)"},
        {{"--inspect", "--check", "x"}, "error: --check does not go with --inspect (see --help)"},
        {{"-q"}, "error: no PATH given (see --help)"},
        {{"--inspect"}, "error: --inspect needs at least one FILE (see --help)"},
        {{"-w", "--no-journal", "x"}, "write no-journal [x]"},
        // An undo writes unless a dry run is asked for; its one argument is the run.
        {{"--undo"}, "write undo"},
        {{"--undo", "-n", "20261207T140312.345Z"}, "dry undo [20261207T140312.345Z]"},
        {{"--undo", "a", "b"}, "error: --undo takes one RUN at most (see --help)"},
        {{"--undo", "--check"}, "error: --check does not go with --undo (see --help)"},
        // What shapes a run over images means nothing to an undo or a listing, and is not passed by.
        {{"--undo", "--always-overwrite"}, "error: --always-overwrite does not go with --undo (see --help)"},
        {{"--undo", "--any-device"}, "error: --any-device does not go with --undo (see --help)"},
        {{"--undo", "--sidecar-name=full"}, "error: --sidecar-name does not go with --undo (see --help)"},
        {{"--coordinate-form", "xmp", "--undo"}, "error: --coordinate-form does not go with --undo (see --help)"},
        {{"--list-runs", "--silently-ignore-skipped"}, "error: --silently-ignore-skipped does not go with --list-runs (see --help)"},
        {{"--undo", "--no-journal", "-q", "--json"}, "write quiet json no-journal undo"},
        {{"--list-runs"}, "dry list-runs"},
        {{"--list-runs", "x"}, "error: --list-runs takes no PATH (see --help)"},
        {{"--undo", "--inspect", "x"}, "error: --inspect, --undo, --list-runs and --forget-runs exclude each other (see --help)"},
    };
    for (const auto& [arguments, expected] : cases) EXPECT_EQ(summary(parseArguments(arguments)), expected) << arguments[0];
}

// The forms an option's argument may take, shown on a table of one option that takes one and one that
// does not; the argument lands among the paths here, marked, so that the table can see it.
TEST(CliOptions, AnOptionsArgumentInEveryForm) {
    const Option table[] = {
        {'s', "sidecar-name", "WHICH", "", [](CliOptions& o, std::string_view value) { o.paths.push_back("=" + std::string(value)); }},
        {'q', "quiet", "", "", [](CliOptions& o, std::string_view) { o.quiet = true; }},
    };
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--sidecar-name=full", "x"}, "dry [=full] [x]"},
        {{"--sidecar-name", "full", "x"}, "dry [=full] [x]"},
        {{"--sidecar-name=", "x"}, "dry [=] [x]"},
        {{"-sfull", "x"}, "dry [=full] [x]"},
        {{"-qs", "full", "x"}, "dry quiet [=full] [x]"},
        {{"-sq", "x"}, "dry [=q] [x]"},  // the rest of the word is the argument
        {{"x", "--sidecar-name"}, "error: option --sidecar-name needs WHICH (see --help)"},
        {{"x", "-qs"}, "error: option -s needs WHICH (see --help)"},
    };
    for (const auto& [arguments, expected] : cases) EXPECT_EQ(summary(parseArguments(arguments, table)), expected) << arguments[0];
}

TEST(CliOptions, HelpFitsEightyColumns) {
    std::istringstream lines(usageText());
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

}  // namespace
}  // namespace corvane::cli
