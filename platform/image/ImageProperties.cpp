// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/ImageProperties.h"

#include "engine/Diagnostics.h"
#include "engine/GpsText.h"
#include "engine/Text.h"

#include <cmath>

namespace corvane {
namespace {

const MetadataValue* entry(const PropertyGroup& group, const std::string& key) {
    auto it = group.find(key);
    return it == group.end() ? nullptr : &it->second;
}

const std::string* textOf(const MetadataValue* value) {
    return value ? std::get_if<std::string>(&value->value) : nullptr;
}

std::string describe(const MetadataValue& value) {
    struct Describe {
        std::string operator()(const MetadataValue::Other& other) const {
            return other.stored.empty() ? "<unreadable>" : other.stored;
        }
        std::string operator()(double number) const { return formatDouble(number); }
        std::string operator()(int64_t number) const { return std::to_string(number); }
        std::string operator()(const std::string& text) const { return text; }
        std::string operator()(const std::vector<MetadataValue>& list) const {
            std::string out = "(";
            for (size_t i = 0; i < list.size(); ++i) out += (i ? ", " : "") + describe(list[i]);
            return out + ")";
        }
    };
    return std::visit(Describe{}, value.value);
}

}  // namespace

std::optional<double> parseImageGPSValue(const MetadataValue* value) {
    if (!value) return std::nullopt;
    if (const auto* number = std::get_if<double>(&value->value)) return *number;
    if (const auto* integer = std::get_if<int64_t>(&value->value)) return static_cast<double>(*integer);
    if (const auto* list = std::get_if<std::vector<MetadataValue>>(&value->value)) {
        if (list->empty()) return std::nullopt;  // an empty list is no text either
        auto part = [&](size_t index) {
            return index < list->size() ? parseImageGPSValue(&(*list)[index]).value_or(0.0) : 0.0;
        };
        if (list->size() == 1) return part(0);
        if (list->size() == 2) return part(0) + part(1) / 60.0;
        return part(0) + part(1) / 60.0 + part(2) / 3600.0;
    }
    if (const auto* text = std::get_if<std::string>(&value->value)) {
        const std::string_view trimmed = trim(*text);
        if (trimmed.empty()) return std::nullopt;
        std::string decimal(trimmed);
        for (char& c : decimal)
            if (c == ',') c = '.';
        if (auto number = parseDecimalNumber(decimal)) return number;
        if (containsIgnoringAsciiCase(trimmed, "deg")) return parseDMSString(trimmed);
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<ImagePosition> imageGPSFromProperties(const std::optional<PropertySet>& properties, std::string_view name) {
    if (!properties) {
        Diagnostics::line("[DEBUG] No properties for ", name);
        return std::nullopt;
    }
    if (properties->empty() || !properties->gps) {
        Diagnostics::line("[DEBUG] No GPS dictionary for ", name);
        return std::nullopt;
    }
    const PropertyGroup& gps = *properties->gps;
    auto latitude = parseImageGPSValue(entry(gps, "Latitude"));
    auto longitude = latitude ? parseImageGPSValue(entry(gps, "Longitude")) : std::nullopt;
    if (!latitude || !longitude) {
        Diagnostics::line("[DEBUG] GPS lat/lon missing or unparsable in ", name);
        Diagnostics::line("[DEBUG] GPS dictionary contents: ", describeGroup(gps));
        return std::nullopt;
    }
    const std::string* latitudeRef = textOf(entry(gps, "LatitudeRef"));
    const std::string* longitudeRef = textOf(entry(gps, "LongitudeRef"));
    if (latitudeRef && toUpper(*latitudeRef) == "S") latitude = -std::fabs(*latitude);
    if (longitudeRef && toUpper(*longitudeRef) == "W") longitude = -std::fabs(*longitude);
    // Both comparisons fail for NaN as well.
    if (!(std::fabs(*latitude) <= 90) || !(std::fabs(*longitude) <= 180)) {
        Diagnostics::line("[DEBUG] GPS position out of range in ", name, ": lat=", *latitude, " lon=", *longitude);
        return std::nullopt;
    }
    Diagnostics::line("[DEBUG] ", name, " GPS: lat=", *latitude, " (", *latitude >= 0 ? "N" : "S", ") lon=", *longitude,
                      " (", *longitude >= 0 ? "E" : "W", ")");
    return ImagePosition{*latitude, *longitude};
}

DeviceData deviceDataFromProperties(const PropertySet& properties, std::string_view name) {
    auto field = [&](const char* key) -> std::optional<std::string> {
        if (properties.tiff)
            if (const std::string* text = textOf(entry(*properties.tiff, key))) return *text;
        if (properties.exif)
            if (const std::string* text = textOf(entry(*properties.exif, key))) return *text;
        return std::nullopt;
    };
    DeviceData device{field("Make"), field("Model"), field("Software")};
    Diagnostics::line("[DEBUG] ", name, " Device: make=", device.make, " model=", device.model,
                      " software=", device.software);
    return device;
}

std::string describeGroup(const PropertyGroup& group) {
    std::vector<std::string> entries;
    for (const auto& [key, value] : group) entries.push_back(key + " = " + describe(value));
    return "{" + joined(entries, "; ") + "}";
}

}  // namespace corvane
