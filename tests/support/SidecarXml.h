// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Builds XMP sidecar documents for tests: a real xpacket-wrapped packet whose rdf:Description carries
// the GPS properties given (an absent property is left out).

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>
#include <string>

namespace corvane::test {

struct SidecarGPSProperties {
    std::optional<std::string> latitude, longitude, latitudeRef, longitudeRef;
};

inline std::string sidecarXml(const SidecarGPSProperties& gps, const std::string& extraProperties = "") {
    auto property = [](const char* name, const std::optional<std::string>& value) {
        return value ? "   <" + std::string(name) + ">" + *value + "</" + name + ">\n" : std::string();
    };
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"Test Writer 1.0\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <!-- written by a photo library export -->\n"
           "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
           "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\">\n" +
           property("exif:GPSLatitude", gps.latitude) + property("exif:GPSLongitude", gps.longitude) +
           property("exif:GPSLatitudeRef", gps.latitudeRef) + property("exif:GPSLongitudeRef", gps.longitudeRef) +
           extraProperties + "  </rdf:Description>\n </rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>\n";
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names in a folder, hidden ones included, sorted.
inline std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace corvane::test
