#include "tests/support/TestMedia.h"

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

// Exiv2 logs warnings to standard error by default; test output stays clean without them.
void quietExiv2() {
    static std::once_flag once;
    std::call_once(once, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

// Six decimals of a component (a second of arc to a millionth) are below 1e-9 degrees; whole values
// keep denominator 1 so that "10" reads back as exactly 10.
int32_t denominatorFor(double value) {
    const double magnitude = std::fabs(value);
    if (magnitude == std::floor(magnitude)) return 1;
    if (magnitude * 1'000'000.0 < 2'000'000'000.0) return 1'000'000;
    return 1'000;
}

Exiv2::URational unsignedRational(double value) {
    const int32_t denominator = denominatorFor(value);
    return {static_cast<uint32_t>(std::llround(std::fabs(value) * denominator)), static_cast<uint32_t>(denominator)};
}

Exiv2::Rational signedRational(double value) {
    const int32_t denominator = denominatorFor(value);
    return {static_cast<int32_t>(std::llround(value * denominator)), denominator};
}

void addCoordinate(Exiv2::ExifData& exif, const char* key, const StoredCoordinate& coordinate) {
    const Exiv2::ExifKey exifKey(key);
    switch (coordinate.kind) {
        case StoredCoordinate::Kind::rationals: {
            Exiv2::URationalValue value;
            for (double component : coordinate.components) value.value_.push_back(unsignedRational(component));
            exif.add(exifKey, &value);
            break;
        }
        case StoredCoordinate::Kind::signedRationals: {
            Exiv2::RationalValue value;
            for (double component : coordinate.components) value.value_.push_back(signedRational(component));
            exif.add(exifKey, &value);
            break;
        }
        case StoredCoordinate::Kind::text: {
            Exiv2::AsciiValue value(coordinate.text);
            exif.add(exifKey, &value);
            break;
        }
    }
}

void addText(Exiv2::ExifData& exif, const char* key, const std::optional<std::string>& text) {
    if (!text) return;
    Exiv2::AsciiValue value(*text);
    exif.add(Exiv2::ExifKey(key), &value);
}

// The metadata's tags as Exiv2 metadata.
Exiv2::ExifData exifDataFor(const TestImage& metadata) {
    Exiv2::ExifData exif;
    if (!metadata.withExif) return exif;
    // In the Exif IFD, Exiv2 knows these three tags only by their numbers.
    const bool inExif = metadata.cameraInExifIfd;
    addText(exif, inExif ? "Exif.Photo.0x010f" : "Exif.Image.Make", metadata.make);
    addText(exif, inExif ? "Exif.Photo.0x0110" : "Exif.Image.Model", metadata.model);
    addText(exif, inExif ? "Exif.Photo.0x0131" : "Exif.Image.Software", metadata.software);
    const bool anyGps = metadata.latitude || metadata.longitude || metadata.latitudeRef || metadata.longitudeRef;
    if (anyGps) {
        Exiv2::DataValue version(Exiv2::unsignedByte);
        version.read("2 3 0 0");
        exif.add(Exiv2::ExifKey("Exif.GPSInfo.GPSVersionID"), &version);
    }
    addText(exif, "Exif.GPSInfo.GPSLatitudeRef", metadata.latitudeRef);
    if (metadata.latitude) addCoordinate(exif, "Exif.GPSInfo.GPSLatitude", *metadata.latitude);
    addText(exif, "Exif.GPSInfo.GPSLongitudeRef", metadata.longitudeRef);
    if (metadata.longitude) addCoordinate(exif, "Exif.GPSInfo.GPSLongitude", *metadata.longitude);
    return exif;
}

TestImage imageAt(double latitude, double longitude, std::string make, std::string model) {
    TestImage metadata;
    metadata.latitude = StoredCoordinate::degrees(latitude);
    metadata.longitude = StoredCoordinate::degrees(longitude);
    metadata.latitudeRef = latitude >= 0 ? "N" : "S";
    metadata.longitudeRef = longitude >= 0 ? "E" : "W";
    metadata.make = std::move(make);
    metadata.model = std::move(model);
    return metadata;
}

void check(const heif_error& error, const char* what) {
    if (error.code != heif_error_Ok) {
        throw std::runtime_error(std::string("libheif: ") + what + ": " + (error.message ? error.message : "?"));
    }
}

void initHeif() {
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

// A 64x64 4:2:0 picture: a gradient, so the encoder has something to do.
std::unique_ptr<heif_image, decltype(&heif_image_release)> makePicture(int side = 64) {
    heif_image* raw = nullptr;
    check(heif_image_create(side, side, heif_colorspace_YCbCr, heif_chroma_420, &raw), "image create");
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(raw, heif_image_release);
    const struct {
        heif_channel channel;
        int side;
    } planes[] = {{heif_channel_Y, side}, {heif_channel_Cb, (side + 1) / 2}, {heif_channel_Cr, (side + 1) / 2}};
    for (const auto& plane : planes) {
        check(heif_image_add_plane(image.get(), plane.channel, plane.side, plane.side, 8), "add plane");
        int stride = 0;
        uint8_t* data = heif_image_get_plane(image.get(), plane.channel, &stride);
        if (data == nullptr) throw std::runtime_error("libheif: no plane data");
        for (int y = 0; y < plane.side; ++y) {
            for (int x = 0; x < plane.side; ++x) {
                data[y * stride + x] = plane.channel == heif_channel_Y ? static_cast<uint8_t>((x + y) * 2) : 128;
            }
        }
    }
    return image;
}

// A minimal little-endian TIFF: one 8x8 8-bit grey strip and the tags a reader needs to show it.
std::vector<uint8_t> minimalTiff() {
    std::vector<uint8_t> bytes;
    auto put16 = [&](uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        put16(static_cast<uint16_t>(v));
        put16(static_cast<uint16_t>(v >> 16));
    };
    constexpr uint16_t kShort = 3, kLong = 4;
    struct Entry {
        uint16_t tag, type;
        uint32_t value;
    };
    constexpr uint32_t side = 8;
    const Entry entries[] = {
        {256, kShort, side},  // ImageWidth
        {257, kShort, side},  // ImageLength
        {258, kShort, 8},     // BitsPerSample
        {259, kShort, 1},     // Compression: none
        {262, kShort, 1},     // PhotometricInterpretation: black is zero
        {273, kLong, 0},      // StripOffsets, filled in below
        {277, kShort, 1},     // SamplesPerPixel
        {278, kShort, side},  // RowsPerStrip
        {279, kLong, side * side},  // StripByteCounts
    };
    const uint32_t entryCount = sizeof entries / sizeof entries[0];
    const uint32_t ifdSize = 2 + entryCount * 12 + 4;
    const uint32_t stripOffset = 8 + ifdSize;

    bytes.insert(bytes.end(), {'I', 'I', 42, 0});
    put32(8);
    put16(static_cast<uint16_t>(entryCount));
    for (const Entry& entry : entries) {
        put16(entry.tag);
        put16(entry.type);
        put32(1);
        const uint32_t value = entry.tag == 273 ? stripOffset : entry.value;
        if (entry.type == kShort) {
            put16(static_cast<uint16_t>(value));
            put16(0);
        } else {
            put32(value);
        }
    }
    put32(0);  // no next IFD
    for (uint32_t i = 0; i < side * side; ++i) bytes.push_back(static_cast<uint8_t>(i * 4));
    return bytes;
}

}  // namespace

StoredCoordinate StoredCoordinate::degrees(double value) {
    const double magnitude = std::fabs(value);
    const double wholeDegrees = std::floor(magnitude);
    const double minutesTotal = (magnitude - wholeDegrees) * 60.0;
    const double wholeMinutes = std::floor(minutesTotal);
    // Seconds rounded to a millionth, so the stored value is exact to well under 1e-9 degrees.
    const double seconds = std::round((minutesTotal - wholeMinutes) * 60.0 * 1'000'000.0) / 1'000'000.0;
    StoredCoordinate coordinate;
    coordinate.kind = Kind::rationals;
    coordinate.components = {wholeDegrees, wholeMinutes, seconds};
    return coordinate;
}

StoredCoordinate StoredCoordinate::rationalList(std::vector<double> components) {
    StoredCoordinate coordinate;
    coordinate.kind = Kind::rationals;
    coordinate.components = std::move(components);
    return coordinate;
}

StoredCoordinate StoredCoordinate::signedDegrees(double value) {
    StoredCoordinate coordinate;
    coordinate.kind = Kind::signedRationals;
    coordinate.components = {value};
    return coordinate;
}

StoredCoordinate StoredCoordinate::asText(std::string text) {
    StoredCoordinate coordinate;
    coordinate.kind = Kind::text;
    coordinate.text = std::move(text);
    return coordinate;
}

TestImage iPhoneImageAt(double latitude, double longitude) {
    return imageAt(latitude, longitude, "Apple", "iPhone 15 Pro");
}

TestImage cameraImageAt(double latitude, double longitude) {
    return imageAt(latitude, longitude, "Canon", "Canon EOS R5");
}

std::vector<uint8_t> encodeExifTiff(const TestImage& metadata) {
    quietExiv2();
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, nullptr, 0, Exiv2::littleEndian, exifDataFor(metadata));
    return blob;
}

namespace {

void writeHeicWith(const fs::path& path, const std::optional<std::vector<uint8_t>>& exifBlock, int side = 64) {
    initHeif();
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    if (!context) throw std::runtime_error("libheif: no context");

    heif_encoder* rawEncoder = nullptr;
    check(heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder), "HEVC encoder");
    std::unique_ptr<heif_encoder, decltype(&heif_encoder_release)> encoder(rawEncoder, heif_encoder_release);
    // Speed over quality: tests only need a valid picture. The preset is a hint some encoders lack.
    heif_encoder_set_lossy_quality(encoder.get(), 10);
    heif_encoder_set_parameter_string(encoder.get(), "preset", "ultrafast");

    auto picture = makePicture(side);
    heif_image_handle* rawHandle = nullptr;
    check(heif_context_encode_image(context.get(), picture.get(), encoder.get(), nullptr, &rawHandle), "encode");
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(rawHandle, heif_image_handle_release);

    if (exifBlock) {
        // libheif puts the 4-byte offset to the TIFF header in front of the block itself.
        check(heif_context_add_exif_metadata(context.get(), handle.get(), exifBlock->data(),
                                             static_cast<int>(exifBlock->size())),
              "add Exif");
    }
    check(heif_context_write_to_file(context.get(), path.c_str()), "write");
}

}  // namespace

void writeHeic(const fs::path& path, const TestImage& metadata) {
    writeHeicWith(path, metadata.withExif ? std::optional(encodeExifTiff(metadata)) : std::nullopt);
}

void writeHeicWithExifBlock(const fs::path& path, const std::vector<uint8_t>& exifBlock) {
    writeHeicWith(path, exifBlock);
}

namespace {

// A small box patcher for HEIC files as libheif writes them (ftyp, meta, mdat): it rewrites the
// "iloc" box as version 1 and moves or splits the Exif item, shifting every other item's file offsets
// by what "meta" grew.
uint64_t bigEndianAt(const std::vector<uint8_t>& bytes, size_t at, size_t size) {
    if (at + size > bytes.size()) throw std::runtime_error("HEIC patch: field beyond the file");
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value = (value << 8) | bytes[at + i];
    return value;
}

void appendBigEndian(std::vector<uint8_t>& out, uint64_t value, size_t size) {
    for (size_t i = size; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> box(const char* type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    out.reserve(body.size() + 8);
    appendBigEndian(out, body.size() + 8, 4);
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

struct IlocItem {
    uint32_t id = 0;
    uint16_t method = 0;
    std::vector<std::pair<uint64_t, uint64_t>> extents;  // offset, length
};

std::vector<IlocItem> parseIloc(const std::vector<uint8_t>& bytes, size_t at) {
    const auto version = static_cast<uint8_t>(bytes.at(at));
    at += 4;
    const size_t offsetSize = bytes.at(at) >> 4, lengthSize = bytes.at(at) & 15, baseSize = bytes.at(at + 1) >> 4;
    const size_t indexSize = version >= 1 ? (bytes.at(at + 1) & 15) : 0;
    at += 2;
    const size_t idSize = version < 2 ? 2 : 4;
    const uint64_t count = bigEndianAt(bytes, at, idSize);
    at += idSize;
    std::vector<IlocItem> items;
    for (uint64_t i = 0; i < count; ++i) {
        IlocItem item;
        item.id = static_cast<uint32_t>(bigEndianAt(bytes, at, idSize));
        at += idSize;
        if (version >= 1) item.method = bigEndianAt(bytes, at, 2) & 15, at += 2;
        at += 2;  // data_reference_index
        const uint64_t base = bigEndianAt(bytes, at, baseSize);
        at += baseSize;
        const uint64_t extents = bigEndianAt(bytes, at, 2);
        at += 2;
        for (uint64_t e = 0; e < extents; ++e) {
            at += indexSize;
            const uint64_t offset = bigEndianAt(bytes, at, offsetSize);
            const uint64_t length = bigEndianAt(bytes, at + offsetSize, lengthSize);
            at += offsetSize + lengthSize;
            item.extents.emplace_back(base + offset, length);
        }
        items.push_back(item);
    }
    return items;
}

std::vector<uint8_t> ilocVersion1(const std::vector<IlocItem>& items) {
    std::vector<uint8_t> body = {1, 0, 0, 0, 0x44, 0x00};  // version 1; offsets and lengths of 4 bytes
    appendBigEndian(body, items.size(), 2);
    for (const IlocItem& item : items) {
        appendBigEndian(body, item.id, 2);
        appendBigEndian(body, item.method, 2);
        appendBigEndian(body, 0, 2);
        appendBigEndian(body, item.extents.size(), 2);
        for (const auto& [offset, length] : item.extents) {
            appendBigEndian(body, offset, 4);
            appendBigEndian(body, length, 4);
        }
    }
    return box("iloc", body);
}

void relayoutExif(const fs::path& path, HeicLayout layout, const std::vector<uint8_t>& tiff) {
    std::vector<uint8_t> bytes = readBytes(path);
    const size_t metaStart = bigEndianAt(bytes, 0, 4);
    if (std::string(bytes.begin() + metaStart + 4, bytes.begin() + metaStart + 8) != "meta")
        throw std::runtime_error("HEIC patch: no meta box after ftyp");
    const size_t metaEnd = metaStart + bigEndianAt(bytes, metaStart, 4);

    // The meta box's children, with iloc parsed.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> children;
    std::vector<IlocItem> items;
    for (size_t at = metaStart + 12; at < metaEnd;) {
        const size_t size = bigEndianAt(bytes, at, 4);
        const std::string type(bytes.begin() + at + 4, bytes.begin() + at + 8);
        if (type == "iloc") items = parseIloc(bytes, at + 8);
        children.emplace_back(type, std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + size));
        at += size;
    }
    // The Exif item: the one whose single extent holds the TIFF structure.
    auto exif = std::find_if(items.begin(), items.end(), [&](const IlocItem& item) {
        if (item.extents.size() != 1) return false;
        const auto [offset, length] = item.extents[0];
        return std::search(bytes.begin() + offset, bytes.begin() + offset + length, tiff.begin(), tiff.end()) !=
               bytes.begin() + offset + length;
    });
    if (exif == items.end()) throw std::runtime_error("HEIC patch: no Exif item");
    const auto [exifOffset, exifLength] = exif->extents[0];
    const std::vector<uint8_t> payload(bytes.begin() + exifOffset, bytes.begin() + exifOffset + exifLength);

    std::vector<uint8_t> tail;  // appended after mdat
    std::vector<uint8_t> idat;
    if (layout == HeicLayout::exifInIdat) {
        exif->method = 1;
        exif->extents = {{0, exifLength}};
        idat = box("idat", payload);
    } else {
        // The second half goes into a "free" box at the end; its old place in mdat is zeroed, so only
        // a reader that follows both extents finds the block.
        const uint64_t firstPart = exifLength / 2;
        std::fill(bytes.begin() + exifOffset + firstPart, bytes.begin() + exifOffset + exifLength, uint8_t{0});
        tail = box("free", {payload.begin() + firstPart, payload.end()});
        exif->extents = {{exifOffset, firstPart}, {bytes.size() + 8, exifLength - firstPart}};
    }
    // meta grows by the new iloc's extra size and the idat box: every file offset behind it moves.
    std::vector<uint8_t> meta = {0, 0, 0, 0};
    for (int pass = 0; pass < 2; ++pass) {
        meta = {0, 0, 0, 0};
        for (const auto& [type, child] : children) {
            const std::vector<uint8_t> replaced = type == "iloc" ? ilocVersion1(items) : child;
            meta.insert(meta.end(), replaced.begin(), replaced.end());
        }
        meta.insert(meta.end(), idat.begin(), idat.end());
        if (pass == 0) {
            const int64_t growth = static_cast<int64_t>(meta.size() + 8) - static_cast<int64_t>(metaEnd - metaStart);
            for (IlocItem& item : items)
                if (item.method == 0)
                    for (auto& extent : item.extents) extent.first = static_cast<uint64_t>(static_cast<int64_t>(extent.first) + growth);
        }
    }
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + metaStart);
    const std::vector<uint8_t> metaBox = box("meta", meta);
    out.insert(out.end(), metaBox.begin(), metaBox.end());
    out.insert(out.end(), bytes.begin() + metaEnd, bytes.end());
    out.insert(out.end(), tail.begin(), tail.end());
    writeBytes(path, out);
}

}  // namespace

void writeHeic(const fs::path& path, const TestImage& metadata, HeicLayout layout) {
    const std::vector<uint8_t> tiff = encodeExifTiff(metadata);
    // An odd-sized picture is coded at the next even size; libheif then crops it with a grid item.
    writeHeicWith(path, tiff, layout == HeicLayout::grid ? 63 : 64);
    if (layout == HeicLayout::exifInIdat || layout == HeicLayout::exifInTwoExtents) relayoutExif(path, layout, tiff);
}

std::vector<uint8_t> exifBlockByLibheif(const fs::path& path) {
    initHeif();
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    check(heif_context_read_from_file(context.get(), path.c_str(), nullptr), "read");
    heif_image_handle* rawHandle = nullptr;
    check(heif_context_get_primary_image_handle(context.get(), &rawHandle), "primary image");
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(rawHandle, heif_image_handle_release);
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) < 1) return {};
    std::vector<uint8_t> block(heif_image_handle_get_metadata_size(handle.get(), id));
    check(heif_image_handle_get_metadata(handle.get(), id, block.data()), "Exif");
    return block;
}

