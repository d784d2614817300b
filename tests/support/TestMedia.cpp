// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/TestMedia.h"

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

// libheif wants one initialisation; Exiv2 logs warnings to standard error by default, and test output
// stays clean without them.
void prepareLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr), Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

// Six decimals of a component (a second of arc to a millionth) are below 1e-9 degrees; whole values
// keep denominator 1 so that "10" reads back as exactly 10.
std::pair<int64_t, int32_t> rational(double value) {
    const int32_t denominator = value == std::floor(value) ? 1 : std::fabs(value) < 2000 ? 1'000'000 : 1'000;
    return {std::llround(value * denominator), denominator};
}

void addCoordinate(Exiv2::ExifData& exif, const char* key, const StoredCoordinate& coordinate) {
    Exiv2::URationalValue unsignedValue;
    Exiv2::RationalValue signedValue;
    Exiv2::AsciiValue textValue(coordinate.text);
    Exiv2::URationalValue fractions;
    Exiv2::DoubleValue doubles;
    for (double component : coordinate.components) {
        const auto [numerator, denominator] = rational(component);
        unsignedValue.value_.emplace_back(static_cast<uint32_t>(std::llabs(numerator)), denominator);
        signedValue.value_.emplace_back(static_cast<int32_t>(numerator), denominator);
        doubles.value_.push_back(component);
    }
    for (const auto& part : coordinate.parts) fractions.value_.push_back(part);
    const Exiv2::Value* values[] = {&unsignedValue, &signedValue, &textValue, &fractions, &doubles};  // in the order of Kind
    exif.add(Exiv2::ExifKey(key), values[static_cast<int>(coordinate.kind)]);
}

// The metadata's tags as Exiv2 metadata.
Exiv2::ExifData exifDataFor(const TestImage& metadata) {
    Exiv2::ExifData exif;
    auto addText = [&](const char* key, const std::optional<std::string>& text) {
        if (text) exif.add(Exiv2::ExifKey(key), Exiv2::AsciiValue(*text).clone().get());  // as given, no NUL added
    };
    if (!metadata.withExif) return exif;
    // In the Exif IFD, Exiv2 knows these three tags only by their numbers.
    const bool inExif = metadata.cameraInExifIfd;
    addText(inExif ? "Exif.Photo.0x010f" : "Exif.Image.Make", metadata.make);
    addText(inExif ? "Exif.Photo.0x0110" : "Exif.Image.Model", metadata.model);
    addText(inExif ? "Exif.Photo.0x0131" : "Exif.Image.Software", metadata.software);
    if (metadata.latitude || metadata.longitude || metadata.latitudeRef || metadata.longitudeRef)
        exif["Exif.GPSInfo.GPSVersionID"] = std::string("2 3 0 0");
    addText("Exif.GPSInfo.GPSLatitudeRef", metadata.latitudeRef);
    if (metadata.latitude) addCoordinate(exif, "Exif.GPSInfo.GPSLatitude", *metadata.latitude);
    addText("Exif.GPSInfo.GPSLongitudeRef", metadata.longitudeRef);
    if (metadata.longitude) addCoordinate(exif, "Exif.GPSInfo.GPSLongitude", *metadata.longitude);
    return exif;
}

TestImage imageAt(double latitude, double longitude, std::string make, std::string model) {
    return {StoredCoordinate::degrees(latitude), StoredCoordinate::degrees(longitude), latitude >= 0 ? "N" : "S",
            longitude >= 0 ? "E" : "W", std::move(make), std::move(model), {}, false, true};
}

void check(const heif_error& error, const char* what) {
    if (error.code != heif_error_Ok) throw std::runtime_error(std::string("libheif: ") + what + ": " + error.message);
}

