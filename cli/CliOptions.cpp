// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOptions.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>

namespace corvane::cli {
namespace {

constexpr Option table[] = {
    {'n', "dry-run", "", "report what would change and write nothing (the default)",
     [](CliOptions& o, std::string_view) { o.dryRun = true; }},
    {'w', "write", "", "write the sidecars that need it (turns dry run off)",
     [](CliOptions& o, std::string_view) { o.dryRun = false; }},
    {'\0', "check", "", "a dry run for scripts: exit status 3 when a sidecar would be updated or differs from its image",
     [](CliOptions& o, std::string_view) { o.check = true; }},
    {'\0', "always-overwrite", "", "also bring sidecars that differ beyond the tolerance to the image's position",
     [](CliOptions& o, std::string_view) { o.alwaysOverwrite = true; }},
    {'\0', "any-device", "", "process images from every camera (turns the Apple-only filter off)",
     [](CliOptions& o, std::string_view) { o.appleOnly = false; }},
    {'\0', "silently-ignore-skipped", "",
     "a missing image position counts as skipped; skipped outcomes are left out of the report",
     [](CliOptions& o, std::string_view) { o.silentlyIgnoreSkipped = true; }},
    {'\0', "json", "", "one JSON object per file on standard output (JSON Lines) instead of the report",
     [](CliOptions& o, std::string_view) { o.json = true; }},
    {'\0', "debug", "", "the engine's diagnostic lines (\"[DEBUG] ...\") on standard error",
     [](CliOptions& o, std::string_view) { o.debug = true; }},
    {'q', "quiet", "", "no progress line", [](CliOptions& o, std::string_view) { o.quiet = true; }},
    {'\0', "inspect", "", "print the position and device that each FILE holds, and change nothing",
     [](CliOptions& o, std::string_view) { o.mode = CliOptions::Mode::inspect; }},
    {'h', "help", "", "print this text and exit", [](CliOptions& o, std::string_view) { o.mode = CliOptions::Mode::help; }},
    {'\0', "version", "", "print the program's version and exit",
     [](CliOptions& o, std::string_view) { o.mode = CliOptions::Mode::version; }},
};

constexpr size_t screenWidth = 80;
constexpr size_t helpColumn = 28;

const Option* longOption(std::span<const Option> options, std::string_view name) {
    const auto found = std::ranges::find(options, name, &Option::longName);
    return found == options.end() ? nullptr : &*found;
}

const Option* shortOption(std::span<const Option> options, char name) {
    const auto found = std::ranges::find(options, name, &Option::shortName);
    return name == '\0' || found == options.end() ? nullptr : &*found;
}

Error usageError(std::string message) { return Error{"Usage", exitUsage, std::move(message) + " (see --help)"}; }

// The words of `text` in lines of at most `width` columns, every line after the first starting with
// `indent` blanks (a word longer than a line stands alone on its line).
std::string wrapped(std::string_view text, size_t width, size_t indent, size_t firstColumn) {
    std::string out;
    size_t column = firstColumn;
    bool lineHasWord = false;
    while (!text.empty()) {
        const size_t end = std::min(text.find(' '), text.size());
        const std::string_view word = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (lineHasWord && column + 1 + word.size() > width) {
            out += '\n' + std::string(indent, ' ');
            column = indent;
            lineHasWord = false;
        }
        if (lineHasWord) out += ' ', ++column;
        out += word;
        column += word.size();
        lineHasWord = true;
    }
    return out + '\n';
}

}  // namespace

std::span<const Option> cliOptions() { return table; }

std::string usageText() {
    std::string text =
        "usage: corvane-cli [options] PATH...\n"
        "       corvane-cli --inspect [--json] FILE...\n\n" +
        wrapped("Repairs the GPS position in the XMP sidecars of HEIC, HEIF and DNG photos: one outcome per photo "
                "found in the PATHs (folders are searched recursively). Nothing is written without --write.",
                screenWidth, 0, 0) +
        "\nOptions:\n";
    for (const Option& option : table) {
        std::string names = option.shortName ? std::string("  -") + option.shortName + ", --" : "      --";
        names += option.longName;
        if (!option.argument.empty()) names += "=" + std::string(option.argument);
        // A name too long for its column puts its text on the next line.
        names += names.size() + 1 < helpColumn ? std::string(helpColumn - names.size(), ' ') : '\n' + std::string(helpColumn, ' ');
        text += names + wrapped(option.help, screenWidth, helpColumn, helpColumn);
    }
    return text + "\n" +
           wrapped("Exit status: 0 when no file failed (with --check: and no sidecar needs a change); 1 when a file "
                   "failed or a PATH does not exist; 2 for a usage error; 3 with --check when a sidecar would be "
                   "updated or differs. The JSON fields are described in corvane-cli(1).",
                   screenWidth, 0, 0);
}

Expected<CliOptions> parseArguments(const std::vector<std::string>& arguments, std::span<const Option> options) {
    CliOptions parsed;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        // The argument of the option, from the rest of this word or else from the next one.
        const auto argumentOf = [&](std::optional<std::string_view> attached) -> std::optional<std::string> {
            if (attached) return std::string(*attached);
            if (index + 1 < arguments.size()) return arguments[++index];
            return std::nullopt;
        };
        if (argument == "--") {
            parsed.paths.insert(parsed.paths.end(), arguments.begin() + static_cast<ptrdiff_t>(index) + 1, arguments.end());
            break;
        }
        if (argument.starts_with("--")) {
            const size_t equals = argument.find('=');
            const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const Option* option = longOption(options, name);
            if (!option) return usageError("unknown option --" + name);
            std::optional<std::string_view> attached;
            if (equals != std::string::npos) attached = std::string_view(argument).substr(equals + 1);
            if (option->argument.empty()) {
                if (attached) return usageError("option --" + name + " takes no argument");
                option->apply(parsed, {});
                continue;
            }
            const auto value = argumentOf(attached);
            if (!value) return usageError("option --" + name + " needs " + std::string(option->argument));
            option->apply(parsed, *value);
            continue;
        }
        if (argument.size() < 2 || argument[0] != '-') {
            parsed.paths.push_back(argument);
            continue;
        }
        // One or more short options in one word: "-w", "-wq"; one that takes an argument ends the word.
        for (size_t at = 1; at < argument.size(); ++at) {
            const Option* option = shortOption(options, argument[at]);
            if (!option) return usageError(std::string("unknown option -") + argument[at]);
            if (option->argument.empty()) {
                option->apply(parsed, {});
                continue;
            }
            std::optional<std::string_view> attached;
            if (at + 1 < argument.size()) attached = std::string_view(argument).substr(at + 1);
            const auto value = argumentOf(attached);
            if (!value) return usageError(std::string("option -") + argument[at] + " needs " + std::string(option->argument));
            option->apply(parsed, *value);
            break;
        }
    }
    if (parsed.mode == CliOptions::Mode::help || parsed.mode == CliOptions::Mode::version) return parsed;
    if (parsed.check && !parsed.dryRun) return usageError("--check does not write: leave out --write");
    if (parsed.check && parsed.mode == CliOptions::Mode::inspect) return usageError("--check does not go with --inspect");
    if (parsed.paths.empty()) {
        return usageError(parsed.mode == CliOptions::Mode::inspect ? "--inspect needs at least one FILE" : "no PATH given");
    }
    return parsed;
}

}  // namespace corvane::cli
