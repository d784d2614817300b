// SPDX-License-Identifier: GPL-3.0-or-later
// What the per-file decisions do that a case folder (tests/cases) cannot show: the diagnostic lines
// they print, the grant's release on every path, a save that fails, and what Exiv2 reads of the
// positions written in the XMP coordinate form.

#include "engine/MediaFileProcessor.h"
#include "engine/SafeSave.h"
#include "engine/SidecarWriter.h"
#include "platform/image/ImageMetadataReader.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <algorithm>

namespace corvane {
namespace {

using namespace test;

// Grants the sidecar's own location and counts the stop calls made on the grant.
struct CountingAccess : SidecarAccessProvider {
    Expected<ScopedAccess> ensureSidecarAccess(const std::filesystem::path& sidecarURL) override {
        return ScopedAccess{sidecarURL, [this] { ++stops; }};
    }
    int stops = 0;
};

class FileDecision : public ::testing::Test {
protected:
    void SetUp() override {
        writeHeic(image, iPhoneImageAt(photoLatitude, photoLongitude));
    }
    std::vector<std::string> process() {
        DiagnosticsCapture capture;
        MediaFileProcessor(services).processFile(image);
        return capture.lines();
    }

    TempDir dir;
    std::filesystem::path image = dir.path() / "IMG_0001.HEIC";
    std::filesystem::path sidecar = dir.path() / "IMG_0001.xmp";
    FaultyFileSystem fileSystem;
    ImageMetadataReader reader;
    CountingAccess access;
    RunSettings settings{RunSwitches{.dryRun = false}};
    EngineServices services{fileSystem, reader, access, settings};
};

bool holdsBlock(const std::vector<std::string>& lines, const std::vector<std::string>& block) {
    return std::search(lines.begin(), lines.end(), block.begin(), block.end()) != lines.end();
}

// A missing latitude reads "nil" in every block that names it, and each step says what it decided.
TEST_F(FileDecision, ComparisonAndWriterPrintTheirBlocks) {
    writeText(sidecar, sidecarXml({std::nullopt, "122.4194", std::nullopt, "W"}));
    settings.publish({.dryRun = false, .alwaysOverwrite = true});
    const auto lines = process();
    for (const char* line : {"[DEBUG]   existingLat raw: 'nil'", "[DEBUG]   existing: lat=nil lon=122.4194 latRef=nil lonRef=W",
                             "[DEBUG]   parsed:   lat=(nil,) lon=(122.4194,)", "[DEBUG]   matches:  numeric lat=false lon=true",
                             "[DEBUG]   refs:     effective lat= lon=W, compatible lat=false lon=true",
                             "[DEBUG]   matches:  latText=false lonText=false latRef=false lonRef=true"})
        EXPECT_TRUE(holdsBlock(lines, {line})) << line;
    EXPECT_EQ(lines.back(), "[DEBUG] Updated IMG_0001.HEIC: exif:GPSLatitude: 37.77490000 → 37.77490000N; "
                            "exif:GPSLongitude: 122.4194 → 122.41940000W; exif:GPSLatitudeRef: (empty) → N");
}

TEST_F(FileDecision, EachSettledDecisionNamesItsReason) {
    const std::pair<SidecarGPSProperties, std::string> cases[] = {
        {canonicalSidecar, "[DEBUG] Within tolerance and text matches — not updating IMG_0001.HEIC"},
        {shortLetteredSidecar, "[DEBUG] Within tolerance — not updating IMG_0001.HEIC. Differences: Latitude format: "
                               "37.7749N → 37.77490000N; Longitude format: 122.4194W → 122.41940000W"},
        {parisSidecar, "[DEBUG] Skipped (GPS coordinates differ) for IMG_0001.HEIC: Latitude: 48.8566N → "
                       "37.77490000N; Longitude: 2.3522E → 122.41940000W"},
    };
    for (const auto& [gps, line] : cases) {
        writeText(sidecar, sidecarXml(gps));
        EXPECT_EQ(process().back(), line);
    }
    writeText(sidecar, sidecarXml(letterlessSidecar));
    settings.publish({});
    const auto lines = process();
    EXPECT_TRUE(holdsBlock(lines, {
        "[DEBUG] Within tolerance, but XMP text is missing trailing hemisphere ref — will update IMG_0001.HEIC"}));
    EXPECT_EQ(lines.back(), "[DEBUG] Dry run — would update IMG_0001.HEIC: [DRY RUN] would update: exif:GPSLatitude: "
                            "37.7749 → 37.77490000N; [DRY RUN] would update: exif:GPSLongitude: 122.4194 → 122.41940000W");
}

// The grant is stopped once however the file's processing ends: settled by the comparison, written,
// without GPS in the sidecar, without a sidecar (empty text), or failed in the writer.
TEST_F(FileDecision, GrantIsReleasedOnceOnEveryPath) {
    for (const std::string& text : {sidecarXml(canonicalSidecar), sidecarXml(parisSidecar), sidecarXml(letterlessSidecar),
                                    sidecarXml({}), std::string(), std::string("<broken")}) {
        std::filesystem::remove(sidecar);
        if (!text.empty()) writeText(sidecar, text);
        access.stops = 0;
        process();
        EXPECT_EQ(access.stops, 1) << text;
    }
}

// Without the exact name, two spellings that differ only in letter case leave no way to choose; beside
// the exact name they are passed over.
TEST_F(FileDecision, OtherSpellingsOfTheSidecarAreAmbiguousUnlessTheExactNameExists) {
    for (const char* name : {"IMG_0001.XMP", "IMG_0001.Xmp"}) writeText(dir.path() / name, sidecarXml(parisSidecar));
    EXPECT_TRUE(holdsBlock(process(), {"[DEBUG] Ambiguous XMP sidecar for IMG_0001.HEIC: IMG_0001.XMP and IMG_0001.Xmp "
                                       "differ only in letter case",
                                       "[DEBUG] Skipping IMG_0001.HEIC - no XMP sidecar file exists"}));
    writeText(sidecar, sidecarXml(canonicalSidecar));
    const auto lines = process();
    EXPECT_EQ(lines.back(), "[DEBUG] Within tolerance and text matches — not updating IMG_0001.HEIC");
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) { return line.starts_with("[DEBUG] Ambiguous"); }));
}

