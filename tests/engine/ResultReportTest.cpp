#include "engine/ResultReport.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using namespace std::chrono;

struct TextCase {
    const char* reason;
    ProcessingResult result;
    bool dryRun;
    std::string expected;
};

TEST(ResultText, EveryCaseReadsAsWritten) {
    const TextCase cases[] = {
        {"an update without changes", outcome::Updated{}, true, "Updated"},
        {"a dry-run update lists the changes as bullets",
         outcome::Updated{{"[DRY RUN] would update: a", "[DRY RUN] would update: b"}}, true,
         "[Dry Run] Would Update:\n• [DRY RUN] would update: a\n• [DRY RUN] would update: b"},
        {"the same update once Dry Run is off", outcome::Updated{{"a", "b"}}, false, "Updated:\n• a\n• b"},
        {"within tolerance without texts", outcome::WithinTolerance{}, false, "Within tolerance — not updated"},
        {"within tolerance joins its texts on one line", outcome::WithinTolerance{{"x → y", "z → w"}}, false,
         "Within tolerance — not updated (x → y; z → w)"},
        {"file not found", outcome::FileNotFound{"gone"}, false, "File not found: gone"},
        {"unsupported", outcome::UnsupportedFile{"Unsupported extension: jpg"}, false,
         "Unsupported: Unsupported extension: jpg"},
        {"skipped missing", outcome::SkippedMissing{"No XMP sidecar file"}, false,
         "Skipped (missing): No XMP sidecar file"},
        {"skipped with make and model", outcome::SkippedNonApple{DeviceData{"Canon", "EOS R5", "fw 1"}, "Non-Apple source"},
         false, "Skipped (non-Apple): Canon EOS R5 - Non-Apple source"},
        {"skipped with only a make", outcome::SkippedNonApple{DeviceData{"Canon", std::nullopt, std::nullopt}, "R"}, false,
         "Skipped (non-Apple): Canon - R"},
        {"skipped with only software: the software is never shown",
         outcome::SkippedNonApple{DeviceData{std::nullopt, std::nullopt, "Lightroom"}, "R"}, false,
         "Skipped (non-Apple): R"},
        {"skipped without device", outcome::SkippedNonApple{std::nullopt, "R"}, false, "Skipped (non-Apple): R"},
        {"a present empty make with no model gives an empty device text",
         outcome::SkippedNonApple{DeviceData{"", std::nullopt, std::nullopt}, "R"}, false, "Skipped (non-Apple): R"},
        {"a present empty make still counts beside a model",
         outcome::SkippedNonApple{DeviceData{"", "X100", std::nullopt}, "R"}, false, "Skipped (non-Apple):  X100 - R"},
        {"differing without rows", outcome::SkippedDifferentGPS{}, false, "Skipped (GPS differs)"},
        {"differing rows, one bullet line each",
         outcome::SkippedDifferentGPS{{{"Latitude", "1.0", "37.77490000N"}, {"LongitudeRef", "E", "W"}}}, true,
         "Skipped (GPS differs):\n• Latitude: 1.0 → 37.77490000N\n• LongitudeRef: E → W"},
        {"failed", outcome::Failed{"No GPS available"}, false, "Failed: No GPS available"},
        {"already correct", outcome::AlreadyCorrect{}, true, "Already correct"},
    };
    for (const auto& c : cases) EXPECT_EQ(resultText(c.result, c.dryRun), c.expected) << c.reason;
}

std::vector<ProcessingResultDetail> rowsOfEveryCase() {
    return {
        ProcessingResultDetail::make("/p/a.HEIC", outcome::Updated{{"c"}}),
        ProcessingResultDetail::make("/p/b.HEIC", outcome::WithinTolerance{{"t"}}),
        ProcessingResultDetail::make("/p/c.HEIC", outcome::FileNotFound{"r"}),
        ProcessingResultDetail::make("/p/d.jpg", outcome::UnsupportedFile{"r"}),
        ProcessingResultDetail::make("/p/e.HEIC", outcome::SkippedMissing{"r"}),
        ProcessingResultDetail::make("/p/f.DNG", outcome::SkippedNonApple{std::nullopt, "r"}),
        ProcessingResultDetail::make("/p/g.HEIC", outcome::SkippedDifferentGPS{{{"Latitude", "1", "2N"}}}),
        ProcessingResultDetail::make("/p/h.HEIC", outcome::Failed{"e"}),
        ProcessingResultDetail::make("/p/i.HEIC", outcome::AlreadyCorrect{}),
    };
}

