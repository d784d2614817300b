// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/ImageMetadata.h"
#include "engine/ResultModel.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvane::cli {

// What corvane-cli writes on standard output. Every field and value of the JSON objects is described in
// the manual page, corvane-cli(1), which scripts rely on. Each row is worded in the mode it ran in.

// One row of the text report: the file as the user gave it (relative to the argument it came from, or
// absolute), ": " and the outcome's text, which continues on further lines for `updated` and
// `skippedDifferentGPS`. Control characters in the name and in texts from files are escaped
// (escapeForTerminal), so a row cannot be forged by a file name and nothing reaches a terminal raw.
std::string reportRow(const ProcessingResultDetail& row);

// One row as a JSON Lines object: "file" (exactly as given, see jsonStringLiteral), "file_bytes" (the
// name in base64, only when it is not UTF-8), "outcome" (the case name), "dryRun" (the row's own mode),
// "text" (the row's result text) and the payload under its own label ("changes", "differences",
// "reason", "device", "error"). Each difference is an object: "field", "currentValue", "newValue" and
// the row's "text" of it.
std::string resultJson(const ProcessingResultDetail& row);

// What --inspect prints for one image: "FILE: lat=... lon=... make=... model=... software=..." with
// "nil" for absent values (escaped as a report row is), or the same as one JSON object.
std::string inspectionLine(const std::string& file, const std::optional<ImagePosition>& position,
                           const std::optional<DeviceData>& device);
std::string inspectionJson(const std::string& file, const std::optional<ImagePosition>& position,
                           const std::optional<DeviceData>& device);

// How many files ended in each outcome.
class OutcomeTally {
public:
    void add(const ProcessingResult& result);
    size_t total() const { return total_; }
    size_t count(size_t caseIndex) const { return counts_[caseIndex]; }
    // The case's name, once a file has ended in it.
    std::string_view name(size_t caseIndex) const { return names_[caseIndex]; }

    bool anyFailed() const;
    // A sidecar that a write would change (updated) or that differs from its image beyond the tolerance.
    bool anyNeedsChange() const;

private:
    std::array<size_t, std::variant_size_v<ProcessingResult>> counts_{};
    std::array<std::string_view, std::variant_size_v<ProcessingResult>> names_{};
    size_t total_ = 0;
};

// The closing line on standard error: how many files ended in each outcome, in the order of the
// outcomes, for example "corvane-cli: 5 files: 2 updated, 1 alreadyCorrect, 2 failed (dry run, nothing
// written)". Counts every row, also those a silent skip leaves out of the report. A run stopped before
// its first file says "0 files", not that none was found.
std::string summaryLine(const OutcomeTally& tally, bool dryRun, bool stopped = false);

// The exit status of a run (see ExitStatus): a failure, or another problem (a named path that is
// missing, a folder that cannot be listed or synced), outweighs a sidecar that needs a change, which
// counts only with --check.
int runExitStatus(const OutcomeTally& tally, bool otherProblem, bool check);

}  // namespace corvane::cli
