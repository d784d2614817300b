// SPDX-License-Identifier: GPL-3.0-or-later
// The TIFF walk that reads a HEIF's Exif block, against Exiv2's decoding of the same blocks: every
// block is written by Exiv2's own encoder in both byte orders, and the walk must give exactly the
// groups that Exiv2's decoder gives for the tags the reading rules use. Then what only the walk
// decides: damaged structures.

#include "platform/image/ExifProperties.h"
#include "platform/image/ExifTiff.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>

#include <algorithm>

namespace corvane {
namespace {

// One tag as Exiv2 writes it: its key, its TIFF type and its value in Exiv2's text form.
struct Tag {
    const char* key;
    Exiv2::TypeId type;
    std::string value;
};

// "1 2 ... n": a value of n components.
std::string components(int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) text += std::to_string(i) + " ";
    return text;
}

std::vector<uint8_t> encode(const std::vector<Tag>& tags, Exiv2::ByteOrder order) {
    Exiv2::ExifData exif;
    for (const Tag& tag : tags) {
        auto value = Exiv2::Value::create(tag.type);
        value->read(tag.value);
        exif.add(Exiv2::ExifKey(tag.key), value.get());
    }
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, nullptr, 0, order, exif);
    return blob;
}

// Exiv2's groups with the TIFF and Exif groups cut to what the walk reads of them.
PropertySet decodedByExiv2(const std::vector<uint8_t>& tiff) {
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, tiff.data(), static_cast<uint32_t>(tiff.size()));
    PropertySet properties = propertiesFromExif(exif);
    for (auto* group : {&properties.tiff, &properties.exif})
        if (*group) std::erase_if(**group, [](const auto& entry) { return entry.first != "Make" && entry.first != "Model" && entry.first != "Software"; });
    return properties;
}

std::string describe(const std::optional<PropertyGroup>& group) { return group ? describeGroup(*group) : "(none)"; }

const Tag apple{"Exif.Image.Make", Exiv2::asciiString, "Apple"};
const Tag north{"Exif.GPSInfo.GPSLatitudeRef", Exiv2::asciiString, "N"};
const Tag latitude{"Exif.GPSInfo.GPSLatitude", Exiv2::unsignedRational, "37/1 46/1 2964/100"};

