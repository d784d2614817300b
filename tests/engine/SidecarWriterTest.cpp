#include "tests/support/DiagnosticsCapture.h"
#include "engine/SafeSave.h"
#include "engine/SidecarGPS.h"
#include "engine/SidecarWriter.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace corvane {
namespace {

using namespace test;

class SidecarWriter : public ::testing::Test {
protected:
    void SetUp() override {
        sidecar = dir.path() / "IMG_0001.xmp";
        settings.dryRun = false;
        fileSystem.reportCapacity(requiredFreeSpace * 10);
    }

    Expected<WriterAnswer> write(double latitude = 37.7749, double longitude = -122.4194) {
        return updateXmpGPS(fileSystem, settings, sidecar, latitude, longitude);
    }

    TempDir dir;
    FaultyFileSystem fileSystem;
    RunSettings settings;
    std::filesystem::path sidecar;
};

TEST_F(SidecarWriter, CanonicalSidecarIsNotWritten) {
    const std::string original = sidecarXml({"37.77490000N", "122.41940000W", "N", "W"});
    for (bool overwrite : {false, true}) {
        writeText(sidecar, original);
        settings.alwaysOverwrite = overwrite;
        DiagnosticsCapture capture;
        const auto answer = write();
        ASSERT_TRUE(answer.ok());
        EXPECT_FALSE(answer.value().written);
        EXPECT_TRUE(answer.value().changes.empty());
        EXPECT_TRUE(answer.value().formatNotes.empty());
        EXPECT_EQ(readText(sidecar), original);
        const bool saidSo = capture.lines().back() == "[DEBUG] Will not write IMG_0001.xmp — already correct";
        EXPECT_EQ(saidSo, !overwrite) << "the line is left out when overwriting is on";
    }
}

TEST_F(SidecarWriter, ComparisonBlockIsLoggedExactly) {
    // Latitude right and longitude not, so each value stands at its own place in the lines.
    writeText(sidecar, sidecarXml({"37.77490000N", "122.4194", "N", std::nullopt}));
    DiagnosticsCapture capture;
    ASSERT_TRUE(write().ok());
    const std::vector<std::string> block = {
        "[DEBUG] IMG_0001.xmp update comparison:",
        "[DEBUG]   existing: lat=37.77490000N lon=122.4194",
        "[DEBUG]   existing decimal: lat=37.7749 lon=122.4194",
        "[DEBUG]   target:   lat=37.77490000N lon=122.41940000W",
        "[DEBUG]   target decimal: lat=37.7749 lon=-122.4194",
        "[DEBUG]   matches:  latText=true lonText=false latRef=true lonRef=false",
    };
    const auto lines = capture.lines();
    auto at = std::find(lines.begin(), lines.end(), block.front());
    ASSERT_NE(at, lines.end());
    ASSERT_LE(at + 6, lines.end());
    EXPECT_EQ(std::vector<std::string>(at, at + 6), block);
    EXPECT_EQ(lines.front(), "[DEBUG] Loading existing XMP: IMG_0001.xmp");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[DEBUG] Saving XMP atomically: IMG_0001.xmp"), lines.end());
}

TEST_F(SidecarWriter, LetterlessSidecarIsRewrittenAndKeepsTheRest) {
    writeText(sidecar, sidecarXml({"37.7749", "122.4194", "N", "W"}));
    const auto answer = write();
    ASSERT_TRUE(answer.ok());
    EXPECT_TRUE(answer.value().written);
    EXPECT_EQ(answer.value().changes, (std::vector<std::string>{"exif:GPSLatitude: 37.7749 → 37.77490000N",
                                                                 "exif:GPSLongitude: 122.4194 → 122.41940000W"}));
    EXPECT_EQ(answer.value().formatNotes, (std::vector<std::string>{"Latitude format: 37.7749 → 37.77490000N",
                                                                     "Longitude format: 122.4194 → 122.41940000W"}));
    const std::string saved = readText(sidecar);
    EXPECT_NE(saved.find("<exif:GPSLatitude>37.77490000N</exif:GPSLatitude>"), std::string::npos);
    EXPECT_NE(saved.find("<exif:GPSLongitude>122.41940000W</exif:GPSLongitude>"), std::string::npos);
    EXPECT_NE(saved.find("<?xpacket end=\"w\"?>"), std::string::npos);
    EXPECT_NE(saved.find("<!-- written by a photo library export -->"), std::string::npos);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"IMG_0001.xmp"});
}

