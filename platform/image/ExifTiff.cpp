// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/ExifTiff.h"

#include "platform/image/RationalDegrees.h"

#include <array>
#include <bit>
#include <cstdio>
#include <string_view>
#include <vector>

namespace corvane {
namespace {

constexpr size_t maxEntriesPerDirectory = 256;
constexpr uint32_t maxComponents = 0x10000000;  // 2^28: more is no real value, only a size to overflow
constexpr size_t maxListComponents = 64;

enum TiffType : uint16_t {
    byteType = 1, asciiType = 2, shortType = 3, longType = 4, rationalType = 5, signedByteType = 6,
    undefinedType = 7, signedShortType = 8, signedLongType = 9, signedRationalType = 10, floatType = 11,
    doubleType = 12, ifdType = 13,
};

// The bytes one component of a type takes. Types this reader does not know (BigTIFF's among them) are
// taken component by component as single bytes and read as unusable.
size_t componentSize(uint16_t type) {
    switch (type) {
        case shortType: case signedShortType: return 2;
        case longType: case signedLongType: case floatType: case ifdType: return 4;
        case rationalType: case signedRationalType: case doubleType: case 16: case 17: case 18: return 8;
        default: return 1;
    }
}

// The GPS tags by number, as the Exif standard names them without their "GPS" prefix.
constexpr std::array<std::string_view, 32> gpsTagNames = {
    "VersionID", "LatitudeRef", "Latitude", "LongitudeRef", "Longitude", "AltitudeRef", "Altitude", "TimeStamp",
    "Satellites", "Status", "MeasureMode", "DOP", "SpeedRef", "Speed", "TrackRef", "Track", "ImgDirectionRef",
    "ImgDirection", "MapDatum", "DestLatitudeRef", "DestLatitude", "DestLongitudeRef", "DestLongitude",
    "DestBearingRef", "DestBearing", "DestDistanceRef", "DestDistance", "ProcessingMethod", "AreaInformation",
    "DateStamp", "Differential", "HPositioningError"};

std::string gpsKey(uint16_t tag) {
    if (tag < gpsTagNames.size()) return std::string(gpsTagNames[tag]);
    char number[8];
    std::snprintf(number, sizeof number, "0x%04x", tag);
    return number;
}

// Make, Model and Software: the camera tags of IFD0, which the Exif IFD may carry too.
const char* cameraKey(uint16_t tag) {
    switch (tag) {
        case 0x010f: return "Make";
        case 0x0110: return "Model";
        case 0x0131: return "Software";
        default: return nullptr;
    }
}

// One directory entry whose value lies wholly inside the structure.
struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::span<const uint8_t> value;  // count components of the type's size
};

class TiffWalk {
public:
    TiffWalk(std::span<const uint8_t> bytes, bool littleEndian) : bytes_(bytes), little_(littleEndian) {}

    uint16_t u16(std::span<const uint8_t> at) const {
        return little_ ? static_cast<uint16_t>(at[0] | at[1] << 8) : static_cast<uint16_t>(at[0] << 8 | at[1]);
    }
    uint32_t u32(std::span<const uint8_t> at) const {
        const uint32_t b0 = at[0], b1 = at[1], b2 = at[2], b3 = at[3];
        return little_ ? (b0 | b1 << 8 | b2 << 16 | b3 << 24) : (b0 << 24 | b1 << 16 | b2 << 8 | b3);
    }
    uint64_t u64(std::span<const uint8_t> at) const {
        const uint64_t first = u32(at), second = u32(at.subspan(4));
        return little_ ? (second << 32 | first) : (first << 32 | second);
    }

    // Calls `visit` with each entry of the directory at `offset` whose value lies inside the bytes, in
    // their order. A directory read before is not read again.
    template <typename Visit>
    void forEachEntry(uint32_t offset, Visit visit) {
        for (size_t i = 0; i < visitedCount_; ++i)
            if (visited_[i] == offset) return;
        if (visitedCount_ == visited_.size() || offset > bytes_.size() || bytes_.size() - offset < 2) return;
        visited_[visitedCount_++] = offset;
        const size_t count = u16(bytes_.subspan(offset));
        if (count > maxEntriesPerDirectory) return;
        for (size_t i = 0; i < count; ++i) {
            const size_t at = offset + 2 + 12 * i;
            if (at > bytes_.size() || bytes_.size() - at < 12) return;
            if (auto entry = entryAt(bytes_.subspan(at, 12))) visit(*entry);
        }
    }

    // The metadata value of an entry, in the kinds the reading rules take.
    MetadataValue value(const Entry& entry) const {
        if (entry.type == asciiType) {
            std::string_view text(reinterpret_cast<const char*>(entry.value.data()), entry.value.size());
            while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
            return {std::string(text)};
        }
        if (entry.count == 1) return component(entry, 0);
        if (entry.type == undefinedType) return {MetadataValue::Other{}};
        std::vector<MetadataValue> list;
        const size_t count = std::min<size_t>(entry.count, maxListComponents);
        list.reserve(count);
        for (size_t i = 0; i < count; ++i) list.push_back(component(entry, i));
        return {std::move(list)};
    }