// A side x side 4:2:0 picture: a gradient, so the encoder has something to do.
std::unique_ptr<heif_image, decltype(&heif_image_release)> makePicture(int side) {
    heif_image* raw = nullptr;
    check(heif_image_create(side, side, heif_colorspace_YCbCr, heif_chroma_420, &raw), "image create");
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(raw, heif_image_release);
    for (heif_channel channel : {heif_channel_Y, heif_channel_Cb, heif_channel_Cr}) {
        const int planeSide = channel == heif_channel_Y ? side : (side + 1) / 2;
        check(heif_image_add_plane(image.get(), channel, planeSide, planeSide, 8), "add plane");
        int stride = 0;
        uint8_t* data = heif_image_get_plane(image.get(), channel, &stride);
        for (int y = 0; y < planeSide; ++y)
            for (int x = 0; x < planeSide; ++x)
                data[y * stride + x] = channel == heif_channel_Y ? static_cast<uint8_t>((x + y) * 2) : 128;
    }
    return image;
}

void put(std::vector<uint8_t>& bytes, uint64_t value, size_t size, bool bigEndian) {
    for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * (bigEndian ? size - 1 - i : i))));
}

// A minimal little-endian TIFF: one 8x8 8-bit grey strip and the tags a reader needs to show it.
std::vector<uint8_t> minimalTiff() {
    constexpr uint16_t kShort = 3, kLong = 4;
    constexpr uint32_t side = 8, entryCount = 9, stripOffset = 8 + 2 + entryCount * 12 + 4;
    const std::array<std::array<uint32_t, 3>, entryCount> entries = {{
        {256, kShort, side}, {257, kShort, side},  // ImageWidth, ImageLength
        {258, kShort, 8}, {259, kShort, 1},        // BitsPerSample, Compression: none
        {262, kShort, 1}, {273, kLong, stripOffset},  // PhotometricInterpretation: black is zero, StripOffsets
        {277, kShort, 1}, {278, kShort, side},     // SamplesPerPixel, RowsPerStrip
        {279, kLong, side * side},                 // StripByteCounts
    }};
    std::vector<uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
    put(bytes, entryCount, 2, false);
    for (const auto& [tag, type, value] : entries) {
        put(bytes, tag, 2, false), put(bytes, type, 2, false), put(bytes, 1, 4, false);
        put(bytes, value, 4, false);  // a SHORT sits in the first two bytes, little-endian
    }
    put(bytes, 0, 4, false);  // no next IFD
    for (uint32_t i = 0; i < side * side; ++i) bytes.push_back(static_cast<uint8_t>(i * 4));
    return bytes;
}


void writeHeicWith(const fs::path& path, const std::optional<std::vector<uint8_t>>& exifBlock, int side = 64) {
    prepareLibraries();
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);

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
        const int size = static_cast<int>(exifBlock->size());
        check(heif_context_add_exif_metadata(context.get(), handle.get(), exifBlock->data(), size), "add Exif");
    }
    check(heif_context_write_to_file(context.get(), path.c_str()), "write");
}


// A small box patcher for HEIC files as libheif writes them (ftyp, meta, mdat): it rewrites the
// "iloc" box as version 1 and moves or splits the Exif item, shifting every other item's file offsets
// by what "meta" grew.
uint64_t numberAt(const std::vector<uint8_t>& bytes, size_t at, size_t size, bool bigEndian) {
    uint64_t value = 0;  // at() throws for a field beyond the file
    for (size_t i = 0; i < size; ++i) value |= uint64_t{bytes.at(at + i)} << (8 * (bigEndian ? size - 1 - i : i));
    return value;
}
uint64_t bigEndianAt(const std::vector<uint8_t>& bytes, size_t at, size_t size) { return numberAt(bytes, at, size, true); }

std::vector<uint8_t> box(const char* type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    out.reserve(body.size() + 8);  // also spares GCC 12 a false stringop-overflow in release builds
    put(out, body.size() + 8, 4, true);
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
    auto next = [&](size_t size) {
        const uint64_t value = bigEndianAt(bytes, at, size);
        at += size;
        return value;
    };
    const uint64_t version = next(4) >> 24, sizes = next(2), idSize = version < 2 ? 2 : 4;
    const size_t offsetSize = sizes >> 12, lengthSize = (sizes >> 8) & 15, baseSize = (sizes >> 4) & 15;
    std::vector<IlocItem> items(next(idSize));
    for (IlocItem& item : items) {
        item.id = static_cast<uint32_t>(next(idSize));
        if (version >= 1) item.method = next(2) & 15;
        next(2);  // data_reference_index
        const uint64_t base = next(baseSize);
        item.extents.resize(next(2));
        for (auto& [offset, length] : item.extents) {
            next(version >= 1 ? sizes & 15 : 0);  // extent_index
            offset = base + next(offsetSize), length = next(lengthSize);
        }
    }
    return items;
}

