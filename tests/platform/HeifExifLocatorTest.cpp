// The HEIF box walker on real files written by libheif's encoder (some relaid by the test media's box
// patcher): it finds exactly the Exif bytes libheif finds, reads nothing of the coded picture, and
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

struct Located {
    HeifExif exif;
    uint64_t bytesRead = 0;
};

Located locate(const fs::path& path) {
    ImageFile file(path);
    Located located;
    located.exif = readHeifExif(
        [&](uint64_t offset, std::span<uint8_t> out) {
            located.bytesRead += out.size();
            return file.readAt(offset, out);
        },
        file.size());
    return located;
}

// Where the first top-level "mdat" box starts: everything before it is ftyp and meta.
size_t mdatStart(const std::vector<uint8_t>& bytes) {
    const std::string mdat = "mdat";
    return static_cast<size_t>(std::search(bytes.begin(), bytes.end(), mdat.begin(), mdat.end()) - bytes.begin()) - 4;
}

bool contains(const std::vector<uint8_t>& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST(HeifExifLocator, FindsTheBytesLibheifFindsAndReadsNoPictureData) {
    const struct {
        const char* why;
        HeicLayout layout;
    } cases[] = {
        {"one coded picture, Exif in mdat", HeicLayout::single},
        {"a grid as the primary item", HeicLayout::grid},
        {"Exif in idat (construction method 1)", HeicLayout::exifInIdat},
        {"Exif in two extents, the second after mdat", HeicLayout::exifInTwoExtents},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const fs::path path = dir.path() / "IMG.HEIC";
        test::writeHeic(path, test::iPhoneImageAt(37.7749, -122.4194), c.layout);
        const std::vector<uint8_t> bytes = test::readBytes(path);
        if (c.layout == HeicLayout::grid) {
            ASSERT_TRUE(contains(bytes, "grid"));
        }
        const std::vector<uint8_t> expected = test::exifBlockByLibheif(path);
        ASSERT_FALSE(expected.empty());

        const Located located = locate(path);
        ASSERT_EQ(located.exif.status, HeifExif::Status::found);
        EXPECT_EQ(located.exif.block, expected);
        // The boxes before mdat, one more box header, and the Exif bytes; the picture is never read.
        EXPECT_LE(located.bytesRead, mdatStart(bytes) + 16 + expected.size());
        const auto properties = decodeHeifExifBlock(located.exif.block);
        ASSERT_TRUE(properties && properties->gps);
    }
}

// One field of a real file overwritten, and what the walker must make of it.
TEST(HeifExifLocator, RefusesSizesAndCountsThatDoNotFit) {
    const struct {
        const char* why;
        const char* box;  // the four-character type the patch is placed after
        int offset;       // from the type's first byte
        std::vector<uint8_t> bytes;
        HeifExif::Status expected;
    } cases[] = {
        {"meta of size 0 runs to the end of the file", "meta", -4, {0, 0, 0, 0}, HeifExif::Status::found},
        {"meta larger than the file", "meta", -4, {0x7f, 0xff, 0xff, 0xff}, HeifExif::Status::damaged},
        {"a 64-bit meta size too small for its own children", "meta", -4, {0, 0, 0, 1}, HeifExif::Status::damaged},
        {"iloc counts more items than it holds", "iloc", 10, {0xff, 0xff}, HeifExif::Status::damaged},
        {"the primary item is not in iinf", "pitm", 8, {0x7f, 0x7f}, HeifExif::Status::damaged},
        {"the Exif item describes another item", "cdsc", 8, {0x7f, 0x7f}, HeifExif::Status::noExif},
        {"no HEIF brand in ftyp", "ftyp", 4, {'i', 's', 'o', 'm', 0, 0, 0, 0, 'i', 's', 'o', 'm', 'i', 's', 'o', '2', 'm', 'p', '4', '1'},
         HeifExif::Status::notHeif},
    };
    test::TempDir dir;
    const fs::path original = dir.path() / "original.heic";
    test::writeHeic(original, test::iPhoneImageAt(1, 2));
    const std::vector<uint8_t> bytes = test::readBytes(original);
    ASSERT_EQ(bytes[11], 'c') << "libheif's ftyp: major brand heic, three compatible brands";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> patched = bytes;
        const std::string type = c.box;
        const auto at = std::search(patched.begin(), patched.end(), type.begin(), type.end()) + c.offset;
        std::copy(c.bytes.begin(), c.bytes.end(), at);
        const fs::path path = dir.path() / "patched.heic";
        test::writeBytes(path, patched);
        EXPECT_EQ(locate(path).exif.status, c.expected);
    }
}

}  // namespace
}  // namespace corvane
