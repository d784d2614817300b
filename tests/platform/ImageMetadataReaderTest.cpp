// The image metadata reader on real HEIC and DNG files made by libheif and Exiv2: what it reads, the
// sign rules of the references, and how it survives files that are damaged or no images at all.

#include "tests/support/DiagnosticsCapture.h"
#include "platform/ImageMetadataReader.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::TestImage;
using test::StoredCoordinate;
using test::TempDir;
using test::readBytes;
using test::writeBytes;

// The container decides how the file is read, never the name: JPEG data named .HEIC (as some exports
// write it) reads through Exiv2 like any JPEG.
enum class Format { heic, dng, jpegNamedHeic };

std::string extension(Format format) { return format == Format::dng ? ".dng" : ".HEIC"; }

void writeImage(Format format, const fs::path& path, const TestImage& metadata) {
    switch (format) {
        case Format::heic: test::writeHeic(path, metadata); break;
        case Format::dng: test::writeDng(path, metadata); break;
        case Format::jpegNamedHeic: test::writeJpeg(path, metadata); break;
    }
}

// A metadata with only a latitude (and a fixed eastern longitude), to look at one axis at a time.
TestImage latitudeOnly(StoredCoordinate latitude, std::optional<std::string> reference) {
    TestImage metadata;
    metadata.latitude = std::move(latitude);
    metadata.latitudeRef = std::move(reference);
    metadata.longitude = StoredCoordinate::rationalList({20});
    metadata.longitudeRef = "E";
    return metadata;
}

class ImageMetadataReaderTest : public ::testing::TestWithParam<Format> {
protected:
    fs::path image(const std::string& stem, const TestImage& metadata) {
        const fs::path path = dir.path() / (stem + extension(GetParam()));
        writeImage(GetParam(), path, metadata);
        return path;
    }

    TempDir dir;
    ImageMetadataReader reader;
    DiagnosticsCapture capture;
};

TEST_P(ImageMetadataReaderTest, ReadsTheIPhonePositionAndDeviceWithTheExactLines) {
    const fs::path path = image("IMG_0001", test::iPhoneImageAt(37.7749, -122.4194));
    const std::string name = path.filename().string();

    const auto position = reader.read(path)->readImageGPS();
    ASSERT_TRUE(position);
    EXPECT_EQ(position->latitude, 37.7749);
    EXPECT_EQ(position->longitude, -122.4194);

    const auto device = reader.read(path)->readDeviceData();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->make, "Apple");
    EXPECT_EQ(device->model, "iPhone 15 Pro");
    EXPECT_EQ(device->software, std::nullopt);

    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "[DEBUG] " + name + " GPS: lat=37.7749 (N) lon=-122.4194 (W)",
                                   "[DEBUG] " + name + " Device: make=Apple model=iPhone 15 Pro software=nil",
                               }));
}

TEST_P(ImageMetadataReaderTest, ReadsMakeModelAndSoftwareAsStored) {
    TestImage metadata = test::cameraImageAt(-33.8688, 151.2093);
    metadata.software = " Firmware Version 1.8.1 ";  // taken as stored, blanks included
    const fs::path path = image("camera", metadata);

    const auto device = reader.read(path)->readDeviceData();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->make, "Canon");
    EXPECT_EQ(device->model, "Canon EOS R5");
    EXPECT_EQ(device->software, " Firmware Version 1.8.1 ");

    const auto position = reader.read(path)->readImageGPS();
    ASSERT_TRUE(position);
    EXPECT_EQ(position->latitude, -33.8688);
    EXPECT_EQ(position->longitude, 151.2093);
}

// How each stored form of one latitude reads back, with the reason each case exists.
struct LatitudeCase {
    const char* why;
    StoredCoordinate stored;
    std::optional<std::string> reference;
    std::optional<double> expected;  // absent: the position is missing
};

