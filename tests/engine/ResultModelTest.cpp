// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ResultModel.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using namespace std::string_literals;

TEST(ResultModelEquality, TextsCompareByCanonicalEquivalenceOnly) {
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"\xC3\xA9", "e\xCC\x81", true},                   // precomposed and decomposed é
        {"q\xCC\x87\xCC\xA3", "q\xCC\xA3\xCC\x87", true},  // combining marks in either canonical order
        {"Apple", "apple", false}, {"Apple", "Apple ", false},
        {"\xEF\xAC\x81", "fi", false},                     // the ligature is only a compatibility form
        {"a\xFF", "a\xFF", true}, {"a\xFF", "a\xFE", false}};
    for (const auto& [a, b, equal] : cases) {
        EXPECT_EQ((DeviceData{a, {}, {}}) == (DeviceData{b, {}, {}}), equal) << a;
        EXPECT_EQ(ProcessingResult(outcome::Updated{{"x", a}}) == ProcessingResult(outcome::Updated{{"x", b}}), equal);
    }
    // An absent field differs from an empty text; an absent device from one with nothing known.
    EXPECT_NE((DeviceData{std::nullopt, ""s, std::nullopt}), DeviceData{});
    EXPECT_NE(ProcessingResult(outcome::SkippedNonApple{std::nullopt, "r"}), ProcessingResult(outcome::SkippedNonApple{DeviceData{}, "r"}));
    EXPECT_NE(ProcessingResult(outcome::Failed{"x"}), ProcessingResult(outcome::SkippedMissing{"x"}));
    EXPECT_NE(ProcessingResult(outcome::Updated{}), ProcessingResult(outcome::AlreadyCorrect{}));
}

TEST(ProcessingResultCases, OrderNamesAndSilentSkipping) {
    // skippedDifferentGPS begins with "skipped", yet is never hidden.
    const std::tuple<ProcessingResult, std::string_view, bool> cases[] = {
        {outcome::Updated{}, "updated", false}, {outcome::WithinTolerance{}, "withinTolerance", true},
        {outcome::FileNotFound{}, "fileNotFound", false}, {outcome::UnsupportedFile{}, "unsupportedFile", false},
        {outcome::SkippedMissing{}, "skippedMissing", true}, {outcome::SkippedNonApple{}, "skippedNonApple", true},
        {outcome::SkippedDifferentGPS{}, "skippedDifferentGPS", false}, {outcome::Failed{}, "failed", false},
        {outcome::AlreadyCorrect{}, "alreadyCorrect", true}};
    for (size_t index = 0; index < std::size(cases); ++index) {
        const auto& [result, name, quiet] = cases[index];
        EXPECT_EQ(result.index(), index);
        EXPECT_EQ(caseName(result), name);
        EXPECT_EQ(isSilentlySkippable(result), quiet) << name;
    }
}

TEST(ProcessingResultDetail, EveryRowHasAFreshVersion4Id) {
    const auto row = ProcessingResultDetail::make("/p/a.HEIC", {outcome::AlreadyCorrect{}, true});
    EXPECT_NE(row, ProcessingResultDetail::make("/p/a.HEIC", {outcome::AlreadyCorrect{}, true}));
    EXPECT_EQ(row.id.text().substr(13, 2), "-4");
}

}  // namespace
}  // namespace corvane
