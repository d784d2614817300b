#include "platform/ImageMetadataReader.h"

#include "engine/Diagnostics.h"
#include "engine/FileSystem.h"

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

namespace corvane {
namespace {

namespace fs = std::filesystem;

void silenceExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::LogMsg::setHandler(nullptr);
        // A TIFF may carry an XMP packet; Exiv2's XMP toolkit must be set up once before threads use it.
        Exiv2::XmpParser::initialize();
    });
}

// HEIF files are ISO media files: a "ftyp" box first.
bool looksLikeHeif(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char head[12] = {};
    const ssize_t count = ::read(fd, head, sizeof head);
    ::close(fd);
    return count == 12 && std::memcmp(head + 4, "ftyp", 4) == 0;
}

MetadataValue rationalNumber(const Exiv2::Value& value, long index) {
    const Exiv2::Rational r = value.toRational(index);
    if (r.second == 0) return {MetadataValue::Other{}};
    return {static_cast<double>(r.first) / static_cast<double>(r.second)};
}

// The value kinds a platform reader hands over: rationals become numbers, integers stay integers,
// ASCII becomes text; several components make a list.
MetadataValue convert(const Exiv2::Value& value) {
    const Exiv2::TypeId type = value.typeId();
    const long count = value.count();
    if (type == Exiv2::asciiString) {
        std::string text = value.toString();
        while (!text.empty() && text.back() == '\0') text.pop_back();
        return {text};
    }
    auto component = [&](long index) -> MetadataValue {
        switch (type) {
            case Exiv2::unsignedRational:
            case Exiv2::signedRational: return rationalNumber(value, index);
            case Exiv2::unsignedByte: case Exiv2::unsignedShort: case Exiv2::unsignedLong: case Exiv2::signedByte:
            case Exiv2::signedShort: case Exiv2::signedLong: return {static_cast<int64_t>(value.toLong(index))};
            case Exiv2::tiffFloat: case Exiv2::tiffDouble: return {static_cast<double>(value.toFloat(index))};
            default: return {MetadataValue::Other{}};
        }
    };
    if (count == 1) return component(0);
    std::vector<MetadataValue> list;
    if (type == Exiv2::undefined || type == Exiv2::comment) return {MetadataValue::Other{}};
    for (long i = 0; i < count && i < 64; ++i) list.push_back(component(i));
    return {std::move(list)};
}

__extension__ typedef __int128 Int128;

