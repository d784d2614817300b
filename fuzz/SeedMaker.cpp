// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the starting corpora of the fuzz targets into one folder per target: real HEIC and DNG files
// made by the test media helpers, and sidecars in the forms that sidecar writers produce.
// Usage: corvane-fuzz-seeds OUTPUT_FOLDER

#include "tests/support/SidecarXml.h"
#include "tests/support/TestMedia.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace corvane::test;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::vector<std::pair<std::string, TestImage>> imageSpecs() {
    TestImage textCoordinates = iPhoneImageAt(10.5, 20.25);
    textCoordinates.latitude = StoredCoordinate::asText("10 deg 30' 36\"");
    textCoordinates.longitude = StoredCoordinate::asText(" 10,25 ");
    TestImage signedValues = cameraImageAt(-12.5, -45.75);
    signedValues.latitude = StoredCoordinate::signedDegrees(-12.5);
    signedValues.longitude = StoredCoordinate::rationalList({45, 45});
    signedValues.latitudeRef = "South";
    TestImage noGps;
    noGps.make = "Apple";
    noGps.software = "Apple Image Capture";
    TestImage noExif;
    noExif.withExif = false;
    return {{"iphone", iPhoneImageAt(37.7749, -122.4194)},
            {"camera", cameraImageAt(-33.8688, 151.2093)},
            {"text", textCoordinates},
            {"signed", signedValues},
            {"nogps", noGps},
            {"noexif", noExif}};
}

std::vector<std::pair<std::string, std::string>> sidecars() {
    return {
        {"letterless", sidecarXml({"37.77490000", "122.41940000", "N", "W"})},
        {"canonical", sidecarXml({"37.77490000N", "122.41940000W", "N", "W"})},
        {"minutes", sidecarXml({"37,46.494N", "122,25.164W", std::nullopt, std::nullopt})},
        {"dms", sidecarXml({"37 deg 46' 29.64\" N", "122 deg 25' 9.84\" W", "north", "West"})},
        {"differs", sidecarXml({"40.0", "-74.0", "N", "W"})},
        {"nogps", sidecarXml({}, "   <xmp:Label>Red</xmp:Label>\n")},
        {"altitude", sidecarXml({}, "   <exif:GPSAltitude>12/1</exif:GPSAltitude>\n")},
        {"attributes",
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description exif:GPSLatitude=\"37.7749N\"/>"
         "</rdf:RDF></x:xmpmeta>"},
        {"noprefix",
         "<x:xmpmeta><rdf:RDF><rdf:Description><GPSLatitude>37.5</GPSLatitude><GPSLongitudeRef>E</GPSLongitudeRef>"
         "</rdf:Description></rdf:RDF></x:xmpmeta>"},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    for (const char* target : {"heif_exif", "exif_tiff", "image_heic", "image_dng", "sidecar", "validate_temp", "gps_text"})
        fs::create_directories(out / target);

    for (const auto& [name, metadata] : imageSpecs()) {
        const std::vector<uint8_t> tiff = encodeExifTiff(metadata);
        write(out / "exif_tiff" / (name + ".tif"), std::string(tiff.begin(), tiff.end()));
        writeHeic(out / "image_heic" / (name + ".heic"), metadata);
        writeDng(out / "image_dng" / (name + ".dng"), metadata);
    }
    const std::pair<const char*, HeicLayout> layouts[] = {{"single", HeicLayout::single},
                                                          {"grid", HeicLayout::grid},
                                                          {"idat", HeicLayout::exifInIdat},
                                                          {"extents", HeicLayout::exifInTwoExtents}};
    for (const auto& [name, layout] : layouts) {
        writeHeic(out / "heif_exif" / (std::string(name) + ".heic"), iPhoneImageAt(37.7749, -122.4194), layout);
        fs::copy_file(out / "heif_exif" / (std::string(name) + ".heic"), out / "image_heic" / (std::string(name) + ".heic"),
                      fs::copy_options::overwrite_existing);
    }
    writeJpeg(out / "image_heic" / "jpeg.heic", iPhoneImageAt(37.7749, -122.4194));
    int selector = 0;
    for (const auto& [name, xml] : sidecars()) {
        // The sidecar target reads its first byte as the image position and switch selector.
        write(out / "sidecar" / (name + ".xmp"), std::string(1, static_cast<char>(selector++ % 8)) + xml);
        write(out / "validate_temp" / (name + ".xmp"), xml);
    }
    for (const char* text : {"37.77490000N", " 122.4194 w ", "-122.4194", "37,46.494N", "37, 46.494N",
                             "37,46,29.64N", "37 deg 46' 29.64\" N", "N37.5", "E", "0x1p3", "inf", "nan",
                             "37,,46.5", "1e400", "  SOUTH  "})
        write(out / "gps_text" / (std::to_string(std::hash<std::string>{}(text)) + ".txt"), text);
    std::printf("seeds written to %s\n", out.c_str());
    return 0;
}
