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

// One row as a JSON Lines object: "file" (as queued), "outcome" (the case name), "text" (the row's
// result text, in the row's mode) and the payload under its own label ("changes", "differences",
// "reason", "device", "error"). Invalid UTF-8 in paths or texts is replaced, never an error.
std::string resultJson(const ProcessingResultDetail& row);

// What --inspect prints for one image: "NAME: lat=... lon=... make=... model=... software=..." with
// "nil" for absent values, or the same as one JSON object.
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

}  // namespace corvane::cli