Int128 gcd(Int128 a, Int128 b) {
    if (a < 0) a = -a;
    while (b != 0) {
        const Int128 rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}

// A position stored as degree, minute and second rationals, as one number of degrees: the value ImageIO
// hands over for these keys. The sum is formed exactly and rounded once, so 37 46' 29.64" reads as
// 37.7749 and not as the neighbouring double that adding rounded parts would give. Absent when the
// value is no such rational list (it is then handed over component by component).
std::optional<double> degreesFromRationals(const Exiv2::Value& value) {
    const Exiv2::TypeId type = value.typeId();
    const long count = value.count();
    if ((type != Exiv2::unsignedRational && type != Exiv2::signedRational) || count < 1 || count > 3) return std::nullopt;
    static constexpr int64_t unitsPerDegree[] = {1, 60, 3600};
    constexpr Int128 roomToMultiply = Int128{1} << 80;  // times a part's denominator (< 2^44) stays in range
    constexpr Int128 exactInLongDouble = Int128{1} << 64;

    Int128 numerator = 0;
    Int128 denominator = 1;
    long double approximate = 0;
    bool exact = true;
    for (long i = 0; i < count; ++i) {
        Int128 partNumerator = 0;
        Int128 partDenominator = 0;
        if (const auto* unsignedValue = dynamic_cast<const Exiv2::URationalValue*>(&value)) {
            const Exiv2::URational r = unsignedValue->value_.at(static_cast<size_t>(i));
            partNumerator = r.first;
            partDenominator = r.second;
        } else if (const auto* signedValue = dynamic_cast<const Exiv2::RationalValue*>(&value)) {
            const Exiv2::Rational r = signedValue->value_.at(static_cast<size_t>(i));
            partNumerator = r.first;
            partDenominator = r.second;
        } else {
            return std::nullopt;
        }
        if (partDenominator == 0) return std::nullopt;
        if (partDenominator < 0) {
            partNumerator = -partNumerator;
            partDenominator = -partDenominator;
        }
        partDenominator *= unitsPerDegree[i];
        approximate += static_cast<long double>(partNumerator) / static_cast<long double>(partDenominator);
        if (!exact || numerator >= roomToMultiply || -numerator >= roomToMultiply || denominator >= roomToMultiply) {
            exact = false;
            continue;
        }
        numerator = numerator * partDenominator + partNumerator * denominator;
        denominator *= partDenominator;
        const Int128 common = gcd(numerator, denominator);
        if (common > 1) {
            numerator /= common;
            denominator /= common;
        }
    }
    if (exact && numerator < exactInLongDouble && -numerator < exactInLongDouble && denominator < exactInLongDouble) {
        // Both operands are exact in long double's 64-bit mantissa: one rounding, then the final one.
        return static_cast<double>(static_cast<long double>(numerator) / static_cast<long double>(denominator));
    }
    return static_cast<double>(approximate);
}

bool isCoordinateKey(const std::string& key) { return key == "Latitude" || key == "Longitude"; }

PropertySet groupsFrom(const Exiv2::ExifData& exif) {
    PropertySet properties;
    for (const Exiv2::Exifdatum& datum : exif) {
        const std::string group = datum.groupName();
        const std::string tag = datum.tagName();
        if (group == "GPSInfo") {
            if (!properties.gps) properties.gps.emplace();
            const std::string key = tag.rfind("GPS", 0) == 0 ? tag.substr(3) : tag;
            std::optional<double> degrees = isCoordinateKey(key) ? degreesFromRationals(datum.value()) : std::nullopt;
            (*properties.gps)[key] = degrees ? MetadataValue{*degrees} : convert(datum.value());
        } else if (group == "Image") {
            if (!properties.tiff) properties.tiff.emplace();
            (*properties.tiff)[tag] = convert(datum.value());
        } else if (group == "Photo") {
            if (!properties.exif) properties.exif.emplace();
            (*properties.exif)[tag] = convert(datum.value());
        }
    }
    return properties;
}

// The TIFF structure inside a HEIF "Exif" block: a 4-byte big-endian offset to the TIFF header,
// counted from the end of those 4 bytes (usually 6, skipping "Exif\0\0").
std::optional<PropertySet> decodeHeifExifBlock(const std::vector<uint8_t>& block) {
    if (block.size() < 4) return std::nullopt;
    const uint64_t offset = (uint64_t{block[0]} << 24) | (uint64_t{block[1]} << 16) | (uint64_t{block[2]} << 8) | block[3];
    if (offset > block.size() - 4) return std::nullopt;
    const uint8_t* tiff = block.data() + 4 + offset;
    const size_t size = block.size() - 4 - offset;
    if (size < 8) return std::nullopt;
    // A damaged block makes Exiv2 throw; the image itself is still an image, just without metadata.
    try {
        Exiv2::ExifData exif;
        if (Exiv2::ExifParser::decode(exif, tiff, static_cast<uint32_t>(size)) == Exiv2::invalidByteOrder) return std::nullopt;
        return groupsFrom(exif);
    } catch (...) {
        return std::nullopt;
    }
}

// Feeds libheif from a file through pread on 64 KiB blocks. libheif's own file reader goes through an
// std::ifstream that asks the system for its position before every box header (some 150 calls for a
// small HEIC); served from a block, the whole metadata of a typical file takes one or two reads. The
// object must outlive the heif_context that reads through it.
class HeifFileReader {
public:
    explicit HeifFileReader(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info {};
        if (fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) size_ = info.st_size;
    }
    ~HeifFileReader() {
        if (fd_ >= 0) ::close(fd_);
    }
    HeifFileReader(const HeifFileReader&) = delete;
    HeifFileReader& operator=(const HeifFileReader&) = delete;

    bool isOpen() const { return fd_ >= 0 && size_ >= 0; }

    static const heif_reader& api() {
        static const heif_reader reader{1, &getPosition, &read, &seek, &waitForFileSize};
        return reader;
    }

private:
    static constexpr int64_t blockSize = 64 * 1024;

    static HeifFileReader& self(void* userdata) { return *static_cast<HeifFileReader*>(userdata); }

    static int64_t getPosition(void* userdata) { return self(userdata).position_; }

    static int seek(int64_t position, void* userdata) {
        HeifFileReader& reader = self(userdata);
        if (position < 0 || position > reader.size_) return -1;
        reader.position_ = position;
        return 0;
    }

    static heif_reader_grow_status waitForFileSize(int64_t targetSize, void* userdata) {
        return targetSize > self(userdata).size_ ? heif_reader_grow_status_size_beyond_eof
                                                 : heif_reader_grow_status_size_reached;
    }

    // Reads exactly `size` bytes at `offset`; false at the end of the file or on an error.
    bool readAt(int64_t offset, uint8_t* out, size_t size) const {
        while (size > 0) {
            const ssize_t count = ::pread(fd_, out, size, offset);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) return false;
            out += count;
            offset += count;
            size -= static_cast<size_t>(count);
        }
        return true;
    }

    static int read(void* data, size_t size, void* userdata) {
        HeifFileReader& reader = self(userdata);
        auto* out = static_cast<uint8_t*>(data);
        const int64_t end = reader.position_ + static_cast<int64_t>(size);
        if (end > reader.size_) return -1;
        if (size == 0) return 0;  // nothing to copy, and libheif may pass no buffer for it
        const int64_t blockEnd = reader.blockStart_ + static_cast<int64_t>(reader.block_.size());
        if (reader.position_ < reader.blockStart_ || end > blockEnd) {
            if (static_cast<int64_t>(size) >= blockSize) {
                // Large items (a picture's coded data) are read directly.
                if (!reader.readAt(reader.position_, out, size)) return -1;
                reader.position_ = end;
                return 0;
            }
            reader.block_.resize(static_cast<size_t>(std::min(blockSize, reader.size_ - reader.position_)));
            reader.blockStart_ = reader.position_;
            if (!reader.readAt(reader.blockStart_, reader.block_.data(), reader.block_.size())) {
                reader.block_.clear();
                return -1;
            }
        }
        std::memcpy(out, reader.block_.data() + (reader.position_ - reader.blockStart_), size);
        reader.position_ = end;
        return 0;
    }

    int fd_;
    int64_t size_ = -1;
    int64_t position_ = 0;
    int64_t blockStart_ = 0;
    std::vector<uint8_t> block_;
};

