// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SidecarGPS.h"

#include <cerrno>

namespace corvane {

SidecarGPSTexts readSidecarGPSTexts(XmlNode element) {
    SidecarGPSTexts texts;
    texts.latitude = XMPXML::getPropertyValue("exif:GPSLatitude", element);
    texts.longitude = XMPXML::getPropertyValue("exif:GPSLongitude", element);
    texts.latitudeRef = XMPXML::getPropertyValue("exif:GPSLatitudeRef", element);
    texts.longitudeRef = XMPXML::getPropertyValue("exif:GPSLongitudeRef", element);
    return texts;
}

SidecarGPSReading interpretSidecarGPS(const SidecarGPSTexts& texts) {
    SidecarGPSReading reading;
    reading.latitude = parseXmpGPS(texts.latitude);
    reading.longitude = parseXmpGPS(texts.longitude);
    reading.effectiveLatRef = normalizeHemisphereRef(texts.latitudeRef);
    if (reading.effectiveLatRef.empty()) reading.effectiveLatRef = reading.latitude.letter;
    reading.effectiveLonRef = normalizeHemisphereRef(texts.longitudeRef);
    if (reading.effectiveLonRef.empty()) reading.effectiveLonRef = reading.longitude.letter;
    reading.latitudeDecimal = applyHemisphereSign(reading.latitude.value, reading.effectiveLatRef);
    reading.longitudeDecimal = applyHemisphereSign(reading.longitude.value, reading.effectiveLonRef);
    return reading;
}

Error sidecarTooLarge(uint64_t size) {
    return Error{"XMP", 2, "XMP sidecar too large (" + std::to_string(size) + " bytes)"};
}

GPSTarget gpsTargetFor(double latitude, double longitude, CoordinateForm form) {
    return GPSTarget{latitude,
                     longitude,
                     hemisphereLetter(latitude, Axis::latitude),
                     hemisphereLetter(longitude, Axis::longitude),
                     formatGPSCoordinate(latitude, Axis::latitude, form),
                     formatGPSCoordinate(longitude, Axis::longitude, form),
                     formatGPSValue(latitude, form),
                     formatGPSValue(longitude, form)};
}

Error sidecarReadError(const FileSystem& fileSystem, const std::filesystem::path& sidecarURL, const Error& error) {
    if (!error.isFileTooLarge()) return error;
    const auto size = fileSystem.itemSize(sidecarURL);
    return sidecarTooLarge(static_cast<uint64_t>(size ? size.value() : maximumSidecarSize + 1));
}

Expected<XmlDocument> loadSidecar(const FileSystem& fileSystem, const std::filesystem::path& sidecarURL) {
    // One open answers whether the file exists, what it is and how large: no separate stat.
    auto bytes = fileSystem.readFile(sidecarURL, static_cast<uint64_t>(maximumSidecarSize));
    if (!bytes) return sidecarReadError(fileSystem, sidecarURL, bytes.error());
    return XMPXML::load(bytes.value());
}

}  // namespace corvane
