// SPDX-License-Identifier: GPL-3.0-or-later
// The image reader: its value forms and reference rules on property groups; what it reads from real
// HEIC, DNG and JPEG files made by libheif and Exiv2, with the exact lines; and
// its HEIF box walker, which finds exactly the Exif block written (libheif's offset field, then the TIFF
// structure) in every layout, reads nothing of the coded picture, and refuses structures that lie about
// their sizes.

#include "platform/image/HeifExifLocator.h"
#include "platform/image/ImageFile.h"
#include "platform/image/ImageMetadataReader.h"
#include "platform/image/ImageProperties.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::StoredCoordinate;
using test::TestImage;
using Lines = std::vector<std::string>;

MetadataValue number(double value) { return {value}; }
MetadataValue integer(int64_t value) { return {value}; }
MetadataValue text(std::string value) { return {std::move(value)}; }
MetadataValue list(std::vector<MetadataValue> values) { return {std::move(values)}; }
MetadataValue other() { return {MetadataValue::Other{}}; }

TEST(ImageProperties, ParseImageGPSValueConvertsEveryValueKind) {
    const struct {
        const char* why;
        MetadataValue value;
        std::optional<double> expected;
    } cases[] = {
        {"a double as it is", number(-12.5), -12.5},
        {"an integer", integer(-7), -7.0},
        {"one component", list({integer(10)}), 10.0},
        {"components after the third are ignored", list({number(10), number(30), number(36), number(99)}), 10.51},
        {"an unusable middle element counts as 0", list({number(10), text("abc"), number(36)}), 10.01},
        {"an unreadable element counts as 0", list({other(), number(30)}), 0.5},
        {"text elements are read as texts", list({text("10"), text("30,0")}), 10.5},
        {"an empty nested list counts as 0", list({number(10), list({}), number(36)}), 10.01},
        {"nested lists apply the rule again", list({list({number(10), number(30)}), number(30)}), 11.0},
        {"an empty list is no coordinate", list({}), std::nullopt},
        {"text trimmed, comma as point", text(" 10,25 \n"), 10.25},
        {"text with a trailing letter", text("10.25N"), std::nullopt},
        {"a blank text", text(" \t\n"), std::nullopt},
        {"deg text the recogniser cannot read", text("deg"), std::nullopt},
        {"anything else", other(), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto result = parseImageGPSValue(&c.value);
        ASSERT_EQ(result.has_value(), c.expected.has_value());
        EXPECT_NEAR(result.value_or(0), c.expected.value_or(0), 1e-12);
    }
    EXPECT_EQ(parseImageGPSValue(nullptr), std::nullopt);
}

PropertySet gpsSet(MetadataValue latitudeRef, MetadataValue longitude = number(-5)) {
    return {PropertyGroup{{"Latitude", number(10)}, {"LatitudeRef", std::move(latitudeRef)}, {"Longitude", std::move(longitude)},
                          {"LongitudeRef", text("w")}}, {}, {}};
}

// The reference rules and the lines, on groups as a reader hands them over.
TEST(ImageProperties, ImageGPSFollowsTheReferencesAndSaysWhatIsMissing) {
    const PropertySet signedZero{PropertyGroup{{"Latitude", number(-0.0)}, {"Longitude", number(-180)}}, {}, {}};
    const struct {
        const char* why;
        std::optional<PropertySet> properties;
        Lines lines;
    } cases[] = {
        {"S makes it negative; w in lower case too", gpsSet(text("S")), {"[DEBUG] f GPS: lat=-10.0 (S) lon=-5.0 (W)"}},
        {"only the letter itself counts", gpsSet(text("South")), {"[DEBUG] f GPS: lat=10.0 (N) lon=-5.0 (W)"}},
        {"a reference that is no text changes nothing", gpsSet(integer('S')), {"[DEBUG] f GPS: lat=10.0 (N) lon=-5.0 (W)"}},
        // -0.0 >= 0 holds, so it is northern.
        {"the hemisphere letters follow the value's sign", signedZero, {"[DEBUG] f GPS: lat=-0.0 (N) lon=-180.0 (W)"}},
        {"no place on earth", gpsSet(text("N"), number(180.000001)), {"[DEBUG] GPS position out of range in f: lat=10.0 lon=-180.000001"}},
        {"not a number", gpsSet(text("N"), number(std::nan(""))), {"[DEBUG] GPS position out of range in f: lat=10.0 lon=nan"}},
        {"an unusable longitude lists the group on one line", gpsSet(text("N"), list({})),
         {"[DEBUG] GPS lat/lon missing or unparsable in f",
          "[DEBUG] GPS dictionary contents: {Latitude = 10.0; LatitudeRef = N; Longitude = (); LongitudeRef = w}"}},
        {"no properties at all", std::nullopt, {"[DEBUG] No properties for f"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        DiagnosticsCapture capture;
        EXPECT_EQ(imageGPSFromProperties(c.properties, "f").has_value(), c.lines[0].find(" GPS: ") != std::string::npos);
        EXPECT_EQ(capture.lines(), c.lines);
    }
}

TEST(ImageProperties, DeviceTakesEachFieldFromTiffThenExif) {
    DiagnosticsCapture capture;
    const PropertySet set{std::nullopt, PropertyGroup{{"Make", text("Apple")}, {"Model", integer(15)}},
                          PropertyGroup{{"Model", text("iPhone 15 Pro")}, {"Software", other()}}};
    EXPECT_EQ(deviceDataFromProperties(set, "b.heic"), (DeviceData{"Apple", "iPhone 15 Pro", std::nullopt}));
    EXPECT_EQ(capture.lines(), Lines{"[DEBUG] b.heic Device: make=Apple model=iPhone 15 Pro software=nil"});
}

// The container decides how the file is read, never the name: JPEG data named .HEIC (as some exports
// write it) reads through Exiv2 like any JPEG, and so does a DNG of that name.
using ImageWriter = void (*)(const fs::path&, const TestImage&);

TestImage latitudeOnly(StoredCoordinate latitude, std::string reference = "N") {
    TestImage image = test::iPhoneImageAt(0, 20);
    image.latitude = std::move(latitude);
    image.latitudeRef = std::move(reference);
    return image;
}

template <typename Change>
TestImage changed(TestImage image, Change change) {
    change(image);
    return image;
}

class ImageReaderTest : public ::testing::TestWithParam<ImageWriter> {};

// Each stored form read from the container (the name, the same for all, plays no part), with the lines
// of both answers. The file is replaced after the first answer: the second comes from the same reading.
TEST_P(ImageReaderTest, ReadsEachStoredFormOnceWithItsLines) {
    const std::string iPhone = "f.HEIC Device: make=Apple model=iPhone 15 Pro software=nil";
    const struct {
        const char* why;
        TestImage image;
        Lines lines;
    } cases[] = {
        {"an iPhone photo", test::iPhoneImageAt(test::photoLatitude, test::photoLongitude),
         {"f.HEIC GPS: lat=37.7749 (N) lon=-122.4194 (W)", iPhone}},
        {"another camera; software as stored, blanks included",
         changed(test::cameraImageAt(-33.8688, 151.2093), [](TestImage& i) { i.software = " Firmware 1.8.1 "; }),
         {"f.HEIC GPS: lat=-33.8688 (S) lon=151.2093 (E)", "f.HEIC Device: make=Canon model=Canon EOS R5 software= Firmware 1.8.1 "}},
        {"degrees and minutes", latitudeOnly(StoredCoordinate::rationalList({10, 30})), {"f.HEIC GPS: lat=10.5 (N) lon=20.0 (E)", iPhone}},
        // Summed in long double and then rounded, this would end in ...7776: the exact sum is rounded once.
        {"an exact sum", latitudeOnly(StoredCoordinate::rationalList({3, 47, 0.87154})),
         {"f.HEIC GPS: lat=3.783575427777778 (N) lon=20.0 (E)", iPhone}},
        {"degrees 0/0: no fix, whatever follows", latitudeOnly(StoredCoordinate::asFractions({{0, 0}, {30, 1}}), ""),
         {"GPS lat/lon missing or unparsable in f.HEIC",
          "GPS dictionary contents: {Latitude = (0/0, 30/1); LatitudeRef = ; Longitude = 20.0; LongitudeRef = E; VersionID = (2, 3, 0, 0)}", iPhone}},
        {"a signed value under S is negative once", latitudeOnly(StoredCoordinate::signedDegrees(-12.5), "S"),
         {"f.HEIC GPS: lat=-12.5 (S) lon=20.0 (E)", iPhone}},
        {"degree-minute-second text", latitudeOnly(StoredCoordinate::asText("10 DEG 30' 36\"")),
         {"Parsed DMS 10 DEG 30' 36\" as 10.51", "f.HEIC GPS: lat=10.51 (N) lon=20.0 (E)", iPhone}},
        {"no longitude", changed(test::iPhoneImageAt(1, 2), [](TestImage& i) { i.longitude.reset(); }),
         {"GPS lat/lon missing or unparsable in f.HEIC",
          "GPS dictionary contents: {Latitude = 1.0; LatitudeRef = N; LongitudeRef = E; VersionID = (2, 3, 0, 0)}", iPhone}},
        // As `exiftool -ExifIFD:Make=Apple` writes them: the Exif group is the device's fallback.
        {"camera tags in the Exif IFD only",
         changed(test::iPhoneImageAt(1, 2), [](TestImage& i) { i.software = "17.1", i.cameraInExifIfd = true; }),
         {"f.HEIC GPS: lat=1.0 (N) lon=2.0 (E)", "f.HEIC Device: make=Apple model=iPhone 15 Pro software=17.1"}},
        {"camera tags without GPS", changed(TestImage{}, [](TestImage& i) { i.make = "Apple"; }),
         {"No GPS dictionary for f.HEIC", "f.HEIC Device: make=Apple model=nil software=nil"}},
        {"no Exif at all", changed(test::iPhoneImageAt(1, 2), [](TestImage& i) { i.withExif = false; }),
         {"No GPS dictionary for f.HEIC", "f.HEIC Device: make=nil model=nil software=nil"}},
    };
    const test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const fs::path path = dir.path() / "f.HEIC";
        GetParam()(path, c.image);
        DiagnosticsCapture capture;
        const auto reading = ImageMetadataReader().read(path);
        const auto position = reading->readImageGPS();
        test::writeBytes(path, {'x'});
        EXPECT_TRUE(reading->readDeviceData());
        EXPECT_EQ(position.has_value(), c.lines[c.lines.size() - 2].find(" GPS: ") != std::string::npos);
        Lines expected;
        for (const std::string& line : c.lines) expected.push_back("[DEBUG] " + line);
        EXPECT_EQ(capture.lines(), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, ImageReaderTest, ::testing::Values<ImageWriter>(test::writeHeic, test::writeDng, test::writeJpeg),
                         [](const auto& info) { return std::string(std::array{"Heic", "Dng", "Jpeg"}[info.index]); });

// Damaged files are cases of their own (tests/cases); what only shows here is the reader's line for a
// file that is no image, once for each answer, and that no library speaks on standard error.
TEST(ImageReader, AFileThatIsNoImageAnswersNothingWithItsLine) {
    const test::TempDir dir;
    const fs::path path = dir.writeFile("notes.heic", "These are my holiday notes, not a picture.\n");
    DiagnosticsCapture capture;
    ::testing::internal::CaptureStderr();
    const auto reading = ImageMetadataReader().read(path);
    EXPECT_FALSE(reading->readDeviceData());
    EXPECT_FALSE(reading->readImageGPS());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(capture.lines(), Lines(2, "[DEBUG] CGImageSourceCreateWithURL failed for " + path.string()));
}

using Status = HeifExif::Status;

HeifExif locate(ImageFile& file) {
    return readHeifExif([&](uint64_t offset, std::span<uint8_t> out) { return file.readAt(offset, out); }, file.size());
}

// Where the text first occurs in the bytes; their size when it does not.
size_t offsetOf(const std::vector<uint8_t>& bytes, const std::string& text) {
    return static_cast<size_t>(std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) - bytes.begin());
}

// Every layout: exactly the Exif block written, and nothing of the coded picture read. Then one field of
// the single layout's file overwritten at a time, and what the walker must make of it.
TEST(HeifExifLocator, FindsTheExifBlockAndRefusesSizesAndCountsThatDoNotFit) {
    const test::TempDir dir;
    const fs::path path = dir.path() / "IMG.HEIC";
    const TestImage photo = test::iPhoneImageAt(test::photoLatitude, test::photoLongitude);
    std::vector<uint8_t> expected = {0, 0, 0, 0};
    for (uint8_t byte : test::encodeExifTiff(photo)) expected.push_back(byte);
    // Each layout with the box that only it has (libheif's single picture has none of the others).
    using enum test::HeicLayout;
    const std::pair<test::HeicLayout, std::string> layouts[] = {
        {grid, "grid"}, {exifInIdat, "idat"}, {exifInTwoExtents, "free"}, {single, "mdat"}};
    std::vector<uint8_t> bytes;
    for (const auto& [layout, box] : layouts) {
        SCOPED_TRACE(box);
        test::writeHeic(path, photo, layout);
        bytes = test::readBytes(path);
        ASSERT_LT(offsetOf(bytes, box), bytes.size());
        ImageFile file(path);
        const HeifExif exif = locate(file);
        ASSERT_EQ(exif.status, Status::found);
        EXPECT_EQ(exif.block, expected);
        // The boxes before mdat, one more box header, and the Exif bytes; the picture is never read.
        EXPECT_LE(file.bytesDelivered(), offsetOf(bytes, "mdat") - 4 + 16 + expected.size());
    }

    const struct {
        const char* why;
        const char* box;  // the four-character type the patch is placed after
        int offset;       // from the type's first byte
        std::vector<uint8_t> bytes;
        Status expected;
    } cases[] = {
        {"meta of size 0 runs to the end of the file", "meta", -4, {0, 0, 0, 0}, Status::found},
        {"meta larger than the file", "meta", -4, {0x7f, 0xff, 0xff, 0xff}, Status::damaged},
        {"a 64-bit meta size too small for its own children", "meta", -4, {0, 0, 0, 1}, Status::damaged},
        {"iinf runs past the end of meta", "iinf", -4, {0, 0x7f, 0xff, 0xff}, Status::damaged},
        {"iloc counts more items than it holds", "iloc", 10, {0xff, 0xff}, Status::damaged},
        {"the primary item is not in iinf", "pitm", 8, {0x7f, 0x7f}, Status::damaged},
        {"the Exif item describes another item", "cdsc", 8, {0x7f, 0x7f}, Status::noExif},
        {"no HEIF brand in ftyp", "ftyp", 4, {'i', 's', 'o', 'm', 0, 0, 0, 0, 'i', 's', 'o', 'm', 'i', 's', 'o', '2', 'm', 'p', '4', '1'},
         Status::notHeif},
    };
    ASSERT_EQ(bytes[11], 'c') << "libheif's ftyp: major brand heic, three compatible brands";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> patched = bytes;
        std::copy(c.bytes.begin(), c.bytes.end(), patched.begin() + static_cast<long>(offsetOf(bytes, c.box)) + c.offset);
        test::writeBytes(path, patched);
        ImageFile file(path);
        EXPECT_EQ(locate(file).status, c.expected);
    }
}

}  // namespace
}  // namespace corvane
