// The value conversion and the device/GPS rules applied to property groups, without any file: the value
// kinds here include some that the container readers never produce but another reader could.

#include "tests/support/DiagnosticsCapture.h"
#include "platform/ImageProperties.h"

#include <gtest/gtest.h>

#include <limits>

namespace corvane {
namespace {

MetadataValue number(double value) { return {value}; }
MetadataValue integer(int64_t value) { return {value}; }
MetadataValue text(std::string value) { return {std::move(value)}; }
MetadataValue list(std::vector<MetadataValue> values) { return {std::move(values)}; }
MetadataValue other() { return {MetadataValue::Other{}}; }

struct ValueCase {
    const char* why;
    MetadataValue value;
    std::optional<double> expected;
};

TEST(ParseImageGPSValue, ConvertsEveryValueKind) {
    const ValueCase cases[] = {
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
        {"degree-minute-second text", text("10 deg 30' 36\""), 10.51},
        {"deg in any case", text("10 Deg 30' 36\""), 10.51},
        {"deg text the recogniser cannot read", text("deg"), std::nullopt},
        {"anything else", other(), std::nullopt},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.why);
        const auto result = parseImageGPSValue(&c.value);
        ASSERT_EQ(result.has_value(), c.expected.has_value());
        if (result) {
            EXPECT_NEAR(*result, *c.expected, 1e-12);
        }
    }
    EXPECT_EQ(parseImageGPSValue(nullptr), std::nullopt);
}

PropertySet gpsSet(PropertyGroup gps) {
    PropertySet set;
    set.gps = std::move(gps);
    return set;
}

TEST(ImageGPSFromProperties, AbsentPropertiesAndMissingGroupsHaveTheirOwnLines) {
    DiagnosticsCapture capture;
    EXPECT_FALSE(imageGPSFromProperties(std::nullopt, "a.heic"));
    EXPECT_FALSE(imageGPSFromProperties(PropertySet{}, "b.heic"));
    PropertySet tiffOnly;
    tiffOnly.tiff.emplace();
    EXPECT_FALSE(imageGPSFromProperties(tiffOnly, "c.heic"));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "[DEBUG] No properties for a.heic",
                                   "[DEBUG] No GPS dictionary for b.heic",
                                   "[DEBUG] No GPS dictionary for c.heic",
                               }));
}

TEST(ImageGPSFromProperties, AReferenceThatIsNoTextChangesNothing) {
    DiagnosticsCapture capture;
    const auto position = imageGPSFromProperties(
        gpsSet({{"Latitude", number(10)}, {"LatitudeRef", integer(83)}, {"Longitude", number(-5)}, {"LongitudeRef", other()}}),
        "x.dng");
    ASSERT_TRUE(position);
    EXPECT_EQ(position->latitude, 10.0);
    EXPECT_EQ(position->longitude, -5.0);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[DEBUG] x.dng GPS: lat=10.0 (N) lon=-5.0 (W)"}));
}

TEST(ImageGPSFromProperties, AnUnusableLatitudeListsTheGroupOnOneLine) {
    DiagnosticsCapture capture;
    EXPECT_FALSE(imageGPSFromProperties(
        gpsSet({{"Latitude", list({})}, {"Longitude", list({number(1), number(2.5)})}, {"LatitudeRef", text("N")}}),
        "y.heic"));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "[DEBUG] GPS lat/lon missing or unparsable in y.heic",
                                   "[DEBUG] GPS dictionary contents: {Latitude = (); LatitudeRef = N; Longitude = (1.0, 2.5)}",
                               }));
}

TEST(ImageGPSFromProperties, NegativeZeroAndNotANumberKeepTheirHemisphereRule) {
    DiagnosticsCapture capture;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto position = imageGPSFromProperties(gpsSet({{"Latitude", number(-0.0)}, {"Longitude", number(nan)}}), "z.heic");
    ASSERT_TRUE(position);
    ASSERT_EQ(capture.lines().size(), 1u);
    // -0.0 >= 0 holds, so it is northern; NaN >= 0 does not, so it is western.
    EXPECT_NE(capture.lines()[0].find("(N) lon="), std::string::npos) << capture.lines()[0];
    EXPECT_NE(capture.lines()[0].find("(W)"), std::string::npos) << capture.lines()[0];
}

TEST(DeviceDataFromProperties, TakesEachFieldFromTiffThenExif) {
    DiagnosticsCapture capture;
    PropertySet set;
    set.tiff = PropertyGroup{{"Make", text("Apple")}, {"Model", integer(15)}};
    set.exif = PropertyGroup{{"Model", text("iPhone 15 Pro")}, {"Software", other()}};
    const DeviceData device = deviceDataFromProperties(set, "IMG_0001.HEIC");
    EXPECT_EQ(device, (DeviceData{"Apple", "iPhone 15 Pro", std::nullopt}));
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"[DEBUG] IMG_0001.HEIC Device: make=Apple model=iPhone 15 Pro software=nil"}));
}

TEST(DeviceDataFromProperties, NoGroupsGiveARecordWithEveryFieldAbsent) {
    DiagnosticsCapture capture;
    EXPECT_EQ(deviceDataFromProperties(PropertySet{}, "a.dng"), DeviceData{});
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[DEBUG] a.dng Device: make=nil model=nil software=nil"}));
}

}  // namespace
}  // namespace corvane
