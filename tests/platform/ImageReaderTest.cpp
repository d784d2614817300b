// The image reader: its value forms and reference rules on property groups, and what it reads from real
// HEIC, DNG and JPEG files made by libheif and Exiv2, damaged ones included, with the exact lines.

#include "platform/ImageMetadataReader.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <variant>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ImageDamage;
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
        {"three components", list({number(10), number(30), number(36)}), 10.51},
        {"two components", list({number(10), number(30)}), 10.5},
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
        {"text with inner white space after the number", text("10 25"), std::nullopt},
        {"a blank text", text(" \t\n"), std::nullopt},
        {"degree-minute-second text, DEG in any case", text("10 Deg 30' 36\""), 10.51},
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
    PropertySet set;
    set.gps = PropertyGroup{{"Latitude", number(10)}, {"LatitudeRef", std::move(latitudeRef)}, {"Longitude", longitude},
                            {"LongitudeRef", text("w")}};
    return set;
}

// The reference rules and the lines, on groups as a reader hands them over.
TEST(ImageProperties, ImageGPSFollowsTheReferencesAndSaysWhatIsMissing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    PropertySet signedZero;
    signedZero.gps = PropertyGroup{{"Latitude", number(-0.0)}, {"Longitude", number(nan)}};
    const struct {
        const char* why;
        std::optional<PropertySet> properties;
        Lines lines;
    } cases[] = {
        {"S makes it negative; a lower-case w too", gpsSet(text("S")), {"[DEBUG] f GPS: lat=-10.0 (S) lon=-5.0 (W)"}},
        {"the reference is upper-cased first", gpsSet(text("s")), {"[DEBUG] f GPS: lat=-10.0 (S) lon=-5.0 (W)"}},
        {"only the letter itself counts", gpsSet(text("South")), {"[DEBUG] f GPS: lat=10.0 (N) lon=-5.0 (W)"}},
        {"a reference that is no text changes nothing", gpsSet(integer('S')), {"[DEBUG] f GPS: lat=10.0 (N) lon=-5.0 (W)"}},
        // -0.0 >= 0 holds, so it is northern; NaN >= 0 does not, so it is western.
        {"the hemisphere letters follow the value's sign", signedZero, {"[DEBUG] f GPS: lat=-0.0 (N) lon=nan (W)"}},
        {"an unusable longitude lists the group on one line", gpsSet(text("N"), list({})),
         {"[DEBUG] GPS lat/lon missing or unparsable in f",
          "[DEBUG] GPS dictionary contents: {Latitude = 10.0; LatitudeRef = N; Longitude = (); LongitudeRef = w}"}},
        {"no properties at all", std::nullopt, {"[DEBUG] No properties for f"}},
        {"no GPS group", PropertySet{}, {"[DEBUG] No GPS dictionary for f"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        DiagnosticsCapture capture;
        const auto position = imageGPSFromProperties(c.properties, "f");
        EXPECT_EQ(capture.lines(), c.lines);
        EXPECT_EQ(position.has_value(), c.lines.size() == 1 && c.lines[0].find(" GPS: ") != std::string::npos);
    }
}

TEST(ImageProperties, DeviceTakesEachFieldFromTiffThenExif) {
    DiagnosticsCapture capture;
    PropertySet set;
    EXPECT_EQ(deviceDataFromProperties(set, "a.dng"), DeviceData{});
    set.tiff = PropertyGroup{{"Make", text("Apple")}, {"Model", integer(15)}};
    set.exif = PropertyGroup{{"Model", text("iPhone 15 Pro")}, {"Software", other()}};
    EXPECT_EQ(deviceDataFromProperties(set, "b.heic"), (DeviceData{"Apple", "iPhone 15 Pro", std::nullopt}));
    EXPECT_EQ(capture.lines(), (Lines{"[DEBUG] a.dng Device: make=nil model=nil software=nil",
                                      "[DEBUG] b.heic Device: make=Apple model=iPhone 15 Pro software=nil"}));
}

// The container decides how the file is read, never the name: JPEG data named .HEIC (as some exports
// write it) reads through Exiv2 like any JPEG.
enum class Format { heic, dng, jpegNamedHeic };

void writeImage(Format format, const fs::path& path, const TestImage& metadata) {
    if (format == Format::heic) test::writeHeic(path, metadata);
    if (format == Format::dng) test::writeDng(path, metadata);
    if (format == Format::jpegNamedHeic) test::writeJpeg(path, metadata);
}

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

class ImageReaderTest : public ::testing::TestWithParam<Format> {};

// Each stored form read from the container, with the lines of both answers ("$" stands for the file's
// name; a line ending in "..." is compared up to there). The file is replaced after the first answer:
// the second comes from the same single reading.
TEST_P(ImageReaderTest, ReadsEachStoredFormOnceWithItsLines) {
    const std::string iPhone = "Device: make=Apple model=iPhone 15 Pro software=nil";
    const struct {
        const char* why;
        TestImage image;
        Lines lines;
    } cases[] = {
        {"an iPhone photo", test::iPhoneImageAt(37.7749, -122.4194),
         {"$ GPS: lat=37.7749 (N) lon=-122.4194 (W)", "$ " + iPhone}},
        {"another camera; software as stored, blanks included",
         changed(test::cameraImageAt(-33.8688, 151.2093), [](TestImage& i) { i.software = " Firmware 1.8.1 "; }),
         {"$ GPS: lat=-33.8688 (S) lon=151.2093 (E)", "$ Device: make=Canon model=Canon EOS R5 software= Firmware 1.8.1 "}},
        {"degrees and minutes", latitudeOnly(StoredCoordinate::rationalList({10, 30})), {"$ GPS: lat=10.5 (N) lon=20.0 (E)", "$ " + iPhone}},
        {"degrees alone", latitudeOnly(StoredCoordinate::rationalList({10})), {"$ GPS: lat=10.0 (N) lon=20.0 (E)", "$ " + iPhone}},
        {"a signed value under S is negative once", latitudeOnly(StoredCoordinate::signedDegrees(-12.5), "S"),
         {"$ GPS: lat=-12.5 (S) lon=20.0 (E)", "$ " + iPhone}},
        {"a text with a decimal comma", latitudeOnly(StoredCoordinate::asText(" 10,25 ")), {"$ GPS: lat=10.25 (N) lon=20.0 (E)", "$ " + iPhone}},
        {"degree-minute-second text", latitudeOnly(StoredCoordinate::asText("10 DEG 30' 36\"")),
         {"Parsed DMS 10 DEG 30' 36\" as 10.51", "$ GPS: lat=10.51 (N) lon=20.0 (E)", "$ " + iPhone}},
        {"an empty text", latitudeOnly(StoredCoordinate::asText("")),
         {"GPS lat/lon missing or unparsable in $", "GPS dictionary contents: {...", "$ " + iPhone}},
        {"no longitude", changed(test::iPhoneImageAt(1, 2), [](TestImage& i) { i.longitude.reset(); }),
         {"GPS lat/lon missing or unparsable in $", "GPS dictionary contents: {...", "$ " + iPhone}},
        // As `exiftool -ExifIFD:Make=Apple` writes them: the Exif group is the device's fallback.
        {"camera tags in the Exif IFD only",
         changed(test::iPhoneImageAt(1, 2), [](TestImage& i) { i.software = "17.1", i.cameraInExifIfd = true; }),
         {"$ GPS: lat=1.0 (N) lon=2.0 (E)", "$ Device: make=Apple model=iPhone 15 Pro software=17.1"}},
        {"camera tags without GPS", changed(TestImage{}, [](TestImage& i) { i.make = "Apple"; }),
         {"No GPS dictionary for $", "$ Device: make=Apple model=nil software=nil"}},
        {"no Exif at all", changed(test::iPhoneImageAt(1, 2), [](TestImage& i) { i.withExif = false; }),
         {"No GPS dictionary for $", "$ Device: make=nil model=nil software=nil"}},
    };
    const test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const fs::path path = dir.path() / (GetParam() == Format::dng ? "IMG.dng" : "IMG.HEIC");
        writeImage(GetParam(), path, c.image);
        DiagnosticsCapture capture;
        const auto reading = ImageMetadataReader().read(path);
        const auto position = reading->readImageGPS();
        test::writeBytes(path, {'x'});
        EXPECT_TRUE(reading->readDeviceData());
        EXPECT_EQ(position.has_value(), c.lines[c.lines.size() - 2].find(" GPS: ") != std::string::npos);
        const Lines lines = capture.lines();
        ASSERT_EQ(lines.size(), c.lines.size()) << ::testing::PrintToString(lines);
        for (size_t i = 0; i < lines.size(); ++i) {
            std::string expected = "[DEBUG] " + c.lines[i];
            if (expected.find('$') != std::string::npos) expected.replace(expected.find('$'), 1, path.filename().string());
            const bool prefix = expected.ends_with("...");
            EXPECT_EQ(prefix ? lines[i].substr(0, expected.size() - 3) : lines[i], prefix ? expected.substr(0, expected.size() - 3) : expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, ImageReaderTest, ::testing::Values(Format::heic, Format::dng, Format::jpegNamedHeic),
                         [](const auto& info) { return std::string(std::array{"Heic", "Dng", "JpegNamedHeic"}[static_cast<int>(info.param)]); });

// Files that are no images, or damaged ones: the reader's own line for each answer, a device record when
// one can be read, no exception and nothing from the libraries on standard error.
TEST(ImageReader, SurvivesDamagedFilesWithTheirLines) {
    const struct {
        const char* why;
        const char* file;
        std::variant<ImageDamage, const char*> made;  // a damage done to a made image, or the file's text
        std::optional<DeviceData> device;             // absent: no image
    } cases[] = {
        {"a missing file", "gone.heic", nullptr, std::nullopt},
        {"an empty file", "empty.dng", "", std::nullopt},
        {"a text file", "notes.heic", "These are my holiday notes, not a picture.\n", std::nullopt},
        {"text that starts like a TIFF", "notes.dng", "II*\0 is how a TIFF starts, but this is text.", std::nullopt},
        {"a truncated HEIC", "cut.heic", ImageDamage::truncated, std::nullopt},
        {"an overlong ftyp is no image and no video either", "ftyp.heic", ImageDamage::overlongFtyp, std::nullopt},
        {"every extent is checked against the file", "long.heic", ImageDamage::exifLengthFourGigabytes, std::nullopt},
        {"a TIFF offset past the Exif block leaves no metadata", "offset.heic", ImageDamage::exifOffsetBeyondBlock, DeviceData{}},
        {"looping IFDs in a HEIC end", "loop.heic", ImageDamage::loopingIfds, DeviceData{"Abc", std::nullopt, std::nullopt}},
        {"looping IFDs in a DNG end", "loop.dng", ImageDamage::loopingIfds, DeviceData{"Abc", std::nullopt, std::nullopt}},
        {"a DNG cut inside its tags' values", "cut.dng", ImageDamage::truncated, DeviceData{"", "", std::nullopt}},
    };
    const test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const fs::path path = dir.path() / c.file;
        const auto* damage = std::get_if<ImageDamage>(&c.made);
        if (damage) writeImage(path.extension() == ".dng" ? Format::dng : Format::heic, path, test::iPhoneImageAt(1, 2));
        if (damage) test::damageImage(path, *damage);
        else if (const char* text = std::get<const char*>(c.made)) dir.writeFile(c.file, text);
        DiagnosticsCapture capture;
        ::testing::internal::CaptureStderr();
        const auto reading = ImageMetadataReader().read(path);
        EXPECT_EQ(reading->readDeviceData(), c.device);
        EXPECT_FALSE(reading->readImageGPS());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        if (!c.device) {
            EXPECT_EQ(capture.lines(), Lines(2, "[DEBUG] CGImageSourceCreateWithURL failed for " + path.string()));
        }
    }
}

}  // namespace
}  // namespace corvane