TEST_F(SidecarWriter, OldValuesAreShownAsRead) {
    writeText(sidecar, sidecarXml({"37.7749 n", "122.41940000W", "N", "W"}));
    const auto answer = write();
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer.value().changes, std::vector<std::string>{"exif:GPSLatitude: 37.7749 n → 37.77490000N"});
}

TEST_F(SidecarWriter, DescriptionWithoutGPSGetsAllFourProperties) {
    writeText(sidecar, sidecarXml({}));
    const auto answer = write();
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer.value().changes, (std::vector<std::string>{
                                          "exif:GPSLatitude: 37.77490000 → 37.77490000N",
                                          "exif:GPSLongitude: 122.41940000 → 122.41940000W",
                                          "exif:GPSLatitudeRef: (empty) → N",
                                          "exif:GPSLongitudeRef: (empty) → W",
                                      }));
    EXPECT_EQ(answer.value().formatNotes[2], "LatitudeRef: nil → N");
    const std::string saved = readText(sidecar);
    for (const char* added : {"<exif:GPSLatitudeRef>N</exif:GPSLatitudeRef>", "<exif:GPSLongitudeRef>W</exif:GPSLongitudeRef>"})
        EXPECT_NE(saved.find(added), std::string::npos) << added;
}

TEST_F(SidecarWriter, ReferenceTakenFromTheTextOrAWordIsNotRewritten) {
    writeText(sidecar, sidecarXml({"37.77490000N", "122.41940000W", std::nullopt, "West"}));
    const auto answer = write();
    ASSERT_TRUE(answer.ok());
    EXPECT_FALSE(answer.value().written);
    EXPECT_EQ(readText(sidecar).find("GPSLatitudeRef"), std::string::npos) << "the reference is not added";
}

TEST_F(SidecarWriter, ZeroPositionIsNorthEast) {
    writeText(sidecar, sidecarXml({"1.0", "1.0", "S", "W"}));
    const auto answer = write(0.0, -0.0);
    ASSERT_TRUE(answer.ok());
    const std::string saved = readText(sidecar);
    EXPECT_NE(saved.find("<exif:GPSLatitude>0.00000000N</exif:GPSLatitude>"), std::string::npos);
    EXPECT_NE(saved.find("<exif:GPSLongitude>0.00000000E</exif:GPSLongitude>"), std::string::npos);
    EXPECT_NE(saved.find("<exif:GPSLongitudeRef>E</exif:GPSLongitudeRef>"), std::string::npos);
}

TEST_F(SidecarWriter, DryRunLeavesTheFileByteForByteAndMakesNoTemporaryFile) {
    const std::string original = sidecarXml({"37.7749", "122.4194", "N", "W"});
    writeText(sidecar, original);
    settings.dryRun = true;
    DiagnosticsCapture capture;
    const auto answer = write();
    ASSERT_TRUE(answer.ok());
    EXPECT_TRUE(answer.value().written);
    EXPECT_EQ(answer.value().changes.size(), 2u);
    EXPECT_EQ(answer.value().formatNotes.size(), 2u);
    EXPECT_EQ(readText(sidecar), original);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"IMG_0001.xmp"});
    EXPECT_EQ(capture.lines().back(), "[DEBUG] Dry run — would save XMP: IMG_0001.xmp");
}