std::vector<uint8_t> ilocVersion1(const std::vector<IlocItem>& items) {
    std::vector<uint8_t> body = {1, 0, 0, 0, 0x44, 0x00};  // version 1; offsets and lengths of 4 bytes
    put(body, items.size(), 2, true);
    for (const IlocItem& item : items) {
        put(body, item.id, 2, true), put(body, item.method, 2, true), put(body, 0, 2, true);
        put(body, item.extents.size(), 2, true);
        for (const auto& [offset, length] : item.extents) put(body, offset, 4, true), put(body, length, 4, true);
    }
    return box("iloc", body);
}

size_t find(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& needle) {
    const auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
    if (at == bytes.end()) throw std::runtime_error("damage: the file lacks the part to damage");
    return static_cast<size_t>(at - bytes.begin());
}

void patch(std::vector<uint8_t>& bytes, size_t at, uint64_t value, size_t size, bool bigEndian) {
    std::vector<uint8_t> field;
    put(field, value, size, bigEndian);
    std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// libheif's Exif block: the 4-byte offset to the TIFF header (0), then the TIFF structure.
const std::vector<uint8_t> exifBlockStart = {0, 0, 0, 0, 'I', 'I', '*', 0};

void relayoutExif(const fs::path& path, HeicLayout layout) {
    std::vector<uint8_t> bytes = readBytes(path);
    const size_t metaStart = bigEndianAt(bytes, 0, 4), metaEnd = metaStart + bigEndianAt(bytes, metaStart, 4);
    size_t ilocAt = metaStart + 12;  // meta's first child, after its version and flags
    while (std::string(bytes.begin() + ilocAt + 4, bytes.begin() + ilocAt + 8) != "iloc") ilocAt += bigEndianAt(bytes, ilocAt, 4);
    const size_t ilocEnd = ilocAt + bigEndianAt(bytes, ilocAt, 4);
    std::vector<IlocItem> items = parseIloc(bytes, ilocAt + 8);
    const size_t block = find(bytes, exifBlockStart);
    auto exif = std::find_if(items.begin(), items.end(), [&](const IlocItem& item) { return item.extents.at(0).first == block; });
    if (exif == items.end()) throw std::runtime_error("HEIC patch: no Exif item");
    const uint64_t exifLength = exif->extents[0].second;
    const std::vector<uint8_t> payload(bytes.begin() + block, bytes.begin() + block + exifLength);

    std::vector<uint8_t> tail, idat;  // tail: appended after mdat
    if (layout == HeicLayout::exifInIdat) {
        exif->method = 1;
        exif->extents = {{0, exifLength}};
        idat = box("idat", payload);
    } else {
        // The second half goes into a "free" box at the end; its old place in mdat is zeroed, so only
        // a reader that follows both extents finds the block.
        const uint64_t firstPart = exifLength / 2;
        std::fill(bytes.begin() + block + firstPart, bytes.begin() + block + exifLength, uint8_t{0});
        tail = box("free", {payload.begin() + firstPart, payload.end()});
        exif->extents = {{block, firstPart}, {bytes.size() + 8, exifLength - firstPart}};
    }
    // meta grows by the new iloc's extra size (its fields have fixed sizes) and the idat box: every file
    // offset behind it moves.
    const uint64_t growth = ilocVersion1(items).size() + idat.size() - (ilocEnd - ilocAt);
    for (IlocItem& item : items)
        for (auto& extent : item.extents) extent.first += item.method == 0 ? growth : 0;
    std::vector<uint8_t> meta(bytes.begin() + metaStart + 8, bytes.begin() + ilocAt), iloc = ilocVersion1(items);
    meta.insert(meta.end(), iloc.begin(), iloc.end());
    meta.insert(meta.end(), bytes.begin() + ilocEnd, bytes.begin() + metaEnd);
    meta.insert(meta.end(), idat.begin(), idat.end());
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + metaStart), metaBox = box("meta", meta);
    out.insert(out.end(), metaBox.begin(), metaBox.end());
    out.insert(out.end(), bytes.begin() + metaEnd, bytes.end());
    out.insert(out.end(), tail.begin(), tail.end());
    writeBytes(path, out);
}


