#include "tests/support/DiagnosticsCapture.h"
#include "engine/SidecarComparison.h"
#include "engine/XmpXml.h"
#include "tests/support/SidecarXml.h"

#include <gtest/gtest.h>

#include <cmath>

namespace corvane {
namespace {

using test::SidecarGPSProperties;
using test::sidecarXml;

constexpr double imageLatitude = 37.7749;
constexpr double imageLongitude = -122.4194;

struct Compared {
    ComparisonDecision decision;
    std::vector<std::string> lines;
};

Compared compare(const SidecarGPSProperties& gps, bool alwaysOverwrite = false, double latitude = imageLatitude,
                 double longitude = imageLongitude) {
    auto document = XMPXML::load(sidecarXml(gps));
    EXPECT_TRUE(document.ok());
    auto element = XMPXML::findGPSElement(*document.value());
    EXPECT_TRUE(element.has_value());
    RunSettings settings;
    settings.alwaysOverwrite = alwaysOverwrite;
    DiagnosticsCapture capture;
    ComparisonDecision decision = compareSidecarGPS(*element, latitude, longitude, "IMG_0001.HEIC", settings);
    return {std::move(decision), capture.lines()};
}

bool asksToWrite(const Compared& compared) { return std::holds_alternative<WriteSidecar>(compared.decision); }

const ProcessingResult& settled(const Compared& compared) { return std::get<ProcessingResult>(compared.decision); }

ProcessingResult differing(std::vector<GPSDifference> rows) { return outcome::SkippedDifferentGPS{std::move(rows)}; }
ProcessingResult withinTolerance(std::vector<std::string> texts) { return outcome::WithinTolerance{std::move(texts)}; }

bool hasLine(const Compared& compared, const std::string& line) {
    return std::find(compared.lines.begin(), compared.lines.end(), line) != compared.lines.end();
}

TEST(SidecarComparison, CanonicalSidecarIsAlreadyCorrect) {
    const auto compared = compare({"37.77490000N", "122.41940000W", "N", "W"});
    ASSERT_FALSE(asksToWrite(compared));
    EXPECT_EQ(settled(compared), ProcessingResult(outcome::AlreadyCorrect{}));
    EXPECT_TRUE(hasLine(compared, "[DEBUG] Within tolerance and text matches — not updating IMG_0001.HEIC"));
}

TEST(SidecarComparison, ShortTextsWithLettersAreWithinToleranceAndLeftAlone) {
    const auto compared = compare({"37.7749N", "122.4194W", "N", "W"});
    ASSERT_FALSE(asksToWrite(compared));
    EXPECT_EQ(settled(compared), withinTolerance({"Latitude format: 37.7749N → 37.77490000N",
                                                   "Longitude format: 122.4194W → 122.41940000W"}));
    EXPECT_TRUE(hasLine(compared,
                        "[DEBUG] Within tolerance — not updating IMG_0001.HEIC. Differences: Latitude format: 37.7749N "
                        "→ 37.77490000N; Longitude format: 122.4194W → 122.41940000W"));
}

TEST(SidecarComparison, LetterlessTextsWithRightReferencesAreRewritten) {
    const auto compared = compare({"37.7749", "122.4194", "N", "W"});
    EXPECT_TRUE(asksToWrite(compared));
    const std::vector<std::string> expectedTail = {
        "[DEBUG] Within tolerance, but XMP text is missing trailing hemisphere ref — will update IMG_0001.HEIC",
        "[DEBUG] Proceeding with update check for IMG_0001.HEIC (exceeds tolerance or overwrite)"};
    ASSERT_GE(compared.lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(compared.lines.end() - 2, compared.lines.end()), expectedTail);
}

TEST(SidecarComparison, LetterlessTextsWithoutReferencesDifferInLongitude) {
    // Without any reference the longitude reads as +122.4194, about 244.84 degrees away.
    const auto compared = compare({"37.7749", "122.4194", std::nullopt, std::nullopt});
    ASSERT_FALSE(asksToWrite(compared));
    EXPECT_EQ(settled(compared),
              differing({{"Longitude", "122.4194", "122.41940000W"}}));
    EXPECT_TRUE(hasLine(compared,
                        "[DEBUG] Skipped (GPS coordinates differ) for IMG_0001.HEIC: Longitude: 122.4194 → 122.41940000W"));
}

TEST(SidecarComparison, MissingLatitudeShowsTheTargetWithoutLetterAsCurrentValue) {
    const auto compared = compare({std::nullopt, "122.41940000W", "N", "W"});
    ASSERT_FALSE(asksToWrite(compared));
    EXPECT_EQ(settled(compared),
              differing({{"Latitude", "37.77490000", "37.77490000N"}}));
}

TEST(SidecarComparison, WordReferenceCountsAsItsLetter) {
    const auto compared = compare({"37.77490000N", "122.41940000W", "NORTH", "W"});
    ASSERT_FALSE(asksToWrite(compared));
    // Numerically right and compatible; only the reference's spelling differs.
    EXPECT_EQ(settled(compared), ProcessingResult(outcome::AlreadyCorrect{}));
}

TEST(SidecarComparison, WrongHemisphereShowsAsLatitudeRowNotReferenceRow) {
    const auto compared = compare({"37.7749", "122.41940000W", "S", "W"});
    ASSERT_FALSE(asksToWrite(compared));
    EXPECT_EQ(settled(compared), differing({{"Latitude", "37.7749", "37.77490000N"}}));
}

TEST(SidecarComparison, ReferenceRowWhenNumberMatchesButLetterDisagrees) {
    // The text says north-positive 37.7749 with ref "N", but the image is at the equator mirror: only
    // possible when the number matches and the letter is wrong, i.e. at latitude 0.
    const auto compared = compare({"0.00000000", "122.41940000W", "S", "W"}, false, 0.0, imageLongitude);
    ASSERT_FALSE(asksToWrite(compared));
    EXPECT_EQ(settled(compared), differing({{"LatitudeRef", "S", "N"}}));
}

TEST(SidecarComparison, ToleranceIsInclusiveToTheLastDouble) {
    // The sidecar says 0; an image at exactly GPSTolerance still matches, one double further does not.
    const auto within = compare({"0.00000000N", "20.00000000E", "N", "E"}, false, GPSTolerance, 20.0);
    ASSERT_FALSE(asksToWrite(within));
    EXPECT_TRUE(std::holds_alternative<outcome::WithinTolerance>(settled(within)));

    const auto beyond = compare({"0.00000000N", "20.00000000E", "N", "E"}, false, std::nextafter(GPSTolerance, 1.0), 20.0);
    ASSERT_FALSE(asksToWrite(beyond));
    EXPECT_EQ(settled(beyond), differing({{"Latitude", "0.00000000N", "0.00010000N"}}));
}

TEST(SidecarComparison, AlwaysOverwriteWritesDifferingAndCanonicalSidecars) {
    for (const SidecarGPSProperties& gps : {SidecarGPSProperties{"1.0N", "2.0E", "N", "E"},
                                            SidecarGPSProperties{"37.77490000N", "122.41940000W", "N", "W"}}) {
        const auto compared = compare(gps, true);
        EXPECT_TRUE(asksToWrite(compared));
        EXPECT_EQ(compared.lines.back(),
                  "[DEBUG] Proceeding with update check for IMG_0001.HEIC (exceeds tolerance or overwrite)");
    }
}

TEST(SidecarComparison, PreCheckBlockIsLoggedExactly) {
    const auto compared = compare({"37.7749", "122.4194", "N", "W"});
    const std::vector<std::string> expected = {
        "[DEBUG] Raw XMP GPS values:",
        "[DEBUG]   existingLat raw: '37.7749'",
        "[DEBUG]   existingLon raw: '122.4194'",
        "[DEBUG]   existingLatRef raw: 'N'",
        "[DEBUG]   existingLonRef raw: 'W'",
    };
    auto at = std::find(compared.lines.begin(), compared.lines.end(), expected.front());
    ASSERT_NE(at, compared.lines.end());
    EXPECT_EQ(std::vector<std::string>(at, at + 5), expected);
    const std::vector<std::string> preCheck = {
        "[DEBUG] IMG_0001.HEIC XMP pre-check:",
        "[DEBUG]   existing: lat=37.7749 lon=122.4194 latRef=N lonRef=W",
        "[DEBUG]   parsed:   lat=(37.7749,) lon=(122.4194,)",
        "[DEBUG]   existing decimal: lat=37.7749 lon=-122.4194",
        "[DEBUG]   target decimal:   lat=37.7749 lon=-122.4194",
        "[DEBUG]   matches:  numeric lat=true lon=true",
        "[DEBUG]   refs:     effective lat=N lon=W, compatible lat=true lon=true",
        "[DEBUG]   coordinatesMatch=true (will skip only if false AND not alwaysOverwrite)",
    };
    auto block = std::find(compared.lines.begin(), compared.lines.end(), preCheck.front());
    ASSERT_NE(block, compared.lines.end());
    ASSERT_LE(block + 8, compared.lines.end());
    EXPECT_EQ(std::vector<std::string>(block, block + 8), preCheck);
}

TEST(SidecarComparison, AbsentValuesPrintAsNil) {
    const auto compared = compare({std::nullopt, "122.41940000W", std::nullopt, "W"});
    EXPECT_TRUE(hasLine(compared, "[DEBUG]   existingLat raw: 'nil'"));
    EXPECT_TRUE(hasLine(compared, "[DEBUG]   existing: lat=nil lon=122.41940000W latRef=nil lonRef=W"));
    EXPECT_TRUE(hasLine(compared, "[DEBUG]   existing decimal: lat=nil lon=-122.4194"));
}

TEST(SidecarComparison, DifferingSidecarLogsEveryValueAndJoinsItsRows) {
    const auto compared = compare({"1.5N", "2.25E", "N", "E"});
    ASSERT_FALSE(asksToWrite(compared));
    const std::vector<std::string> expected = {
        "[DEBUG] IMG_0001.HEIC XMP pre-check:",
        "[DEBUG]   existing: lat=1.5N lon=2.25E latRef=N lonRef=E",
        "[DEBUG]   parsed:   lat=(1.5,N) lon=(2.25,E)",
        "[DEBUG]   existing decimal: lat=1.5 lon=2.25",
        "[DEBUG]   target decimal:   lat=37.7749 lon=-122.4194",
        "[DEBUG]   matches:  numeric lat=false lon=false",
        "[DEBUG]   refs:     effective lat=N lon=E, compatible lat=true lon=false",
        "[DEBUG]   coordinatesMatch=false (will skip only if false AND not alwaysOverwrite)",
        "[DEBUG] Skipped (GPS coordinates differ) for IMG_0001.HEIC: Latitude: 1.5N → 37.77490000N; "
        "Longitude: 2.25E → 122.41940000W",
    };
    ASSERT_GE(compared.lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(compared.lines.end() - static_cast<std::ptrdiff_t>(expected.size()),
                                       compared.lines.end()),
              expected);
    EXPECT_EQ(settled(compared), differing({{"Latitude", "1.5N", "37.77490000N"},
                                            {"Longitude", "2.25E", "122.41940000W"}}));
}

TEST(SidecarComparison, LongitudeReferenceRowWhenOnlyTheLetterDisagrees) {
    // Only at the meridian can the number match while the letter names the other hemisphere.
    const auto compared = compare({"37.77490000N", "0.00000000W", "N", "W"}, false, imageLatitude, 0.0);
    ASSERT_FALSE(asksToWrite(compared));
    EXPECT_EQ(settled(compared), differing({{"LongitudeRef", "W", "E"}}));
    EXPECT_TRUE(hasLine(compared, "[DEBUG]   target decimal:   lat=37.7749 lon=0.0"));
}

TEST(SidecarComparison, UnreadableTextNeverMatchesAndIsShownAsWritten) {
    const auto compared = compare({"somewhere north", "122.41940000W", "N", "W"});
    ASSERT_FALSE(asksToWrite(compared));
    EXPECT_EQ(settled(compared), differing({{"Latitude", "somewhere north", "37.77490000N"}}));
    EXPECT_TRUE(hasLine(compared, "[DEBUG]   existing decimal: lat=nil lon=-122.4194"));
    EXPECT_TRUE(hasLine(compared, "[DEBUG]   matches:  numeric lat=false lon=true"));
}

TEST(SidecarComparison, AlwaysOverwriteWritesWithoutTheSuffixLine) {
    // Letterless but matching: with overwrite on, the suffix check is never reached.
    const auto compared = compare({"37.7749", "122.4194", "N", "W"}, true);
    EXPECT_TRUE(asksToWrite(compared));
    EXPECT_FALSE(hasLine(compared,
                         "[DEBUG] Within tolerance, but XMP text is missing trailing hemisphere ref — will update "
                         "IMG_0001.HEIC"));
}

struct WriterOutcomeCase {
    const char* reason;
    Expected<WriterAnswer> answer;
    bool dryRun;
    ProcessingResult expected;
    std::string line;
};

TEST(ReportWriterOutcome, TurnsEveryAnswerIntoItsOutcome) {
    const WriterOutcomeCase cases[] = {
        {"an error becomes a failure with its message", Error{"XMP", 1, "Invalid XMP structure: missing rdf:Description"},
         false, outcome::Failed{"Invalid XMP structure: missing rdf:Description"},
         "[DEBUG] Failed a.HEIC: Invalid XMP structure: missing rdf:Description"},
        {"a dry run prefixes every change", WriterAnswer{true, {"exif:GPSLatitude: 1 → 1.00000000N"}, {"n"}}, true,
         outcome::Updated{{"[DRY RUN] would update: exif:GPSLatitude: 1 → 1.00000000N"}},
         "[DEBUG] Dry run — would update a.HEIC: [DRY RUN] would update: exif:GPSLatitude: 1 → 1.00000000N"},
        {"a real write keeps the changes", WriterAnswer{true, {"x", "y"}, {"n1", "n2"}}, false,
         outcome::Updated{{"x", "y"}}, "[DEBUG] Updated a.HEIC: x; y"},
        {"nothing written is already correct", WriterAnswer{}, false, outcome::AlreadyCorrect{},
         "[DEBUG] Already correct a.HEIC"},
    };
    for (const auto& c : cases) {
        RunSettings settings;
        settings.dryRun = c.dryRun;
        DiagnosticsCapture capture;
        EXPECT_EQ(reportWriterOutcome("a.HEIC", c.answer, settings), c.expected) << c.reason;
        EXPECT_EQ(capture.lines(), std::vector<std::string>{c.line}) << c.reason;
    }
}

}  // namespace
}  // namespace corvane
