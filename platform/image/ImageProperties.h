// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/ImageMetadata.h"
#include "engine/ResultModel.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvane {

// One metadata value as a reader hands it over: a number, an integer, a text, a list of values, or
// anything else (which no rule can use).
struct MetadataValue {
    struct Other {
        std::string stored;  // how the value is stored, when that helps a reader ("0/0"); may be empty
        friend bool operator==(const Other&, const Other&) = default;
    };
    std::variant<Other, double, int64_t, std::string, std::vector<MetadataValue>> value;

    friend bool operator==(const MetadataValue&, const MetadataValue&) = default;
};

using PropertyGroup = std::map<std::string, MetadataValue>;

// The properties of an image's first picture, by group. Keys in the GPS group: "Latitude", "Longitude",
// "LatitudeRef", "LongitudeRef" (and the other GPS tags); in the TIFF group "Make", "Model",
// "Software"; the Exif group holds the Exif sub-IFD's tags by name. An absent group was not in the file.
struct PropertySet {
    std::optional<PropertyGroup> gps;
    std::optional<PropertyGroup> tiff;
    std::optional<PropertyGroup> exif;

    bool empty() const { return !gps && !tiff && !exif; }
};

// Degrees from one metadata value: a number as it is; a list of up to three (degrees, minutes, seconds,
// an unusable element counting as 0); a text read as a decimal number with "," as decimal point, or as
// degree-minute-second text. Absent when nothing can be read.
std::optional<double> parseImageGPSValue(const MetadataValue* value);

// The position in a property set (absent when the set itself is absent), with the sign rules of the GPS
// references ("S" and "W", in any case, make the value negative) and the diagnostic lines naming `name`.
// A position no place on earth has (a latitude beyond ±90, a longitude beyond ±180, not a number) is no
// position: writing it into a sidecar would only spread the error.
std::optional<ImagePosition> imageGPSFromProperties(const std::optional<PropertySet>& properties, std::string_view name);

// The camera identity: each field from the TIFF group when it is a text, else from the Exif group, else
// absent. Prints the "Device:" line.
DeviceData deviceDataFromProperties(const PropertySet& properties, std::string_view name);

// A one-line rendering of a group: "{Key = value; Key = (1.0, 2.0)}".
std::string describeGroup(const PropertyGroup& group);

}  // namespace corvane
