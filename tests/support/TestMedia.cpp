#include "tests/support/TestMedia.h"

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

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
Exiv2::ExifData exifDataFor(const ImageSpec& metadata) {
    Exiv2::ExifData exif;
    if (!metadata.withExif) return exif;
    addText(exif, "Exif.Image.Make", metadata.make);
    addText(exif, "Exif.Image.Model", metadata.model);
    addText(exif, "Exif.Image.Software", metadata.software);
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

ImageSpec imageAt(double latitude, double longitude, std::string make, std::string model) {
    ImageSpec metadata;
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
std::unique_ptr<heif_image, decltype(&heif_image_release)> makePicture() {
    constexpr int side = 64;
    heif_image* raw = nullptr;
    check(heif_image_create(side, side, heif_colorspace_YCbCr, heif_chroma_420, &raw), "image create");
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(raw, heif_image_release);
    const struct {
        heif_channel channel;
        int side;
    } planes[] = {{heif_channel_Y, side}, {heif_channel_Cb, side / 2}, {heif_channel_Cr, side / 2}};
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

ImageSpec iPhoneImageAt(double latitude, double longitude) {
    return imageAt(latitude, longitude, "Apple", "iPhone 15 Pro");
}

ImageSpec cameraImageAt(double latitude, double longitude) {
    return imageAt(latitude, longitude, "Canon", "Canon EOS R5");
}

std::vector<uint8_t> encodeExifTiff(const ImageSpec& metadata) {
    quietExiv2();
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, nullptr, 0, Exiv2::littleEndian, exifDataFor(metadata));
    return blob;
}

namespace {

void writeHeicWith(const fs::path& path, const std::optional<std::vector<uint8_t>>& exifBlock) {
    initHeif();
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    if (!context) throw std::runtime_error("libheif: no context");

    heif_encoder* rawEncoder = nullptr;
    check(heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder), "HEVC encoder");
    std::unique_ptr<heif_encoder, decltype(&heif_encoder_release)> encoder(rawEncoder, heif_encoder_release);
    // Speed over quality: tests only need a valid picture. The preset is a hint some encoders lack.
    heif_encoder_set_lossy_quality(encoder.get(), 10);
    heif_encoder_set_parameter_string(encoder.get(), "preset", "ultrafast");

    auto picture = makePicture();
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

void writeHeic(const fs::path& path, const ImageSpec& metadata) {
    writeHeicWith(path, metadata.withExif ? std::optional(encodeExifTiff(metadata)) : std::nullopt);
}

void writeHeicWithExifBlock(const fs::path& path, const std::vector<uint8_t>& exifBlock) {
    writeHeicWith(path, exifBlock);
}

void writeDng(const fs::path& path, const ImageSpec& metadata) {
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
