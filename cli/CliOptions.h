// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"

#include <string>
#include <vector>

namespace corvane::cli {

// What the command line asks for.
struct CliOptions {
    enum class Mode { process, inspect, help, version };
    Mode mode = Mode::process;
    bool dryRun = true;
    bool alwaysOverwrite = false;
    bool appleOnly = true;
    bool silentlyIgnoreSkipped = false;
    bool json = false;
    bool debug = false;
    bool quiet = false;
    std::vector<std::string> paths;
};

// Parses the arguments after the program name. A usage error (unknown option, no path) is an Error of
// domain "Usage" whose message says what is wrong.
Expected<CliOptions> parseArguments(const std::vector<std::string>& arguments);

// The --help text.
std::string usageText();

}  // namespace corvane::cli