ImageMetadataReader::Reading readHeif(const fs::path& path) {
    ImageMetadataReader::Reading reading;
    HeifFileReader file(path);
    if (!file.isOpen()) return reading;
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    if (!context || heif_context_read_from_reader(context.get(), &HeifFileReader::api(), &file, nullptr).code != heif_error_Ok)
        return reading;
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) return reading;
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(rawHandle, heif_image_handle_release);
    reading.opened = ImageMetadataReader::Opened::image;

    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) < 1) return reading;
    const size_t size = heif_image_handle_get_metadata_size(handle.get(), id);
    if (size == 0 || size > 64u * 1024 * 1024) return reading;
    std::vector<uint8_t> block(size);
    if (heif_image_handle_get_metadata(handle.get(), id, block.data()).code != heif_error_Ok) return reading;
    if (auto properties = decodeHeifExifBlock(block)) reading.properties = std::move(*properties);
    return reading;
}

ImageMetadataReader::Reading readTiff(const fs::path& path) {
    ImageMetadataReader::Reading reading;
    Exiv2::Image::AutoPtr image;
    try {
        image = Exiv2::ImageFactory::open(path.string());
    } catch (...) {
        return reading;
    }
    if (image.get() == nullptr || image->imageType() != Exiv2::ImageType::tiff) return reading;
    reading.opened = ImageMetadataReader::Opened::image;
    try {
        image->readMetadata();
        reading.properties = groupsFrom(image->exifData());
    } catch (...) {
        reading.opened = ImageMetadataReader::Opened::noProperties;
    }
    return reading;
}

}  // namespace

ImageMetadataReader::ImageMetadataReader() { silenceExiv2(); }

ImageMetadataReader::Reading ImageMetadataReader::readProperties(const fs::path& fileURL) {
    silenceExiv2();
    try {
        return looksLikeHeif(fileURL) ? readHeif(fileURL) : readTiff(fileURL);
    } catch (...) {
        return {};
    }
}

namespace {

// The answers of the two public reads from one reading of the file, with their diagnostic lines.
std::optional<ImagePosition> imageGPSOf(const ImageMetadataReader::Reading& reading, const fs::path& fileURL) {
    using Opened = ImageMetadataReader::Opened;
    if (reading.opened == Opened::notAnImage) {
        Diagnostics::line("[DEBUG] CGImageSourceCreateWithURL failed for ", fileURL.string());
        return std::nullopt;
    }
    std::optional<PropertySet> properties;
    if (reading.opened == Opened::image) properties = reading.properties;
    return imageGPSFromProperties(properties, lastPathComponent(fileURL));
}

std::optional<DeviceData> deviceDataOf(const ImageMetadataReader::Reading& reading, const fs::path& fileURL) {
    using Opened = ImageMetadataReader::Opened;
    if (reading.opened == Opened::notAnImage) {
        Diagnostics::line("[DEBUG] CGImageSourceCreateWithURL failed for ", fileURL.string());
        return std::nullopt;
    }
    if (reading.opened == Opened::noProperties) {
        Diagnostics::line("[DEBUG] CGImageSourceCopyPropertiesAtIndex returned nil for ", lastPathComponent(fileURL));
        return std::nullopt;
    }
    return deviceDataFromProperties(reading.properties, lastPathComponent(fileURL));
}

class SingleOpeningReading : public ImageReading {
public:
    explicit SingleOpeningReading(fs::path fileURL) : fileURL_(std::move(fileURL)) {}

    std::optional<DeviceData> readDeviceData() override { return deviceDataOf(reading(), fileURL_); }
    std::optional<ImagePosition> readImageGPS() override { return imageGPSOf(reading(), fileURL_); }

private:
    const ImageMetadataReader::Reading& reading() {
        if (!reading_) reading_ = ImageMetadataReader::readProperties(fileURL_);
        return *reading_;
    }

    fs::path fileURL_;
    std::optional<ImageMetadataReader::Reading> reading_;
};

}  // namespace

std::optional<ImagePosition> ImageMetadataReader::readImageGPS(const fs::path& fileURL) const {
    return imageGPSOf(readProperties(fileURL), fileURL);
}

std::optional<DeviceData> ImageMetadataReader::readDeviceData(const fs::path& fileURL) const {
    return deviceDataOf(readProperties(fileURL), fileURL);
}

std::unique_ptr<ImageReading> ImageMetadataReader::read(const fs::path& fileURL) const {
    return std::make_unique<SingleOpeningReading>(fileURL);
}

}  // namespace corvane
