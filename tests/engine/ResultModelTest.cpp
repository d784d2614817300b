#include "engine/ResultModel.h"

#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

namespace corvane {
namespace {

using namespace std::string_literals;

// "é" precomposed (U+00E9) and as "e" followed by a combining acute accent (U+0301).
const std::string composedE = "\xC3\xA9";
const std::string decomposedE = "e\xCC\x81";

TEST(DeviceData, AbsentFieldDiffersFromEmptyText) {
    EXPECT_NE((DeviceData{std::nullopt, std::nullopt, std::nullopt}), (DeviceData{""s, std::nullopt, std::nullopt}));
    EXPECT_NE((DeviceData{std::nullopt, ""s, std::nullopt}), (DeviceData{std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_NE((DeviceData{std::nullopt, std::nullopt, ""s}), (DeviceData{std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ((DeviceData{""s, ""s, ""s}), (DeviceData{""s, ""s, ""s}));
    EXPECT_EQ(DeviceData{}, DeviceData{});
}

TEST(DeviceData, FieldsAreComparedOneByOne) {
    const DeviceData apple{"Apple"s, "iPhone 15 Pro"s, "17.5"s};
    EXPECT_EQ(apple, (DeviceData{"Apple"s, "iPhone 15 Pro"s, "17.5"s}));
    // The same texts in other fields are other values.
    EXPECT_NE(apple, (DeviceData{"iPhone 15 Pro"s, "Apple"s, "17.5"s}));
    EXPECT_NE(apple, (DeviceData{"Apple"s, "iPhone 15 Pro"s, std::nullopt}));
}

// Texts compare as Unicode strings: canonically equivalent texts are equal, nothing else is folded.
struct TextEqualityCase {
    const char* why;
    std::string a;
    std::string b;
    bool equal;
};

const TextEqualityCase textEqualityCases[] = {
    {"precomposed and decomposed é", composedE, decomposedE, true},
    {"combining marks in either canonical order", "q\xCC\x87\xCC\xA3", "q\xCC\xA3\xCC\x87", true},
    {"Hangul syllable and its conjoining jamo", "\xED\x95\x9C", "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", true},
    {"no case folding", "Apple", "apple", false},
    {"no trimming", "Apple", "Apple ", false},
    {"compatibility forms are not canonical: the ligature fi", "\xEF\xAC\x81", "fi", false},
    {"é and e are different letters", composedE, "e", false},
    {"invalid UTF-8 compares byte for byte (same)", "a\xFF", "a\xFF", true},
    {"invalid UTF-8 compares byte for byte (different)", "a\xFF", "a\xFE", false},
};

TEST(ResultModelEquality, TextsCompareByCanonicalEquivalence) {
    for (const auto& c : textEqualityCases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ((DeviceData{c.a, std::nullopt, std::nullopt}) == (DeviceData{c.b, std::nullopt, std::nullopt}), c.equal);
        EXPECT_EQ((GPSDifference{"Latitude", c.a, "N"}) == (GPSDifference{"Latitude", c.b, "N"}), c.equal);
        EXPECT_EQ(ProcessingResult(outcome::Failed{c.a}) == ProcessingResult(outcome::Failed{c.b}), c.equal);
        EXPECT_EQ(ProcessingResult(outcome::Updated{{"x", c.a}}) == ProcessingResult(outcome::Updated{{"x", c.b}}),
                  c.equal);
        EXPECT_EQ(ProcessingResult(outcome::SkippedNonApple{DeviceData{}, c.a}) ==
                      ProcessingResult(outcome::SkippedNonApple{DeviceData{}, c.b}),
                  c.equal);
    }
}

TEST(ResultModelEquality, GPSDifferenceComparesAllThreeFields) {
    const GPSDifference row{"Latitude", "37.0N", "37.77490000N"};
    EXPECT_EQ(row, (GPSDifference{"Latitude", "37.0N", "37.77490000N"}));
    EXPECT_NE(row, (GPSDifference{"Longitude", "37.0N", "37.77490000N"}));
    EXPECT_NE(row, (GPSDifference{"Latitude", "37.1N", "37.77490000N"}));
    EXPECT_NE(row, (GPSDifference{"Latitude", "37.0N", "37.77490001N"}));
}

TEST(ResultModelEquality, ListsCompareElementByElementInOrder) {
    using outcome::SkippedDifferentGPS;
    using outcome::Updated;
    using outcome::WithinTolerance;
    EXPECT_NE(ProcessingResult(WithinTolerance{{"Latitude format: a", "Longitude format: b"}}),
              ProcessingResult(WithinTolerance{{"Longitude format: b", "Latitude format: a"}}));
    EXPECT_EQ(ProcessingResult(WithinTolerance{{"Latitude format: a", "Longitude format: b"}}),
              ProcessingResult(WithinTolerance{{"Latitude format: a", "Longitude format: b"}}));
    EXPECT_NE(ProcessingResult(Updated{{"a"}}), ProcessingResult(Updated{{"a", "a"}}));
    const GPSDifference latitude{"Latitude", "1", "2"};
    const GPSDifference longitude{"Longitude", "3", "4"};
    EXPECT_NE(ProcessingResult(SkippedDifferentGPS{{latitude, longitude}}),
              ProcessingResult(SkippedDifferentGPS{{longitude, latitude}}));
    EXPECT_EQ(ProcessingResult(SkippedDifferentGPS{{latitude, longitude}}),
              ProcessingResult(SkippedDifferentGPS{{latitude, longitude}}));
}

TEST(ResultModelEquality, SameTextUnderDifferentCasesIsDifferent) {
    const std::string text = "No GPS available";
    EXPECT_NE(ProcessingResult(outcome::Failed{text}), ProcessingResult(outcome::SkippedMissing{text}));
    EXPECT_NE(ProcessingResult(outcome::FileNotFound{text}), ProcessingResult(outcome::UnsupportedFile{text}));
    EXPECT_NE(ProcessingResult(outcome::Updated{{text}}), ProcessingResult(outcome::WithinTolerance{{text}}));
}

TEST(ResultModelEquality, EmptyUpdateIsNotAlreadyCorrect) {
    const ProcessingResult emptyUpdate = outcome::Updated{{}};
    EXPECT_NE(emptyUpdate, ProcessingResult(outcome::AlreadyCorrect{}));
    EXPECT_EQ(emptyUpdate, ProcessingResult(outcome::Updated{{}}));
    EXPECT_EQ(ProcessingResult(outcome::AlreadyCorrect{}), ProcessingResult(outcome::AlreadyCorrect{}));
}

TEST(ResultModelEquality, NonAppleDeviceComparesAsOptional) {
    using outcome::SkippedNonApple;
    const DeviceData nothingKnown{};
    EXPECT_EQ(ProcessingResult(SkippedNonApple{nothingKnown, "Non-Apple source"}),
              ProcessingResult(SkippedNonApple{DeviceData{}, "Non-Apple source"}));
    EXPECT_NE(ProcessingResult(SkippedNonApple{nothingKnown, "Non-Apple source"}),
              ProcessingResult(SkippedNonApple{nothingKnown, "Other reason"}));
    // An absent device equals only an absent device, not one whose fields are all absent.
    EXPECT_NE(ProcessingResult(SkippedNonApple{std::nullopt, "Non-Apple source"}),
              ProcessingResult(SkippedNonApple{nothingKnown, "Non-Apple source"}));
    EXPECT_EQ(ProcessingResult(SkippedNonApple{std::nullopt, "Non-Apple source"}),
              ProcessingResult(SkippedNonApple{std::nullopt, "Non-Apple source"}));
}

struct CaseRow {
    ProcessingResult result;
    std::string_view name;
    bool silentlySkippable;
};

// All nine cases, in the order of the type.
std::vector<CaseRow> everyCase() {
    return {
        {outcome::Updated{{"Latitude: 37 → 37.77490000N"}}, "updated", false},
        {outcome::WithinTolerance{{"Latitude format: 37.7749N → 37.77490000N"}}, "withinTolerance", true},
        {outcome::FileNotFound{"gone"}, "fileNotFound", false},
        {outcome::UnsupportedFile{"Unsupported extension: jpg"}, "unsupportedFile", false},
        {outcome::SkippedMissing{"No XMP sidecar file"}, "skippedMissing", true},
        {outcome::SkippedNonApple{DeviceData{"Canon"s, std::nullopt, std::nullopt}, "Non-Apple source"}, "skippedNonApple", true},
        // Its name begins with "skipped", yet it is never hidden.
        {outcome::SkippedDifferentGPS{{{"Latitude", "1", "2"}}}, "skippedDifferentGPS", false},
        {outcome::Failed{"Permission denied for XMP sidecar"}, "failed", false},
        {outcome::AlreadyCorrect{}, "alreadyCorrect", true},
    };
}

TEST(ProcessingResultCases, OrderNamesAndSilentSkipping) {
    const auto rows = everyCase();
    ASSERT_EQ(rows.size(), std::variant_size_v<ProcessingResult>);
    for (size_t index = 0; index < rows.size(); ++index) {
        SCOPED_TRACE(std::string(rows[index].name));
        EXPECT_EQ(rows[index].result.index(), index);
        EXPECT_EQ(caseName(rows[index].result), rows[index].name);
        EXPECT_EQ(isSilentlySkippable(rows[index].result), rows[index].silentlySkippable);
    }
}

TEST(ProcessingResultCases, SilentSkippingDependsOnTheCaseNotTheText) {
    EXPECT_FALSE(isSilentlySkippable(outcome::Failed{"No GPS available"}));
    EXPECT_TRUE(isSilentlySkippable(outcome::SkippedMissing{"No GPS available"}));
    EXPECT_FALSE(isSilentlySkippable(outcome::Failed{""}));
    EXPECT_TRUE(isSilentlySkippable(outcome::SkippedNonApple{std::nullopt, ""}));
    EXPECT_FALSE(isSilentlySkippable(outcome::Updated{{}}));
    EXPECT_FALSE(isSilentlySkippable(outcome::SkippedDifferentGPS{{}}));
}

TEST(Uuid, FreshIdsAreDistinctVersion4AndHashable) {
    std::unordered_set<Uuid> ids;
    std::set<std::string> texts;
    for (int i = 0; i < 2000; ++i) {
        const Uuid id = Uuid::random();
        ids.insert(id);
        const std::string text = id.text();
        texts.insert(text);
        ASSERT_EQ(text.size(), 36u) << text;
        for (size_t dash : {8u, 13u, 18u, 23u}) ASSERT_EQ(text[dash], '-') << text;
        ASSERT_EQ(text[14], '4') << text;                                 // version 4
        ASSERT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;  // RFC 4122 variant
    }
    EXPECT_EQ(ids.size(), 2000u);
    EXPECT_EQ(texts.size(), 2000u);
    const Uuid id = Uuid::random();
    const Uuid copy = id;
    EXPECT_EQ(copy, id);
    EXPECT_EQ(std::hash<Uuid>{}(copy), std::hash<Uuid>{}(id));
    EXPECT_TRUE(ids.find(id) == ids.end());
}

TEST(ProcessingResultDetail, RowsForTheSameFileAndOutcomeAreDifferentRows) {
    const auto first = ProcessingResultDetail::make("/photos/IMG_0001.HEIC", outcome::AlreadyCorrect{});
    const auto second = ProcessingResultDetail::make("/photos/IMG_0001.HEIC", outcome::AlreadyCorrect{});
    EXPECT_NE(first.id, second.id);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.fileURL, std::filesystem::path("/photos/IMG_0001.HEIC"));
}

TEST(ProcessingResultDetail, CopiesAreEqualAndCarryTheirOutcome) {
    const auto row = ProcessingResultDetail::make("/photos/a.dng", outcome::Updated{{"x"}});
    ProcessingResultDetail copy = row;
    EXPECT_EQ(copy, row);
    // A row whose outcome differs, under the same id, is not equal.
    ProcessingResultDetail changed{row.id, row.fileURL, outcome::Updated{{"y"}}};
    EXPECT_NE(changed, row);
    ProcessingResultDetail otherFile{row.id, "/photos/b.dng", row.result};
    EXPECT_NE(otherFile, row);
}

}  // namespace
}  // namespace corvane
