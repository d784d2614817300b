// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ExifProperties.h"

#include "platform/RationalDegrees.h"

#include <exiv2/exiv2.hpp>

#include <mutex>
#include <vector>

namespace corvane {
namespace {

std::string fractionText(int64_t numerator, int64_t denominator) {
    return std::to_string(numerator) + "/" + std::to_string(denominator);
}

MetadataValue rationalNumber(const Exiv2::Value& value, long index) {
    const Exiv2::Rational r = value.toRational(index);
    if (r.second == 0) return {MetadataValue::Other{fractionText(r.first, r.second)}};
    return {static_cast<double>(r.first) / static_cast<double>(r.second)};
}

// A FLOAT or DOUBLE component at its own precision: a DOUBLE read through a float would turn 37.7749
// into 37.774898529052734.
template <typename Stored>
MetadataValue floatingNumber(const Exiv2::Value& value, long index) {
    const auto* typed = dynamic_cast<const Exiv2::ValueType<Stored>*>(&value);
    if (!typed || index < 0 || static_cast<size_t>(index) >= typed->value_.size()) return {MetadataValue::Other{}};
    return {static_cast<double>(typed->value_[static_cast<size_t>(index)])};
}

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
            case Exiv2::tiffFloat: return floatingNumber<float>(value, index);
            case Exiv2::tiffDouble: return floatingNumber<double>(value, index);
            default: return {MetadataValue::Other{}};
        }
    };
    if (count == 1) return component(0);
    std::vector<MetadataValue> list;
    if (type == Exiv2::undefined || type == Exiv2::comment) return {MetadataValue::Other{}};
    for (long i = 0; i < count && i < 64; ++i) list.push_back(component(i));
    return {std::move(list)};
}

// A coordinate stored as one to three rationals, as one number of degrees. Degrees of denominator 0 are
// how phones without a fix store the coordinate (Samsung writes 0/0 0/0 0/0): no value at all, never
// 0 degrees, whatever follows. Absent for any other value, which is then handed over component by
// component.
std::optional<MetadataValue> coordinateValue(const Exiv2::Value& value) {
    std::vector<RationalPart> parts;
    if (const auto* unsignedValue = dynamic_cast<const Exiv2::URationalValue*>(&value)) {
        for (const Exiv2::URational& r : unsignedValue->value_) parts.push_back({r.first, r.second});
    } else if (const auto* signedValue = dynamic_cast<const Exiv2::RationalValue*>(&value)) {
        for (const Exiv2::Rational& r : signedValue->value_) parts.push_back({r.first, r.second});
    }
    if (parts.empty()) return std::nullopt;
    if (parts[0].denominator == 0) {
        std::string stored;
        for (const RationalPart& part : parts) stored += (stored.empty() ? "" : ", ") + fractionText(part.numerator, part.denominator);
        return MetadataValue{MetadataValue::Other{parts.size() == 1 ? stored : "(" + stored + ")"}};
    }
    if (auto degrees = degreesFromRationals(parts)) return MetadataValue{*degrees};
    return std::nullopt;
}

bool isCoordinateKey(const std::string& key) { return key == "Latitude" || key == "Longitude"; }

// Exiv2 names the IFD0 tags Make, Model and Software only in IFD0; in the Exif IFD they are unknown
// tags named by number. Cameras and editors do write them there.
std::string exifGroupKey(const std::string& tag) {
    if (tag == "0x010f") return "Make";
    if (tag == "0x0110") return "Model";
    if (tag == "0x0131") return "Software";
    return tag;
}

}  // namespace

PropertySet propertiesFromExif(const Exiv2::ExifData& exif) {
    PropertySet properties;
    for (const Exiv2::Exifdatum& datum : exif) {
        const std::string group = datum.groupName();
        const std::string tag = datum.tagName();
        if (group == "GPSInfo") {
            if (!properties.gps) properties.gps.emplace();
            const std::string key = tag.rfind("GPS", 0) == 0 ? tag.substr(3) : tag;
            std::optional<MetadataValue> coordinate = isCoordinateKey(key) ? coordinateValue(datum.value()) : std::nullopt;
            (*properties.gps)[key] = coordinate ? std::move(*coordinate) : convert(datum.value());
        } else if (group == "Image") {
            if (!properties.tiff) properties.tiff.emplace();
            (*properties.tiff)[tag] = convert(datum.value());
        } else if (group == "Photo") {
            if (!properties.exif) properties.exif.emplace();
            (*properties.exif)[exifGroupKey(tag)] = convert(datum.value());
        }
    }
    return properties;
}

std::optional<PropertySet> decodeExifTiff(std::span<const uint8_t> tiff) {
    if (tiff.size() < 8 || tiff.size() > UINT32_MAX) return std::nullopt;
    // A damaged structure makes Exiv2 throw; the image itself is still an image, just without metadata.
    try {
        Exiv2::ExifData exif;
        if (Exiv2::ExifParser::decode(exif, tiff.data(), static_cast<uint32_t>(tiff.size())) == Exiv2::invalidByteOrder)
            return std::nullopt;
        return propertiesFromExif(exif);
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<PropertySet> decodeHeifExifBlock(std::span<const uint8_t> block) {
    if (block.size() < 4) return std::nullopt;
    const uint64_t offset = (uint64_t{block[0]} << 24) | (uint64_t{block[1]} << 16) | (uint64_t{block[2]} << 8) | block[3];
    if (offset > block.size() - 4) return std::nullopt;
    return decodeExifTiff(block.subspan(4 + offset));
}

void prepareExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::LogMsg::setHandler(nullptr);
        // A TIFF may carry an XMP packet; Exiv2's XMP toolkit must be set up once before threads use it.
        Exiv2::XmpParser::initialize();
    });
}

}  // namespace corvane
