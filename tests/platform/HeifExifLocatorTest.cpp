// The HEIF box walker on real files written by libheif's encoder (some relaid by the test media's box
// patcher): it finds exactly the Exif block written (libheif's offset field, then the TIFF structure), reads nothing of the coded picture, and
// refuses structures that lie about their sizes.

#include "platform/ExifProperties.h"
#include "platform/HeifExifLocator.h"
#include "platform/ImageFile.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::HeicLayout;
using Status = HeifExif::Status;

HeifExif locate(const fs::path& path, uint64_t* bytesRead = nullptr) {
    ImageFile file(path);
    return readHeifExif(
        [&](uint64_t offset, std::span<uint8_t> out) {
            if (bytesRead) *bytesRead += out.size();
            return file.readAt(offset, out);
        },
        file.size());
}

// Where the text first occurs in the bytes; their size when it does not.
size_t offsetOf(const std::vector<uint8_t>& bytes, const std::string& text) {
    return static_cast<size_t>(std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) - bytes.begin());
}

TEST(HeifExifLocator, FindsTheExifBlockInEveryLayoutAndReadsNoPictureData) {
    const test::TempDir dir;
    // Each layout with the box that only it has (libheif's single picture has none of the others).
    const std::pair<HeicLayout, std::string> layouts[] = {
        {HeicLayout::single, "mdat"}, {HeicLayout::grid, "grid"}, {HeicLayout::exifInIdat, "idat"}, {HeicLayout::exifInTwoExtents, "free"}};
    for (const auto& [layout, box] : layouts) {
        SCOPED_TRACE(box);
        const fs::path path = dir.path() / "IMG.HEIC";
        test::writeHeic(path, test::iPhoneImageAt(37.7749, -122.4194), layout);
        const std::vector<uint8_t> bytes = test::readBytes(path);
        ASSERT_LT(offsetOf(bytes, box), bytes.size());
        std::vector<uint8_t> expected = {0, 0, 0, 0};
        for (uint8_t byte : test::encodeExifTiff(test::iPhoneImageAt(37.7749, -122.4194))) expected.push_back(byte);

        uint64_t bytesRead = 0;
        const HeifExif exif = locate(path, &bytesRead);
        ASSERT_EQ(exif.status, Status::found);
        EXPECT_EQ(exif.block, expected);
        // The boxes before mdat, one more box header, and the Exif bytes; the picture is never read.
        EXPECT_LE(bytesRead, offsetOf(bytes, "mdat") - 4 + 16 + expected.size());
        const auto properties = decodeHeifExifBlock(exif.block);
        EXPECT_TRUE(properties && properties->gps);
    }
}

// One field of a real file overwritten, and what the walker must make of it.
TEST(HeifExifLocator, RefusesSizesAndCountsThatDoNotFit) {
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
        {"iloc counts more items than it holds", "iloc", 10, {0xff, 0xff}, Status::damaged},
        {"the primary item is not in iinf", "pitm", 8, {0x7f, 0x7f}, Status::damaged},
        {"the Exif item describes another item", "cdsc", 8, {0x7f, 0x7f}, Status::noExif},
        {"no HEIF brand in ftyp", "ftyp", 4, {'i', 's', 'o', 'm', 0, 0, 0, 0, 'i', 's', 'o', 'm', 'i', 's', 'o', '2', 'm', 'p', '4', '1'},
         Status::notHeif},
    };
    const test::TempDir dir;
    const fs::path path = dir.path() / "patched.heic";
    test::writeHeic(path, test::iPhoneImageAt(1, 2));
    const std::vector<uint8_t> bytes = test::readBytes(path);
    ASSERT_EQ(bytes[11], 'c') << "libheif's ftyp: major brand heic, three compatible brands";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> patched = bytes;
        std::copy(c.bytes.begin(), c.bytes.end(), patched.begin() + static_cast<long>(offsetOf(bytes, c.box)) + c.offset);
        test::writeBytes(path, patched);
        EXPECT_EQ(locate(path).status, c.expected);
    }
}

}  // namespace
}  // namespace corvane
