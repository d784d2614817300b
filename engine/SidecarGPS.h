// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"
#include "engine/FileSystem.h"
#include "engine/GpsText.h"
#include "engine/XmpXml.h"

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

// The four GPS texts of a sidecar's GPS element, as read (trimmed); absent when a property is missing.
struct SidecarGPSTexts {
    std::optional<std::string> latitude;
    std::optional<std::string> longitude;
    std::optional<std::string> latitudeRef;
    std::optional<std::string> longitudeRef;
};

// Reads exif:GPSLatitude, exif:GPSLongitude, exif:GPSLatitudeRef and exif:GPSLongitudeRef, in that order.
SidecarGPSTexts readSidecarGPSTexts(XmlNode element);

// How the sidecar's texts read as a position: each axis's number and the letter its text carries, the
// effective hemisphere (the reference property when it names one, else the text's own letter) and the
// signed decimal.
struct SidecarGPSReading {
    ParsedCoordinate latitude;
    ParsedCoordinate longitude;
    std::string effectiveLatRef;
    std::string effectiveLonRef;
    std::optional<double> latitudeDecimal;
    std::optional<double> longitudeDecimal;
};
SidecarGPSReading interpretSidecarGPS(const SidecarGPSTexts& texts);

// The image's position as the engine writes it in the coordinate form given: each axis's hemisphere
// letter ("N" for a latitude >= 0, else "S"; "E" or "W"), its canonical text ("37.77490000N", or
// "37,46.494000N" in the xmp form), and that text without the letter, which stands in for a text the
// sidecar lacks where an old value is shown.
struct GPSTarget {
    double latitude = 0;
    double longitude = 0;
    std::string latRef;
    std::string lonRef;
    std::string latText;
    std::string lonText;
    std::string latValueText;
    std::string lonValueText;
};
GPSTarget gpsTargetFor(double latitude, double longitude, CoordinateForm form = CoordinateForm::decimal);

// The comparison's instruction to write, with what it worked out: the sidecar's texts as read, how
// they read, and the target. The writer works from these values; it neither reads the properties nor
// works out the target again.
struct WriteSidecar {
    SidecarGPSTexts existing;
    SidecarGPSReading reading;
    GPSTarget target;
};

// The largest sidecar the engine loads. Anything larger is not a real XMP sidecar, and loading it would
// cost memory in proportion to whatever the file holds.
inline constexpr int64_t maximumSidecarSize = 64ll * 1048576;

// "XMP" 2 "XMP sidecar too large (N bytes)": a sidecar, or the text of one, of `size` bytes is beyond
// the limit.
Error sidecarTooLarge(uint64_t size);

// A failed read of a sidecar as the engine reports it: "XMP" 2 "XMP sidecar too large (N bytes)" for a
// file above the limit, else the file system's own error (among them "PATH is not a regular file
// (KIND)" for a FIFO, a device or a directory, which is never read).
Error sidecarReadError(const FileSystem& fileSystem, const std::filesystem::path& sidecarURL, const Error& error);

// Reads and parses a sidecar. Errors: those of sidecarReadError, then the XML parser's own.
Expected<XmlDocument> loadSidecar(const FileSystem& fileSystem, const std::filesystem::path& sidecarURL);

}  // namespace corvane