TEST_P(ImageMetadataReaderTest, ConvertsEachStoredLatitudeForm) {
    const LatitudeCase cases[] = {
        {"degrees, minutes and seconds", StoredCoordinate::rationalList({10, 30, 36}), "N", 10.51},
        {"degrees and minutes", StoredCoordinate::rationalList({10, 30}), "N", 10.5},
        {"degrees alone", StoredCoordinate::rationalList({10}), "N", 10.0},
        {"south makes it negative", StoredCoordinate::rationalList({10.5}), "S", -10.5},
        {"the reference is upper-cased first", StoredCoordinate::rationalList({10.5}), "s", -10.5},
        {"only the letter itself counts", StoredCoordinate::rationalList({10.5}), "South", 10.5},
        {"a signed value stays negative under N", StoredCoordinate::signedDegrees(-12.5), "N", -12.5},
        {"and without any reference", StoredCoordinate::signedDegrees(-12.5), std::nullopt, -12.5},
        {"a signed value under S is negative once", StoredCoordinate::signedDegrees(-12.5), "S", -12.5},
        {"text: trimmed, comma as decimal point", StoredCoordinate::asText(" 10,25 "), "N", 10.25},
        {"text with a letter is no number", StoredCoordinate::asText("10.25N"), "N", std::nullopt},
        {"degree-minute-second text", StoredCoordinate::asText("10 deg 30' 36\""), "N", 10.51},
        {"DEG in capitals", StoredCoordinate::asText("10 DEG 30' 36\""), "N", 10.51},
        {"an empty text", StoredCoordinate::asText(""), "N", std::nullopt},
    };
    int index = 0;
    for (const LatitudeCase& c : cases) {
        SCOPED_TRACE(c.why);
        const fs::path path = image("lat" + std::to_string(index++), latitudeOnly(c.stored, c.reference));
        const auto position = reader.read(path)->readImageGPS();
        if (!c.expected) {
            EXPECT_FALSE(position);
            continue;
        }
        ASSERT_TRUE(position);
        EXPECT_NEAR(position->latitude, *c.expected, 1e-12);
        EXPECT_EQ(position->longitude, 20.0);
    }
}

// Make, Model and Software stored in the Exif IFD only (as `exiftool -ExifIFD:Make=Apple` writes them)
// are the Exif group's fallback for the camera identity.
TEST_P(ImageMetadataReaderTest, CameraTagsInTheExifIfdFillTheDevice) {
    TestImage metadata = test::iPhoneImageAt(1, 2);
    metadata.software = "17.1";
    metadata.cameraInExifIfd = true;
    const auto device = reader.read(image("exififd", metadata))->readDeviceData();
    EXPECT_EQ(device, (DeviceData{"Apple", "iPhone 15 Pro", "17.1"}));
}

TEST_P(ImageMetadataReaderTest, AWestLongitudeReferenceInLowerCaseIsNegative) {
    TestImage metadata = test::iPhoneImageAt(1, 2);
    metadata.longitudeRef = "w";
    const auto position = reader.read(image("west", metadata))->readImageGPS();
    ASSERT_TRUE(position);
    EXPECT_EQ(position->longitude, -2.0);
}

TEST_P(ImageMetadataReaderTest, AMissingLongitudePrintsTheTwoLinesAndNoPosition) {
    TestImage metadata = test::iPhoneImageAt(37.7749, -122.4194);
    metadata.longitude.reset();
    const fs::path path = image("nolon", metadata);

    EXPECT_FALSE(reader.read(path)->readImageGPS());
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[DEBUG] GPS lat/lon missing or unparsable in " + path.filename().string());
    EXPECT_EQ(lines[1].rfind("[DEBUG] GPS dictionary contents: {", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("LatitudeRef = N"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("LongitudeRef = W"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].find('\n'), std::string::npos);
}

TEST_P(ImageMetadataReaderTest, AnImageWithoutExifHasNoGpsButADeviceRecord) {
    TestImage metadata = test::iPhoneImageAt(1, 2);
    metadata.withExif = false;
    const fs::path path = image("plain", metadata);
    const std::string name = path.filename().string();

    EXPECT_FALSE(reader.read(path)->readImageGPS());
    const auto device = reader.read(path)->readDeviceData();
    ASSERT_TRUE(device);
    EXPECT_EQ(*device, (DeviceData{}));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "[DEBUG] No GPS dictionary for " + name,
                                   "[DEBUG] " + name + " Device: make=nil model=nil software=nil",
                               }));
}

TEST_P(ImageMetadataReaderTest, CameraTagsWithoutGpsLeaveNoGpsDictionary) {
    TestImage metadata;
    metadata.make = "Apple";
    const fs::path path = image("nogps", metadata);
    EXPECT_FALSE(reader.read(path)->readImageGPS());
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[DEBUG] No GPS dictionary for " + path.filename().string()}));
}