TEST(ExifTiff, ReadsWhatExiv2DecodesFromTheSameBlock) {
    const struct {
        const char* why;
        std::vector<Tag> tags;
    } cases[] = {
        {"an iPhone photo", {apple, {"Exif.Image.Model", Exiv2::asciiString, "iPhone 15 Pro"}, {"Exif.Image.Software", Exiv2::asciiString, "17.1"},
                             {"Exif.GPSInfo.GPSVersionID", Exiv2::unsignedByte, "2 3 0 0"}, north, latitude,
                             {"Exif.GPSInfo.GPSLongitudeRef", Exiv2::asciiString, "W"},
                             {"Exif.GPSInfo.GPSLongitude", Exiv2::unsignedRational, "122/1 25/1 984/100"}}},
        {"the other GPS tags a phone writes, named as Exiv2 names them",
         {north, latitude, {"Exif.GPSInfo.GPSAltitudeRef", Exiv2::unsignedByte, "0"}, {"Exif.GPSInfo.GPSAltitude", Exiv2::unsignedRational, "1234/100"},
          {"Exif.GPSInfo.GPSTimeStamp", Exiv2::unsignedRational, "18/1 32/1 7/1"}, {"Exif.GPSInfo.GPSSpeedRef", Exiv2::asciiString, "K"},
          {"Exif.GPSInfo.GPSImgDirection", Exiv2::unsignedRational, "2315/10"}, {"Exif.GPSInfo.GPSDateStamp", Exiv2::asciiString, "2024:06:14"},
          {"Exif.GPSInfo.GPSHPositioningError", Exiv2::unsignedRational, "5/1"}, {"Exif.GPSInfo.GPSProcessingMethod", Exiv2::undefined, "65 66 67"},
          {"Exif.GPSInfo.GPSDifferential", Exiv2::unsignedShort, "1"}}},
        {"a GPS tag the standard does not name", {latitude, {"Exif.GPSInfo.0x0020", Exiv2::signedLong, "-7"}}},
        {"camera tags only in the Exif IFD", {{"Exif.Photo.0x010f", Exiv2::asciiString, "Apple"}, {"Exif.Photo.0x0110", Exiv2::asciiString, "iPhone"},
                                             {"Exif.Photo.ExposureTime", Exiv2::unsignedRational, "1/120"}, latitude}},
        {"camera tags in both", {apple, {"Exif.Photo.0x010f", Exiv2::asciiString, "Canon"}, {"Exif.Photo.0x0131", Exiv2::asciiString, "Capture"}}},
        {"one rational, two, and signed ones", {{"Exif.GPSInfo.GPSLatitude", Exiv2::unsignedRational, "101/10"},
                                                {"Exif.GPSInfo.GPSLongitude", Exiv2::signedRational, "-20/1 30/1"}}},
        {"four rationals are no sum but a list", {{"Exif.GPSInfo.GPSLatitude", Exiv2::unsignedRational, "10/1 30/1 0/1 5/1"}}},
        {"degrees 0/0: no fix", {{"Exif.GPSInfo.GPSLatitude", Exiv2::unsignedRational, "0/0 0/0 0/0"},
                                 {"Exif.GPSInfo.GPSLongitude", Exiv2::unsignedRational, "0/0"}}},
        {"minutes 0/0 count as 0", {{"Exif.GPSInfo.GPSLatitude", Exiv2::unsignedRational, "10/1 0/0 30/1"}}},
        {"a zero denominator outside a coordinate", {latitude, {"Exif.GPSInfo.GPSAltitude", Exiv2::unsignedRational, "5/0"}}},
        {"doubles and floats at their own precision", {{"Exif.GPSInfo.GPSLatitude", Exiv2::tiffDouble, "37.7749"},
                                                        {"Exif.GPSInfo.GPSLongitude", Exiv2::tiffFloat, "-122.4194"}}},
        {"several doubles are a list", {{"Exif.GPSInfo.GPSLatitude", Exiv2::tiffDouble, "37 46 29.64"}}},
        {"a coordinate as text", {{"Exif.GPSInfo.GPSLatitude", Exiv2::asciiString, "10 deg 30' 36\""}, north}},
        {"texts keep their blanks; an empty text", {{"Exif.Image.Make", Exiv2::asciiString, " Ap"}, {"Exif.Image.Model", Exiv2::asciiString, ""}}},
        {"integers of every width and sign (a signed byte read as unsigned, as Exiv2 does)", {{"Exif.GPSInfo.GPSLatitude", Exiv2::signedShort, "-12"}, {"Exif.GPSInfo.GPSLongitude", Exiv2::unsignedLong, "4000000000"},
                                              {"Exif.GPSInfo.GPSAltitudeRef", Exiv2::signedByte, "-1"}, {"Exif.GPSInfo.GPSSatellites", Exiv2::signedLong, "-5 6"}}},
        {"a reference that is no text", {latitude, {"Exif.GPSInfo.GPSLatitudeRef", Exiv2::unsignedShort, "83"}}},
        {"a long list is cut at 64", {latitude, {"Exif.GPSInfo.GPSAreaInformation", Exiv2::unsignedShort, components(200)}}},
        {"no GPS IFD", {apple}},
    };
    for (const auto& c : cases) {
        for (const Exiv2::ByteOrder order : {Exiv2::littleEndian, Exiv2::bigEndian}) {
            SCOPED_TRACE(std::string(c.why) + (order == Exiv2::bigEndian ? ", big-endian" : ", little-endian"));
            const std::vector<uint8_t> tiff = encode(c.tags, order);
            const PropertySet expected = decodedByExiv2(tiff);
            const std::optional<PropertySet> walked = readExifTiff(tiff);
            ASSERT_TRUE(walked);
            EXPECT_EQ(describe(walked->gps), describe(expected.gps));
            EXPECT_EQ(walked->gps, expected.gps);
            EXPECT_EQ(describe(walked->tiff), describe(expected.tiff));
            EXPECT_EQ(describe(walked->exif), describe(expected.exif));
        }
    }
}