std::vector<std::string> names(const std::vector<const ProcessingResultDetail*>& rows) {
    std::vector<std::string> out;
    for (const auto* row : rows) out.push_back(row->fileURL.filename().string());
    return out;
}

TEST(VisibleResults, ShowsEveryRowWhileSilentSkipIsOff) {
    const auto rows = rowsOfEveryCase();
    EXPECT_EQ(visibleResults(rows, false).size(), rows.size());
}

TEST(VisibleResults, SilentSkipHidesOnlyTheQuietOutcomesAndKeepsOrder) {
    // skippedDifferentGPS stays although its text begins with "Skipped".
    const auto rows = rowsOfEveryCase();
    EXPECT_EQ(names(visibleResults(rows, true)),
              (std::vector<std::string>{"a.HEIC", "c.HEIC", "d.jpg", "g.HEIC", "h.HEIC"}));
}

TEST(RowText, IsTheFileNameThenTheResultText) {
    EXPECT_EQ(rowText(ProcessingResultDetail::make("/photos/2024/IMG_1.HEIC", outcome::Updated{{"x"}}), true),
              "IMG_1.HEIC: [Dry Run] Would Update:\n• x");
}

const system_clock::time_point lastSecondOfJanuary = sys_days{2025y / January / 31} + 23h + 59min + 59s + 900ms;

TEST(ReportText, HeaderCarriesTheDateAndTheFourSwitches) {
    const std::vector<ProcessingResultDetail> rows = {ProcessingResultDetail::make("/x/a.HEIC", outcome::AlreadyCorrect{})};
    EXPECT_EQ(reportText(rows, ReportSwitches{false, true, false, false}, lastSecondOfJanuary),
              "Results — 2025-01-31 23:59:59 +0000 — Settings: DryRun=false ForceOverwrite=true AppleOnly=false "
              "SilentSkip=false\na.HEIC: Already correct");
}

TEST(ReportText, BlocksFollowInListOrderWithoutATrailingLineBreak) {
    const std::vector<ProcessingResultDetail> rows = {
        ProcessingResultDetail::make("/x/a.HEIC", outcome::Updated{{"one", "two"}}),
        ProcessingResultDetail::make("/x/b.HEIC", outcome::SkippedMissing{"No XMP sidecar file"}),
        ProcessingResultDetail::make("/x/c.HEIC", outcome::SkippedDifferentGPS{{{"Latitude", "1", "2N"}}}),
    };
    EXPECT_EQ(reportText(rows, ReportSwitches{}, lastSecondOfJanuary),
              "Results — 2025-01-31 23:59:59 +0000 — Settings: DryRun=true ForceOverwrite=false AppleOnly=true "
              "SilentSkip=false\n"
              "a.HEIC: [Dry Run] Would Update:\n• one\n• two\n"
              "b.HEIC: Skipped (missing): No XMP sidecar file\n"
              "c.HEIC: Skipped (GPS differs):\n• Latitude: 1 → 2N");
}

TEST(ReportText, SilentSkipLeavesOnlyTheHeaderWhenEveryRowIsQuiet) {
    const std::vector<ProcessingResultDetail> rows = {
        ProcessingResultDetail::make("/x/a.HEIC", outcome::AlreadyCorrect{}),
        ProcessingResultDetail::make("/x/b.HEIC", outcome::WithinTolerance{{"t"}}),
    };
    EXPECT_EQ(reportText(rows, ReportSwitches{true, false, true, true}, lastSecondOfJanuary),
              "Results — 2025-01-31 23:59:59 +0000 — Settings: DryRun=true ForceOverwrite=false AppleOnly=true "
              "SilentSkip=true");
}

}  // namespace
}  // namespace corvane