// Opens (or creates) the file with Exiv2, lets `edit` change its Exif data, and writes it back.
template <typename Edit>
void editWithExiv2(const fs::path& path, bool create, Edit edit) {
    prepareLibraries();
    try {
        auto image = create ? Exiv2::ImageFactory::create(Exiv2::ImageType::jpeg, path.string())
                            : Exiv2::ImageFactory::open(path.string());
        if (!create) image->readMetadata();
        edit(image->exifData());
        image->writeMetadata();
    } catch (const Exiv2::AnyError& error) {
        throw std::runtime_error("Exiv2 cannot write " + path.string() + ": " + error.what());
    }
}


// libheif writes the Exif item's location into iloc as its base offset followed by one extent at offset 0,
// or as the extent's own offset; the extent's length follows that offset.
void claimExifLength(std::vector<uint8_t>& bytes, uint32_t length) {
    const size_t block = find(bytes, exifBlockStart), iloc = find(bytes, {'i', 'l', 'o', 'c'});
    const size_t end = iloc - 4 + bigEndianAt(bytes, iloc - 4, 4);
    for (size_t at = iloc + 4; at + 14 <= end; ++at) {
        if (bigEndianAt(bytes, at, 4) != block) continue;
        const bool baseThenExtent = bigEndianAt(bytes, at + 4, 2) == 1 && bigEndianAt(bytes, at + 6, 4) == 0;
        return patch(bytes, baseThenExtent ? at + 10 : at + 4, length, 4, true);
    }
    throw std::runtime_error("damage: no location entry of the Exif block");
}

// Points IFD0's next-IFD offset, or its GPS IFD pointer (tag 0x8825), back at IFD0 itself.
void loopIfd0(std::vector<uint8_t>& bytes, bool gpsPointer) {
    if (bytes.size() < 8 || bytes[0] != 'I') throw std::runtime_error("damage: not a little-endian TIFF");
    const size_t ifd0 = numberAt(bytes, 4, 4, false), count = numberAt(bytes, ifd0, 2, false);
    for (size_t i = 0; i < count && gpsPointer; ++i)
        if (numberAt(bytes, ifd0 + 2 + 12 * i, 2, false) == 0x8825) return patch(bytes, ifd0 + 2 + 12 * i + 8, ifd0, 4, false);
    if (gpsPointer) throw std::runtime_error("damage: no GPS IFD pointer");
    patch(bytes, ifd0 + 2 + 12 * count, ifd0, 4, false);
}

std::vector<uint8_t> loopingTiff() {
    std::vector<uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0, 4, 0};
    const uint32_t entries[][4] = {{0x010f, 2, 4, 0x00636241},   // Make "Abc"
                                   {0x0110, 2, 0x7ffffff0, 8},   // Model: 2 GB of text
                                   {0x8825, 4, 1, 8},            // GPS IFD -> IFD0
                                   {0x8769, 4, 1, 8}};           // Exif IFD -> IFD0
    for (const auto& entry : entries)
        for (int i = 0; i < 4; ++i) put(bytes, entry[i], i < 2 ? 2 : 4, false);
    put(bytes, 8, 4, false);  // next IFD -> IFD0
    return bytes;
}

constexpr const char* damageNames[] = {"truncated", "overlongFtyp", "exifLengthBeyondFile", "exifLengthFourGigabytes",
                                       "exifOffsetBeyondBlock", "nextIfdIsItself", "gpsIfdIsTheFirstIfd", "loopingIfds"};

}  // namespace