void writeDng(const fs::path& path, const TestImage& metadata) {
    quietExiv2();
    {
        const std::vector<uint8_t> tiff = minimalTiff();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(tiff.data()), static_cast<std::streamsize>(tiff.size()));
        if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
    }
    try {
        auto image = Exiv2::ImageFactory::open(path.string());
        if (image.get() == nullptr) throw std::runtime_error("Exiv2 cannot open " + path.string());
        image->readMetadata();
        Exiv2::ExifData& exif = image->exifData();
        Exiv2::DataValue dngVersion(Exiv2::unsignedByte);
        dngVersion.read("1 4 0 0");
        exif.add(Exiv2::ExifKey("Exif.Image.DNGVersion"), &dngVersion);
        for (const Exiv2::Exifdatum& datum : exifDataFor(metadata)) exif.add(datum);
        image->writeMetadata();
    } catch (const Exiv2::AnyError& error) {
        throw std::runtime_error("Exiv2 cannot write " + path.string() + ": " + error.what());
    }
}

void writeJpeg(const fs::path& path, const TestImage& metadata) {
    quietExiv2();
    try {
        auto image = Exiv2::ImageFactory::create(Exiv2::ImageType::jpeg, path.string());
        if (image.get() == nullptr) throw std::runtime_error("Exiv2 cannot create " + path.string());
        image->setExifData(exifDataFor(metadata));
        image->writeMetadata();
    } catch (const Exiv2::AnyError& error) {
        throw std::runtime_error("Exiv2 cannot write " + path.string() + ": " + error.what());
    }
}

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace corvane::test

// x265 keeps a few small buffers of its thread pool until the process ends; they are not ours to free,
// and LeakSanitizer would otherwise fail every test that encodes a HEIC.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
