// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOptions.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>

namespace corvane::cli {
namespace {

// Sets the mode of an option that names one; a second, different one is a usage error.
void setMode(CliOptions& options, CliOptions::Mode mode) {
    if (options.mode != CliOptions::Mode::process && options.mode != mode) options.modesConflict = true;
    options.mode = mode;
}

constexpr Option table[] = {
    {'n', "dry-run", "", "report what would change and write nothing (the default)",
     [](CliOptions& o, std::string_view) { o.switches.dryRun = o.dryRunAsked = true; }},
    {'w', "write", "", "write the sidecars that need it (turns dry run off)",
     [](CliOptions& o, std::string_view) { o.switches.dryRun = false; }},
    {'\0', "check", "", "a dry run for scripts: exit status 3 when a sidecar would be updated or differs from its image",
     [](CliOptions& o, std::string_view) { o.check = true; }},
    {'\0', "always-overwrite", "", "also bring sidecars that differ beyond the tolerance to the image's position",
     [](CliOptions& o, std::string_view) { o.switches.alwaysOverwrite = true; }, {}, true},
    {'\0', "any-device", "", "process images from every camera (turns the Apple-only filter off)",
     [](CliOptions& o, std::string_view) { o.switches.appleOnly = false; }, {}, true},
    {'\0', "silently-ignore-skipped", "",
     "a missing image position counts as skipped; skipped outcomes are left out of the report",
     [](CliOptions& o, std::string_view) { o.switches.silentlyIgnoreSkipped = true; }, {}, true},
    {'\0', "sidecar-name", "NAME",
     "which sidecar an image has: base IMG_0001.xmp (the default), full IMG_0001.HEIC.xmp (darktable, digiKam), "
     "or either: base where it exists, else full",
     [](CliOptions& o, std::string_view word) { o.switches.sidecarName = *sidecarNameFromWord(word); },
     sidecarNameWords, true},
    {'\0', "coordinate-form", "FORM",
     "how coordinates are written: decimal 37.77490000N (the default) or xmp 37,46.494000N, the XMP standard's "
     "form, which Exiv2-based programs read",
     [](CliOptions& o, std::string_view word) { o.switches.coordinateForm = *coordinateFormFromWord(word); },
     coordinateFormWords, true},
    {'\0', "json", "", "one JSON object per file on standard output (JSON Lines) instead of the report",
     [](CliOptions& o, std::string_view) { o.json = true; }},
    {'\0', "debug", "", "the engine's diagnostic lines (\"[DEBUG] ...\") on standard error",
     [](CliOptions& o, std::string_view) { o.debug = true; }},
    {'q', "quiet", "", "no progress line", [](CliOptions& o, std::string_view) { o.quiet = true; }},
    {'\0', "no-journal", "", "write without keeping an undo journal: the run cannot be undone",
     [](CliOptions& o, std::string_view) { o.journal = false; }},
    {'\0', "undo", "", "put back the text each sidecar had before the last run that wrote (or the run RUN), "
     "where it still holds what that run wrote; writes unless --dry-run is given, and can itself be undone",
     [](CliOptions& o, std::string_view) { setMode(o, CliOptions::Mode::undo); }},
    {'\0', "list-runs", "", "list the runs that can be undone: when, what they were given, how many sidecars",
     [](CliOptions& o, std::string_view) { setMode(o, CliOptions::Mode::listRuns); }},
    {'\0', "forget-runs", "", "delete the undo journals of all runs (none can be undone afterwards)",
     [](CliOptions& o, std::string_view) { setMode(o, CliOptions::Mode::forgetRuns); }},
    {'\0', "inspect", "", "print the position and device that each FILE holds, and change nothing",
     [](CliOptions& o, std::string_view) { setMode(o, CliOptions::Mode::inspect); }},
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

// "base, full or either".
std::string choiceList(std::span<const std::string_view> choices) {
    std::string list;
    for (size_t index = 0; index < choices.size(); ++index)
        list += (index == 0 ? "" : index + 1 == choices.size() ? " or " : ", ") + std::string(choices[index]);
    return list;
}

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

// The words of the command line, read one by one; an option's argument may take the next one.
class Words {
public:
    explicit Words(const std::vector<std::string>& words) : words_(words) {}
    bool done() const { return next_ == words_.size(); }
    const std::string& next() { return words_[next_++]; }

private:
    const std::vector<std::string>& words_;
    size_t next_ = 0;
};

// Applies an option, and notes one that only a run over images heeds.
void apply(const Option& option, CliOptions& parsed, std::string_view argument) {
    option.apply(parsed, argument);
    if (option.onlyForARun) parsed.processOptions.push_back("--" + std::string(option.longName));
}

// Applies an option that takes an argument: `attached` (after "=", or the rest of a word of short
// options), or else the next word.
Status applyWithArgument(const Option& option, std::optional<std::string_view> attached, Words& words,
                         const std::string& name, CliOptions& parsed) {
    if (!attached && words.done()) return usageError("option " + name + " needs " + std::string(option.argument));
    const std::string_view argument = attached ? *attached : std::string_view(words.next());
    if (!option.choices.empty() && std::ranges::find(option.choices, argument) == option.choices.end())
        return usageError("option " + name + " takes " + choiceList(option.choices) + ", not '" + std::string(argument) + "'");
    apply(option, parsed, argument);
    return {};
}

// A word that begins with "--": "--name" or "--name=value".
Status applyLongOption(std::string_view word, Words& words, std::span<const Option> options, CliOptions& parsed) {
    const size_t equals = word.find('=');
    const std::string name(word.substr(0, equals));
    const Option* option = longOption(options, std::string_view(name).substr(2));
    if (!option) return usageError("unknown option " + name);
    std::optional<std::string_view> attached;
    if (equals != std::string_view::npos) attached = word.substr(equals + 1);
    if (!option->argument.empty()) return applyWithArgument(*option, attached, words, name, parsed);
    if (attached) return usageError("option " + name + " takes no argument");
    apply(*option, parsed, {});
    return {};
}

// A word of one or more short options: "-w", "-wq"; one that takes an argument ends the word.
Status applyShortOptions(std::string_view word, Words& words, std::span<const Option> options, CliOptions& parsed) {
    for (size_t at = 1; at < word.size(); ++at) {
        const std::string name = std::string("-") + word[at];
        const Option* option = shortOption(options, word[at]);
        if (!option) return usageError("unknown option " + name);
        if (!option->argument.empty()) {
            std::optional<std::string_view> rest;
            if (at + 1 < word.size()) rest = word.substr(at + 1);
            return applyWithArgument(*option, rest, words, name, parsed);
        }
        apply(*option, parsed, {});
    }
    return {};
}

}  // namespace

std::span<const Option> cliOptions() { return table; }

std::string usageText() {
    std::string text =
        "usage: corvane-cli [options] PATH...\n"
        "       corvane-cli --undo [--dry-run] [--json] [RUN]\n"
        "       corvane-cli --list-runs | --forget-runs\n"
        "       corvane-cli --inspect [--json] FILE...\n\n" +
        wrapped("Repairs the GPS position in the XMP sidecars of HEIC, HEIF and DNG photos: one outcome per photo "
                "found in the PATHs (folders are searched recursively). Nothing is written without --write. Every "
                "run that writes keeps a journal of what it replaced, so that --undo can put it back.",
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
                   "failed or something else went wrong (a PATH that does not exist, ...); 2 for a usage error; 3 "
                   "with --check when a sidecar would be updated or differs; 128 + N when signal N stopped the run "
                   "after the file in progress. The JSON fields are described in corvane-cli(1).",
                   screenWidth, 0, 0);
}

Expected<CliOptions> parseArguments(const std::vector<std::string>& arguments, std::span<const Option> options) {
    CliOptions parsed;
    Words words(arguments);
    while (!words.done()) {
        const std::string& word = words.next();
        if (word == "--") {
            while (!words.done()) parsed.paths.push_back(words.next());
        } else if (word.starts_with("--")) {
            if (Status status = applyLongOption(word, words, options, parsed); !status) return status.error();
        } else if (word.size() >= 2 && word[0] == '-') {
            if (Status status = applyShortOptions(word, words, options, parsed); !status) return status.error();
        } else {
            parsed.paths.push_back(word);
        }
    }
    using Mode = CliOptions::Mode;
    if (parsed.mode == Mode::help || parsed.mode == Mode::version) return parsed;
    if (parsed.modesConflict) return usageError("--inspect, --undo, --list-runs and --forget-runs exclude each other");
    if (parsed.check && !parsed.switches.dryRun) return usageError("--check does not write: leave out --write");
    const auto modeOption = [](Mode mode) {
        return std::string(mode == Mode::inspect ? "--inspect" : mode == Mode::undo ? "--undo" : mode == Mode::listRuns ? "--list-runs" : "--forget-runs");
    };
    if (parsed.check && parsed.mode != Mode::process) return usageError("--check does not go with " + modeOption(parsed.mode));
    // An undo puts back old texts and a listing writes nothing: the options that shape how images are
    // matched and sidecars written would be passed by in silence.
    if (parsed.mode != Mode::process && parsed.mode != Mode::inspect && !parsed.processOptions.empty())
        return usageError(parsed.processOptions.front() + " does not go with " + modeOption(parsed.mode));
    if (parsed.mode == Mode::undo) {
        // An undo is asked for to write: it writes unless a dry run is asked for.
        parsed.switches.dryRun = parsed.dryRunAsked;
        if (parsed.paths.size() > 1) return usageError("--undo takes one RUN at most");
        return parsed;
    }
    if (parsed.mode == Mode::listRuns || parsed.mode == Mode::forgetRuns) {
        if (!parsed.paths.empty()) return usageError(modeOption(parsed.mode) + " takes no PATH");
        return parsed;
    }
    if (parsed.paths.empty()) {
        return usageError(parsed.mode == CliOptions::Mode::inspect ? "--inspect needs at least one FILE" : "no PATH given");
    }
    return parsed;
}

}  // namespace corvane::cli