TEST_F(SidecarWriter, ErrorsNameTheCauseAndCreateNothing) {
    struct Case {
        const char* reason;
        std::optional<std::string> content;  // absent: no sidecar at all
        Error expected;                      // message compared by prefix for parser errors
    };
    const Case cases[] = {
        {"a missing sidecar is never created", std::nullopt,
         Error{"XMP", 1, "XMP file does not exist and creation is disabled"}},
        {"no element for the GPS properties", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><x:Other/></x:xmpmeta>",
         Error{"XMP", 1, "Invalid XMP structure: missing rdf:Description"}},
        {"not XML: the parser's own error", "this is not xml", Error{"XML", 0, "XML parse error: "}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(sidecar);
        if (c.content) writeText(sidecar, *c.content);
        const auto answer = write();
        ASSERT_FALSE(answer.ok()) << c.reason;
        EXPECT_EQ(answer.error().domain, c.expected.domain) << c.reason;
        EXPECT_EQ(answer.error().message.rfind(c.expected.message, 0), 0u) << c.reason << ": " << answer.error().message;
        EXPECT_EQ(std::filesystem::exists(sidecar), c.content.has_value()) << c.reason;
        if (c.content) {
            EXPECT_EQ(readText(sidecar), *c.content) << c.reason;
        }
    }
}

TEST_F(SidecarWriter, OversizedSidecarIsNotLoaded) {
    writeText(sidecar, sidecarXml({"37.7749", "122.4194", "N", "W"}));
    const auto size = static_cast<off_t>(maximumSidecarSize + 1);
    ASSERT_EQ(::truncate(sidecar.c_str(), size), 0);  // sparse: costs no disk
    const auto answer = write();
    ASSERT_FALSE(answer.ok());
    EXPECT_EQ(answer.error(), (Error{"XMP", 2, "XMP sidecar too large (" + std::to_string(size) + " bytes)"}));
}

TEST_F(SidecarWriter, LowDiskSpaceFailsAndKeepsTheSidecar) {
    const std::string original = sidecarXml({"37.7749", "122.4194", "N", "W"});
    writeText(sidecar, original);
    fileSystem.reportCapacity(requiredFreeSpace - 1);
    const auto answer = write();
    ASSERT_FALSE(answer.ok());
    EXPECT_EQ(answer.error().domain, "DiskSpace");
    EXPECT_EQ(readText(sidecar), original);
}

// A sidecar as a photo library writes it, laid out as the serializer lays out documents, so that the
// saved bytes can be compared whole: everything but the four GPS values must come back byte for byte.
std::string richSidecar(const std::string& latitude, const std::string& longitude, const std::string& latitudeRef,
                        const std::string& longitudeRef) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"Adobe XMP Core 7.0-c000\">\n"
           "  <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "    <!-- written by a photo library export -->\n"
           "    <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" "
           "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
           "xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\" xmp:Rating=\"4\" "
           "photoshop:City=\"Z\xC3\xBCrich &amp; &quot;Umgebung&quot;\">\n"
           "      <exif:GPSLatitude>" + latitude + "</exif:GPSLatitude>\n"
           "      <exif:GPSLongitude>" + longitude + "</exif:GPSLongitude>\n"
           "      <exif:GPSLatitudeRef>" + latitudeRef + "</exif:GPSLatitudeRef>\n"
           "      <exif:GPSLongitudeRef>" + longitudeRef + "</exif:GPSLongitudeRef>\n"
           "      <exif:GPSAltitude>52/1</exif:GPSAltitude>\n"
           "      <!-- altitude from the barometer -->\n"
           "      <dc:subject>\n"
           "        <rdf:Bag>\n"
           "          <rdf:li>Golden Gate</rdf:li>\n"
           "          <rdf:li>fog &lt;morning&gt;</rdf:li>\n"
           "        </rdf:Bag>\n"
           "      </dc:subject>\n"
           "      <dc:description>\n"
           "        <rdf:Alt>\n"
           "          <rdf:li xml:lang=\"x-default\">\xC3\x9C" "ber der Br\xC3\xBC" "cke \xE2\x80\x94 \xE9\x9C\xA7</rdf:li>\n"
           "        </rdf:Alt>\n"
           "      </dc:description>\n"
           "    </rdf:Description>\n"
           "    <rdf:Description rdf:about=\"\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" tiff:Make=\"Apple\" />\n"
           "  </rdf:RDF>\n"
           "</x:xmpmeta>\n"
           "<?xpacket end=\"w\"?>\n";
}

TEST_F(SidecarWriter, SavedSidecarDiffersOnlyInTheFourGPSValues) {
    writeText(sidecar, richSidecar("37.7749", "122.4194", "N", "W"));
    const auto answer = write(-33.8688, 151.2093);
    ASSERT_TRUE(answer.ok()) << answer.error().message;
    EXPECT_EQ(answer.value().changes.size(), 4u);
    EXPECT_EQ(readText(sidecar), richSidecar("33.86880000S", "151.20930000E", "S", "E"));
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"IMG_0001.xmp"});
}

TEST_F(SidecarWriter, FailedSaveLeavesTheSidecarByteForByte) {
    const std::string original = richSidecar("37.7749", "122.4194", "N", "W");
    for (auto failing : {FaultyFileSystem::Failing::atomicWrite, FaultyFileSystem::Failing::replace}) {
        writeText(sidecar, original);
        fileSystem.fail(failing);
        const auto answer = write();
        ASSERT_FALSE(answer.ok());
        EXPECT_EQ(answer.error().domain, "POSIX");
        EXPECT_EQ(readText(sidecar), original);
    }
}

}  // namespace
}  // namespace corvane