    // A GPS coordinate: its rationals as one number of degrees where they make one.
    MetadataValue coordinate(const Entry& entry) const {
        if (entry.type == rationalType || entry.type == signedRationalType) {
            std::array<RationalPart, 4> parts;
            const size_t count = std::min<size_t>(entry.count, parts.size());  // four already make no coordinate
            for (size_t i = 0; i < count; ++i) parts[i] = rational(entry, i);
            if (auto degrees = coordinateFromRationals(std::span(parts.data(), count))) return std::move(*degrees);
        }
        return value(entry);
    }

    // The first offset a directory pointer holds; absent for an entry of another type.
    std::optional<uint32_t> pointer(const Entry& entry) const {
        if ((entry.type != longType && entry.type != signedLongType && entry.type != ifdType) || entry.count < 1)
            return std::nullopt;
        return u32(entry.value);
    }

private:
    std::optional<Entry> entryAt(std::span<const uint8_t> field) const {
        Entry entry{u16(field), u16(field.subspan(2)), u32(field.subspan(4)), {}};
        if (entry.count >= maxComponents) return std::nullopt;
        const size_t size = entry.count * componentSize(entry.type);
        if (size <= 4) {
            entry.value = field.subspan(8, size);
            return entry;
        }
        const uint32_t offset = u32(field.subspan(8));
        if (offset > bytes_.size() || size > bytes_.size() - offset) return std::nullopt;
        entry.value = bytes_.subspan(offset, size);
        return entry;
    }

    RationalPart rational(const Entry& entry, size_t index) const {
        const auto at = entry.value.subspan(index * 8);
        if (entry.type == signedRationalType)
            return {static_cast<int32_t>(u32(at)), static_cast<int32_t>(u32(at.subspan(4)))};
        return {u32(at), u32(at.subspan(4))};
    }

    MetadataValue component(const Entry& entry, size_t index) const {
        const size_t size = componentSize(entry.type);
        const auto at = entry.value.subspan(index * size, size);
        switch (entry.type) {
            // SBYTE as Exiv2 reads it, unsigned: a DNG, which Exiv2 reads, then gives the same value.
            case byteType:
            case signedByteType: return {int64_t{at[0]}};
            case shortType: return {int64_t{u16(at)}};
            case signedShortType: return {int64_t{static_cast<int16_t>(u16(at))}};
            case longType: return {int64_t{u32(at)}};
            case signedLongType: return {int64_t{static_cast<int32_t>(u32(at))}};
            case rationalType:
            case signedRationalType: {
                const RationalPart part = rational(entry, index);
                if (part.denominator == 0) return {MetadataValue::Other{fractionText(part.numerator, 0)}};
                return {static_cast<double>(part.numerator) / static_cast<double>(part.denominator)};
            }
            // At its own precision: a DOUBLE read through a float would turn 37.7749 into 37.774898529052734.
            case floatType: return {static_cast<double>(std::bit_cast<float>(u32(at)))};
            case doubleType: return {std::bit_cast<double>(u64(at))};
            default: return {MetadataValue::Other{}};
        }
    }

    std::span<const uint8_t> bytes_;
    bool little_;
    std::array<uint32_t, 3> visited_{};  // IFD0, the Exif IFD, the GPS IFD
    size_t visitedCount_ = 0;
};

}  // namespace

std::optional<PropertySet> readExifTiff(std::span<const uint8_t> tiff) {
    if (tiff.size() < 8) return std::nullopt;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return std::nullopt;
    TiffWalk walk(tiff, little);
    if (walk.u16(tiff.subspan(2)) != 42) return std::nullopt;

    PropertySet properties;
    // The Exif and GPS IFDs' pointers, (tag, offset), in IFD0's order: of two pointing to the same
    // directory, the first reads it.
    std::array<std::pair<uint16_t, uint32_t>, 2> subDirectories;
    size_t subDirectoryCount = 0;
    walk.forEachEntry(walk.u32(tiff.subspan(4)), [&](const Entry& entry) {
        if (!properties.tiff) properties.tiff.emplace();
        if (const char* key = cameraKey(entry.tag)) (*properties.tiff)[key] = walk.value(entry);
        if ((entry.tag != 0x8769 && entry.tag != 0x8825) || subDirectoryCount == subDirectories.size()) return;
        if (auto offset = walk.pointer(entry)) subDirectories[subDirectoryCount++] = {entry.tag, *offset};
    });
    for (const auto& [tag, offset] : std::span(subDirectories.data(), subDirectoryCount)) {
        if (tag == 0x8769) {
            walk.forEachEntry(offset, [&](const Entry& entry) {
                if (!properties.exif) properties.exif.emplace();
                if (const char* key = cameraKey(entry.tag)) (*properties.exif)[key] = walk.value(entry);
            });
        } else {
            walk.forEachEntry(offset, [&](const Entry& entry) {
                if (!properties.gps) properties.gps.emplace();
                const bool isCoordinate = entry.tag == 2 || entry.tag == 4;
                (*properties.gps)[gpsKey(entry.tag)] = isCoordinate ? walk.coordinate(entry) : walk.value(entry);
            });
        }
    }
    return properties;
}

std::optional<PropertySet> readHeifExifBlock(std::span<const uint8_t> block) {
    if (block.size() < 4) return std::nullopt;
    const uint64_t offset = (uint64_t{block[0]} << 24) | (uint64_t{block[1]} << 16) | (uint64_t{block[2]} << 8) | block[3];
    if (offset > block.size() - 4) return std::nullopt;
    return readExifTiff(block.subspan(4 + offset));
}

}  // namespace corvane
