// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ResultReport.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using namespace std::chrono;

TEST(ResultText, EveryOutcomeReadsAsWritten) {
    const std::tuple<ProcessingResult, bool, std::string> cases[] = {
        {outcome::Updated{}, true, "Updated"}, {outcome::Updated{{"a", "b"}}, true, "[Dry Run] Would Update:\n• a\n• b"},
        {outcome::Updated{{"a", "b"}}, false, "Updated:\n• a\n• b"},
        {outcome::WithinTolerance{}, false, "Within tolerance — not updated"},
        // Coordinates differ in "format", references plainly.
        {outcome::WithinTolerance{{{"Latitude", "37.7749N", "37.77490000N"}, {"LongitudeRef", "nil", "W"}}}, false,
         "Within tolerance — not updated (Latitude format: 37.7749N → 37.77490000N; LongitudeRef: nil → W)"},
        {outcome::FileNotFound{"gone"}, false, "File not found: gone"}, {outcome::UnsupportedFile{"r"}, false, "Unsupported: r"},
        {outcome::SkippedMissing{"No XMP sidecar file"}, false, "Skipped (missing): No XMP sidecar file"},
        {outcome::SkippedNonApple{DeviceData{"Canon", "EOS R5", "fw 1"}, "R"}, false, "Skipped (non-Apple): Canon EOS R5 - R"},
        // The software is never shown; a present empty make still counts beside a model.
        {outcome::SkippedNonApple{DeviceData{std::nullopt, std::nullopt, "Lightroom"}, "R"}, false, "Skipped (non-Apple): R"},
        {outcome::SkippedNonApple{DeviceData{"", "X100", std::nullopt}, "R"}, false, "Skipped (non-Apple):  X100 - R"},
        {outcome::SkippedNonApple{std::nullopt, "R"}, false, "Skipped (non-Apple): R"},
        {outcome::SkippedDifferentGPS{}, false, "Skipped (GPS differs)"},
        {outcome::SkippedDifferentGPS{{{"Latitude", "1.0", "37.77490000N"}, {"LongitudeRef", "E", "W"}}}, true,
         "Skipped (GPS differs):\n• Latitude: 1.0 → 37.77490000N\n• LongitudeRef: E → W"},
        {outcome::Failed{"No GPS available"}, false, "Failed: No GPS available"}, {outcome::AlreadyCorrect{}, true, "Already correct"},
    };
    for (const auto& [result, dryRun, text] : cases) EXPECT_EQ(resultText(result, dryRun), text);
}

// The header carries the switches as they are; each row keeps the wording of the mode its file ran in
// (Dry Run was turned off during the run after a.HEIC).
TEST(ReportText, HeaderWithDateAndSwitchesThenTheVisibleRowsInOrderEachInItsMode) {
    const system_clock::time_point lastSecondOfJanuary = sys_days{2025y / January / 31} + 23h + 59min + 59s + 900ms;
    const std::vector<ProcessingResultDetail> rows = {
        ProcessingResultDetail::make("/x/a.HEIC", {outcome::Updated{{"one", "two"}}, true}),
        ProcessingResultDetail::make("/x/b.HEIC", {outcome::AlreadyCorrect{}, true}),
        ProcessingResultDetail::make("/x/2024/c.HEIC", {outcome::SkippedDifferentGPS{{{"Latitude", "1", "2N"}}}, false}),
        ProcessingResultDetail::make("/x/d.HEIC", {outcome::Updated{{"three"}}, false}),
    };
    const std::string blocks = "a.HEIC: [Dry Run] Would Update:\n• one\n• two\nb.HEIC: Already correct\n"
                               "c.HEIC: Skipped (GPS differs):\n• Latitude: 1 → 2N\nd.HEIC: Updated:\n• three";
    EXPECT_EQ(reportText(rows, RunSwitches{}, lastSecondOfJanuary),
              "Results — 2025-01-31 23:59:59 +0000 — Settings: DryRun=true ForceOverwrite=false AppleOnly=true SilentSkip=false\n" + blocks);
    EXPECT_EQ(reportText(rows, RunSwitches{false, true, false, true}, lastSecondOfJanuary),
              "Results — 2025-01-31 23:59:59 +0000 — Settings: DryRun=false ForceOverwrite=true AppleOnly=false SilentSkip=true\n" +
                  std::string(blocks).erase(blocks.find("b.HEIC"), blocks.find("c.HEIC") - blocks.find("b.HEIC")));
}

}  // namespace
}  // namespace corvane
