#include "engine/SidecarGPS.h"

namespace corvane {

SidecarGPSTexts readSidecarGPSTexts(pugi::xml_node element) {
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

Expected<XmlDocument> loadSidecar(const FileSystem& fileSystem, const std::filesystem::path& sidecarURL) {
    if (const auto size = fileSystem.itemSize(sidecarURL); size && size.value() > maximumSidecarSize)
        return Error{"XMP", 2, "XMP sidecar too large (" + std::to_string(size.value()) + " bytes)"};
    auto bytes = fileSystem.readFile(sidecarURL);
    if (!bytes) return bytes.error();
    return XMPXML::load(bytes.value());
}

}  // namespace corvane
