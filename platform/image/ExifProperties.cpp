// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/ExifProperties.h"

#include "platform/image/RationalDegrees.h"

#include <exiv2/exiv2.hpp>

#include <mutex>
#include <vector>

namespace corvane {
namespace {

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

// A coordinate stored as rationals, as one number of degrees (absent for any other value, which is
// then handed over component by component).
std::optional<MetadataValue> coordinateValue(const Exiv2::Value& value) {
    std::vector<RationalPart> parts;
    if (const auto* unsignedValue = dynamic_cast<const Exiv2::URationalValue*>(&value)) {
        for (const Exiv2::URational& r : unsignedValue->value_) parts.push_back({r.first, r.second});
    } else if (const auto* signedValue = dynamic_cast<const Exiv2::RationalValue*>(&value)) {
        for (const Exiv2::Rational& r : signedValue->value_) parts.push_back({r.first, r.second});
    }
    return coordinateFromRationals(parts);
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