std::string formatName(const ::testing::TestParamInfo<Format>& info) {
    const char* names[] = {"Heic", "Dng", "JpegNamedHeic"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Containers, ImageMetadataReaderTest,
                         ::testing::Values(Format::heic, Format::dng, Format::jpegNamedHeic), formatName);

// Files that are no images, or damaged ones: an absent result, the one line, no exception, no hang,
// nothing from the libraries on standard error.
class DamagedMediaTest : public ::testing::Test {
protected:
    // Reads the file through both operations; returns what Exiv2 or libheif printed on standard error.
    std::string readBoth(const fs::path& path, std::optional<ImagePosition>& position,
                         std::optional<DeviceData>& device) {
        ::testing::internal::CaptureStderr();
        position = reader.read(path)->readImageGPS();
        device = reader.read(path)->readDeviceData();
        return ::testing::internal::GetCapturedStderr();
    }

    void expectNotAnImage(const fs::path& path) {
        std::optional<ImagePosition> position;
        std::optional<DeviceData> device;
        EXPECT_EQ(readBoth(path, position, device), "");
        EXPECT_FALSE(position);
        EXPECT_FALSE(device);
        const std::string line = "[DEBUG] CGImageSourceCreateWithURL failed for " + path.string();
        EXPECT_EQ(capture.lines(), (std::vector<std::string>{line, line}));
    }

    TempDir dir;
    ImageMetadataReader reader;
    DiagnosticsCapture capture;
};

TEST_F(DamagedMediaTest, AMissingFileIsNoImage) { expectNotAnImage(dir.path() / "gone.heic"); }

TEST_F(DamagedMediaTest, ATextFileIsNoImage) {
    expectNotAnImage(dir.writeFile("notes.heic", "These are my holiday notes, not a picture.\n"));
    capture.clear();
    expectNotAnImage(dir.writeFile("notes.dng", "II*\0 is how a TIFF starts, but this is text."));
}

TEST_F(DamagedMediaTest, AnEmptyFileIsNoImage) { expectNotAnImage(dir.writeFile("empty.dng", "")); }

TEST_F(DamagedMediaTest, ATruncatedHeicIsNoImage) {
    const fs::path whole = dir.path() / "whole.heic";
    test::writeHeic(whole, test::iPhoneImageAt(1, 2));
    std::vector<uint8_t> bytes = readBytes(whole);
    bytes.resize(bytes.size() / 2);
    const fs::path cut = dir.path() / "cut.heic";
    writeBytes(cut, bytes);
    expectNotAnImage(cut);
}

// Found by fuzzing: an ftyp box that claims 80 MB is no HEIF, and Exiv2's factory then took the file for
// a QuickTime video, whose reader spun for seconds. Only still-image formats are read.
TEST_F(DamagedMediaTest, AnOverlongFtypIsNoImageAndNoVideo) {
    const fs::path path = dir.path() / "ftyp.heic";
    test::writeHeic(path, test::iPhoneImageAt(1, 2));
    std::vector<uint8_t> bytes = readBytes(path);
    bytes[0] = 0x05;
    writeBytes(path, bytes);
    expectNotAnImage(path);
}

TEST_F(DamagedMediaTest, ATruncatedDngIsSurvived) {
    const fs::path whole = dir.path() / "whole.dng";
    test::writeDng(whole, test::iPhoneImageAt(1, 2));
    std::vector<uint8_t> bytes = readBytes(whole);
    for (size_t size : {size_t{8}, size_t{40}, bytes.size() / 2, bytes.size() - 10}) {
        SCOPED_TRACE(size);
        writeBytes(dir.path() / "cut.dng", {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)});
        std::optional<ImagePosition> position;
        std::optional<DeviceData> device;
        EXPECT_EQ(readBoth(dir.path() / "cut.dng", position, device), "");
        if (position) {  // the cut may leave every tag in place and take only picture data
            EXPECT_EQ(position->latitude, 1.0);
            EXPECT_EQ(position->longitude, 2.0);
        }
    }
}

