#pragma once

#include <optional>
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

// Parses the arguments after the program name. Absent with `error` set for a usage error (unknown
// option, no path).
std::optional<CliOptions> parseArguments(const std::vector<std::string>& arguments, std::string& error);

// The --help text.
std::string usageText();

}  // namespace corvane::cli