// The safe save's own tests cover each failure; here its error becomes the file's.
TEST_F(FileDecision, ASaveThatFailsFailsTheFile) {
    const std::string original = sidecarXml(letterlessSidecar);
    writeText(sidecar, original);
    fileSystem.reportCapacity(requiredFreeSpace - 1);
    EXPECT_EQ(process().back(), "[DEBUG] Failed IMG_0001.HEIC: Insufficient disk space. Available: 99MB, Required: 100MB");
    EXPECT_EQ(readText(sidecar), original);
}

// The position an Exiv2-based program (darktable, digiKam) sees in a sidecar: Exiv2 converts the XMP
// coordinates to Exif GPS rationals as it reads a sidecar; absent when it cannot convert them.
std::optional<ImagePosition> positionExivReads(const std::filesystem::path& sidecar) {
    const auto image = Exiv2::ImageFactory::open(sidecar.string());
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    const auto axis = [&](const char* key, const char* refKey, const char* negative) -> std::optional<double> {
        const auto value = exif.findKey(Exiv2::ExifKey(key));
        const auto ref = exif.findKey(Exiv2::ExifKey(refKey));
        if (value == exif.end() || ref == exif.end() || value->count() != 3) return std::nullopt;
        const auto part = [&](long index) {  // exactly: toFloat would round to single precision
            const Exiv2::Rational rational = value->toRational(index);
            return static_cast<double>(rational.first) / rational.second;
        };
        const double degrees = part(0) + part(1) / 60 + part(2) / 3600;
        return ref->toString() == negative ? -degrees : degrees;
    };
    const auto latitude = axis("Exif.GPSInfo.GPSLatitude", "Exif.GPSInfo.GPSLatitudeRef", "S");
    const auto longitude = axis("Exif.GPSInfo.GPSLongitude", "Exif.GPSInfo.GPSLongitudeRef", "W");
    if (!latitude || !longitude) return std::nullopt;
    return ImagePosition{*latitude, *longitude};
}

// Exiv2 reads back, within 1e-6 degrees, every position written in the xmp form over a sidecar as
// exiftool writes it (child elements) and as Exiv2 writes it (attributes), in all four hemispheres and
// where the minutes carry into the degrees. The decimal form it cannot convert at all.
TEST_F(FileDecision, ExivReadsBackEveryPositionWrittenInTheXmpForm) {
    Exiv2::XmpData exivProperties;
    exivProperties["Xmp.exif.GPSLatitude"] = "48,51.396N";
    exivProperties["Xmp.exif.GPSLongitude"] = "2,21.132E";
    std::string exivSidecar;
    ASSERT_EQ(Exiv2::XmpParser::encode(exivSidecar, exivProperties), 0);
    const std::pair<std::string, const char*> sidecars[] = {{sidecarXml(parisSidecar), "<exif:GPSLatitude>"},
                                                            {exivSidecar, "exif:GPSLatitude=\""}};
    for (const auto& [latitude, longitude] : {std::pair{photoLatitude, photoLongitude}, {-33.8568, 151.2153}, {0.0, -0.0},
                                              {-89.99999999, 179.9999999999}}) {
        writeHeic(image, iPhoneImageAt(latitude, longitude));
        const auto stored = reader.read(image)->readImageGPS();
        ASSERT_TRUE(stored);
        for (const auto& [original, form] : sidecars) {
            writeText(sidecar, original);
            settings.publish({.dryRun = false, .alwaysOverwrite = true, .coordinateForm = CoordinateForm::xmp});
            process();
            ASSERT_NE(readText(sidecar).find(form), std::string::npos) << readText(sidecar);
            const auto read = positionExivReads(sidecar);
            ASSERT_TRUE(read) << readText(sidecar);
            EXPECT_NEAR(read->latitude, stored->latitude, 1e-6) << readText(sidecar);
            EXPECT_NEAR(read->longitude, stored->longitude, 1e-6) << readText(sidecar);
        }
    }
    settings.publish({.dryRun = false, .alwaysOverwrite = true});
    writeText(sidecar, exivSidecar);
    process();
    EXPECT_FALSE(positionExivReads(sidecar)) << readText(sidecar);
}

}  // namespace
}  // namespace corvane