// libheif writes the Exif item's extent length (4 bytes, big-endian) into the "iloc" box; raise it far
// beyond the end of the file.
TEST_F(DamagedMediaTest, AHeicExifBlockClaimingMoreThanTheFileHoldsIsSurvived) {
    const fs::path path = dir.path() / "overlong.heic";
    const std::vector<uint8_t> tiff = test::encodeExifTiff(test::iPhoneImageAt(1, 2));
    test::writeHeic(path, test::iPhoneImageAt(1, 2));
    std::vector<uint8_t> bytes = readBytes(path);

    auto bigEndian = [](uint32_t v) {
        return std::vector<uint8_t>{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    };
    const std::string box = "iloc";
    const auto ilocAt = std::search(bytes.begin(), bytes.end(), box.begin(), box.end());
    ASSERT_NE(ilocAt, bytes.end());
    const std::vector<uint8_t> length = bigEndian(static_cast<uint32_t>(tiff.size()) + 4);
    const auto extentAt = std::search(ilocAt, ilocAt + 64, length.begin(), length.end());
    ASSERT_NE(extentAt, ilocAt + 64) << "no extent of the Exif block's length in iloc";
    const std::vector<uint8_t> huge = bigEndian(0x7fff0000u);
    std::copy(huge.begin(), huge.end(), extentAt);
    writeBytes(path, bytes);

    // Every extent is checked against the file, and a file that fails is refused as a whole.
    expectNotAnImage(path);
}

// The 4 bytes in front of the TIFF structure say where it starts; one pointing past the block leaves a
// picture without metadata, not a crash.
TEST_F(DamagedMediaTest, AHeicExifOffsetBeyondItsBlockLeavesAnImageWithoutMetadata) {
    const fs::path path = dir.path() / "offset.heic";
    const std::vector<uint8_t> tiff = test::encodeExifTiff(test::iPhoneImageAt(1, 2));
    test::writeHeic(path, test::iPhoneImageAt(1, 2));
    std::vector<uint8_t> bytes = readBytes(path);
    const auto tiffAt = std::search(bytes.begin(), bytes.end(), tiff.begin(), tiff.end());
    ASSERT_NE(tiffAt, bytes.end());
    std::fill(tiffAt - 4, tiffAt, uint8_t{0xff});
    writeBytes(path, bytes);

    std::optional<ImagePosition> position;
    std::optional<DeviceData> device;
    EXPECT_EQ(readBoth(path, position, device), "");
    EXPECT_FALSE(position);
    EXPECT_EQ(device, DeviceData{});
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "[DEBUG] No GPS dictionary for offset.heic",
                                   "[DEBUG] offset.heic Device: make=nil model=nil software=nil",
                               }));
}

// A TIFF whose IFD0 names itself as the next IFD, whose GPS and Exif IFD pointers point back at IFD0,
// and whose Model claims far more bytes than there are.
std::vector<uint8_t> loopingTiff() {
    std::vector<uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put16 = [&](uint16_t v) { bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto put32 = [&](uint32_t v) { bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); };
    put16(4);
    put16(0x010f), put16(2), put32(4), bytes.insert(bytes.end(), {'A', 'b', 'c', 0});  // Make "Abc"
    put16(0x0110), put16(2), put32(0x7ffffff0), put32(8);                              // Model: 2 GB of text
    put16(0x8825), put16(4), put32(1), put32(8);                                       // GPS IFD -> IFD0
    put16(0x8769), put16(4), put32(1), put32(8);                                       // Exif IFD -> IFD0
    put32(8);                                                                           // next IFD -> IFD0
    return bytes;
}

TEST_F(DamagedMediaTest, LoopingIfdsEndWithoutAHang) {
    const fs::path dng = dir.path() / "loop.dng";
    writeBytes(dng, loopingTiff());
    const fs::path heic = dir.path() / "loop.heic";
    test::writeHeicWithExifBlock(heic, loopingTiff());

    for (const fs::path& path : {dng, heic}) {
        SCOPED_TRACE(path.filename().string());
        std::optional<ImagePosition> position;
        std::optional<DeviceData> device;
        EXPECT_EQ(readBoth(path, position, device), "");
        EXPECT_FALSE(position);
        EXPECT_EQ(device, (DeviceData{"Abc", std::nullopt, std::nullopt}));
    }
}

}  // namespace
}  // namespace corvane
