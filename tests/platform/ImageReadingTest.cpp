// One reading of an image answers the device and the position with the same values and the same lines
// as the two separate reads, and reads the file only once (a file replaced after the first answer does
// not change the second).

#include "tests/support/DiagnosticsCapture.h"
#include "platform/ImageMetadataReader.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <fstream>

namespace corvane {
namespace {

namespace fs = std::filesystem;

struct Answers {
    std::optional<DeviceData> device;
    std::optional<ImagePosition> position;
    std::vector<std::string> lines;
};

Answers separately(const fs::path& file) {
    DiagnosticsCapture capture;
    const ImageMetadataReader reader;
    Answers answers;
    answers.device = reader.read(file)->readDeviceData();
    answers.position = reader.read(file)->readImageGPS();
    answers.lines = capture.lines();
    return answers;
}

Answers together(const fs::path& file) {
    DiagnosticsCapture capture;
    const auto reading = ImageMetadataReader().read(file);
    Answers answers;
    answers.device = reading->readDeviceData();
    answers.position = reading->readImageGPS();
    answers.lines = capture.lines();
    return answers;
}

void expectSameAnswers(const Answers& a, const Answers& b) {
    EXPECT_EQ(a.device, b.device);
    ASSERT_EQ(a.position.has_value(), b.position.has_value());
    if (a.position) {
        EXPECT_EQ(a.position->latitude, b.position->latitude);
        EXPECT_EQ(a.position->longitude, b.position->longitude);
    }
    EXPECT_EQ(a.lines, b.lines);
}

TEST(ImageReading, AnswersAndLinesEqualTheSeparateReads) {
    test::TempDir dir;
    test::TestImage noExif = test::iPhoneImageAt(1, 2);
    noExif.withExif = false;
    const std::vector<fs::path> files = {
        [&] { const fs::path p = dir.path() / "a.HEIC"; test::writeHeic(p, test::iPhoneImageAt(37.7749, -122.4194)); return p; }(),
        [&] { const fs::path p = dir.path() / "b.DNG"; test::writeDng(p, test::cameraImageAt(-33.8688, 151.2093)); return p; }(),
        [&] { const fs::path p = dir.path() / "c.heic"; test::writeHeic(p, noExif); return p; }(),
        dir.writeFile("d.heic", "not an image at all"),
        dir.path() / "missing.heic",
    };
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        expectSameAnswers(separately(file), together(file));
    }
}

TEST(ImageReading, TheFileIsReadOnceForBothAnswers) {
    test::TempDir dir;
    const fs::path file = dir.path() / "IMG_0001.HEIC";
    test::writeHeic(file, test::iPhoneImageAt(37.7749, -122.4194));

    const auto reading = ImageMetadataReader().read(file);
    ASSERT_TRUE(reading->readDeviceData().has_value());
    std::ofstream(file, std::ios::trunc) << "replaced";  // the reading already holds what it needs
    const auto position = reading->readImageGPS();
    ASSERT_TRUE(position.has_value());
    EXPECT_EQ(position->latitude, 37.7749);
}

}  // namespace
}  // namespace corvane
