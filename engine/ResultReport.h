// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/ResultModel.h"
#include "engine/RunSwitches.h"

#include <chrono>
#include <string>
#include <vector>

namespace corvane {

// How outcomes read for a person: the text of each row, which rows are shown, and the plain-text report
// that "Copy All Results" and corvane-cli produce. Plain functions of the rows and the switches.

// One outcome's text. For `updated` the wording follows the Dry Run mode given, which for a row is the
// mode its file ran in ("[Dry Run] Would Update:" or "Updated:"), never the switch as it is now.
// The texts of `updated` and `skippedDifferentGPS` may span several lines ("\n").
std::string resultText(const ProcessingResult& result, bool dryRun);

// The rows in order, without the silently skippable ones while silentlyIgnoreSkipped is on.
std::vector<const ProcessingResultDetail*> visibleResults(const std::vector<ProcessingResultDetail>& results,
                                                          bool silentlyIgnoreSkipped);

// One row as copied: the file name, ": " and its result text in the row's own mode.
std::string rowText(const ProcessingResultDetail& row);

// The report's first line: "Results — DATE — Settings: DryRun=... ForceOverwrite=... AppleOnly=...
// SilentSkip=..." (the date in UTC, "2025-01-31 23:59:59 +0000"), followed by " SidecarName=full" or
// " CoordinateForm=xmp" for a choice that is not the default.
std::string reportHeader(const RunSwitches& switches, std::chrono::system_clock::time_point now);

// The header (the switches as they are now), then one block per visible row (rowText, each in its own
// mode); lines joined by "\n", no line break after the last.
std::string reportText(const std::vector<ProcessingResultDetail>& results, const RunSwitches& switches,
                       std::chrono::system_clock::time_point now);

}  // namespace corvane