// Damage done to an encoded iPhone block: what the walk must make of it, reading nothing outside it.
TEST(ExifTiff, ReadsOnlyWhatLiesInsideTheBlock) {
    const std::vector<uint8_t> good = test::encodeExifTiff(test::iPhoneImageAt(37.7749, -122.4194));
    const uint32_t ifd0 = good[4] | good[5] << 8;
    auto entryOf = [&](uint16_t tag, uint32_t ifd) {
        for (size_t at = ifd + 2; at + 12 <= good.size(); at += 12)
            if ((good[at] | good[at + 1] << 8) == tag) return at;
        return good.size();
    };
    const size_t gpsPointer = entryOf(0x8825, ifd0);
    ASSERT_LT(gpsPointer, good.size());
    const uint32_t gpsIfd = good[gpsPointer + 8] | good[gpsPointer + 9] << 8;
    const size_t latitudeEntry = entryOf(2, gpsIfd);
    ASSERT_LT(latitudeEntry, good.size());

    auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> tiff = good;
        std::copy(bytes.begin(), bytes.end(), tiff.begin() + static_cast<long>(at));
        return tiff;
    };
    const struct {
        const char* why;
        std::vector<uint8_t> tiff;
        std::string gps;  // the GPS group as the diagnostic line renders it
        bool hasMake;
    } cases[] = {
        {"the block as written", good, "{Latitude = 37.7749; LatitudeRef = N; Longitude = 122.4194; LongitudeRef = W; VersionID = (2, 3, 0, 0)}", true},
        {"the latitude's rationals lie past the end", patched(latitudeEntry + 8, {0xf0, 0xff, 0, 0}),
         "{LatitudeRef = N; Longitude = 122.4194; LongitudeRef = W; VersionID = (2, 3, 0, 0)}", true},
        {"the latitude claims 2^28 rationals", patched(latitudeEntry + 4, {0, 0, 0, 0x10}),
         "{LatitudeRef = N; Longitude = 122.4194; LongitudeRef = W; VersionID = (2, 3, 0, 0)}", true},
        {"the GPS IFD lies past the end", patched(gpsPointer + 8, {0xff, 0xff, 0xff, 0x7f}), "(none)", true},
        {"the GPS IFD counts 300 entries", patched(gpsIfd, {0x2c, 0x01}), "(none)", true},
        {"the GPS IFD is IFD0 again", patched(gpsPointer + 8, {good[4], good[5], 0, 0}), "(none)", true},
        {"IFD0 lies past the end", patched(4, {0xff, 0xff, 0, 0}), "(none)", false},
        {"a cut block keeps what lies before the cut", std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(gpsIfd) + 2 + 12), "{VersionID = (2, 3, 0, 0)}", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::optional<PropertySet> walked = readExifTiff(c.tiff);
        ASSERT_TRUE(walked);
        EXPECT_EQ(describe(walked->gps), c.gps);
        EXPECT_EQ(walked->tiff && walked->tiff->contains("Make"), c.hasMake);
    }
    for (const std::vector<uint8_t>& noTiff : {std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0}, std::vector<uint8_t>{'I', 'M', 42, 0, 8, 0, 0, 0},
                                               std::vector<uint8_t>{'M', 'M', 42, 0, 0, 0, 0, 8}})
        EXPECT_FALSE(readExifTiff(noTiff));
}

}  // namespace
}  // namespace corvane