StoredCoordinate StoredCoordinate::degrees(double value) {
    const double magnitude = std::fabs(value), minutes = (magnitude - std::floor(magnitude)) * 60.0;
    // Seconds rounded to a millionth, so the stored value is exact to well under 1e-9 degrees.
    const double seconds = std::round((minutes - std::floor(minutes)) * 60.0 * 1'000'000.0) / 1'000'000.0;
    return rationalList({std::floor(magnitude), std::floor(minutes), seconds});
}

TestImage iPhoneImageAt(double latitude, double longitude) { return imageAt(latitude, longitude, "Apple", "iPhone 15 Pro"); }

TestImage cameraImageAt(double latitude, double longitude) { return imageAt(latitude, longitude, "Canon", "Canon EOS R5"); }

std::vector<uint8_t> encodeExifTiff(const TestImage& metadata) {
    prepareLibraries();
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, nullptr, 0, Exiv2::littleEndian, exifDataFor(metadata));
    return blob;
}


void writeHeic(const fs::path& path, const TestImage& metadata) { writeHeic(path, metadata, HeicLayout::single); }


void writeHeic(const fs::path& path, const TestImage& metadata, HeicLayout layout) {
    // An odd-sized picture is coded at the next even size; libheif then crops it with a grid item.
    writeHeicWith(path, metadata.withExif ? std::optional(encodeExifTiff(metadata)) : std::nullopt, layout == HeicLayout::grid ? 63 : 64);
    if (layout == HeicLayout::exifInIdat || layout == HeicLayout::exifInTwoExtents) relayoutExif(path, layout);
}


void writeDng(const fs::path& path, const TestImage& metadata) {
    writeBytes(path, minimalTiff());
    editWithExiv2(path, false, [&](Exiv2::ExifData& exif) {
        exif["Exif.Image.DNGVersion"] = std::string("1 4 0 0");
        for (const Exiv2::Exifdatum& datum : exifDataFor(metadata)) exif.add(datum);
    });
}

void writeImage(const fs::path& path, const TestImage& metadata) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".dng") return writeDng(path, metadata);
    writeHeic(path, metadata);
}

void writeJpeg(const fs::path& path, const TestImage& metadata) {
    editWithExiv2(path, true, [&](Exiv2::ExifData& exif) { exif = exifDataFor(metadata); });
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


void damageImage(const fs::path& path, ImageDamage damage) {
    std::vector<uint8_t> bytes = readBytes(path);
    switch (damage) {
        case ImageDamage::truncated: bytes.resize(bytes.size() / 3); break;
        case ImageDamage::overlongFtyp: bytes.at(0) = 0x05; break;
        case ImageDamage::exifLengthBeyondFile: claimExifLength(bytes, static_cast<uint32_t>(bytes.size() + 4096)); break;
        case ImageDamage::exifLengthFourGigabytes: claimExifLength(bytes, 0xFFFFFFF0u); break;
        case ImageDamage::exifOffsetBeyondBlock: patch(bytes, find(bytes, exifBlockStart), 0xFFFFFFFFu, 4, true); break;
        case ImageDamage::nextIfdIsItself: loopIfd0(bytes, false); break;
        case ImageDamage::gpsIfdIsTheFirstIfd: loopIfd0(bytes, true); break;
        case ImageDamage::loopingIfds: return bytes.at(0) == 'I' ? writeBytes(path, loopingTiff()) : writeHeicWith(path, loopingTiff());
    }
    writeBytes(path, bytes);
}

std::optional<ImageDamage> imageDamageNamed(const std::string& name) {
    for (size_t i = 0; i < std::size(damageNames); ++i)
        if (name == damageNames[i]) return static_cast<ImageDamage>(i);
    return std::nullopt;
}

}  // namespace corvane::test

// x265 keeps a few small buffers of its thread pool until the process ends; they are not ours to free,
// and LeakSanitizer would otherwise fail every test that encodes a HEIC.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
