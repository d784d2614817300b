#pragma once

#include "engine/ImageMetadata.h"
#include "platform/ImageProperties.h"

#include <filesystem>
#include <optional>

namespace corvane {

// Reads the position and camera identity embedded in a HEIC/HEIF image (through libheif, its primary
// image's "Exif" block decoded by Exiv2) or a DNG/TIFF (through Exiv2), chosen by the file's content.
//
// What counts as what:
// - a file that cannot be opened, is not a HEIF or TIFF container, or whose container is damaged
//   cannot be opened as an image;
// - a TIFF whose metadata cannot be read has no properties;
// - a HEIF image without an Exif block, or with one that does not decode, has properties but none of
//   the three groups: no GPS, and a camera identity with every field absent.
// The file is opened read-only, nothing is cached, and no library exception or log line escapes.
// Safe to call from several threads.
class ImageMetadataReader : public ImageMetadataSource {
public:
    ImageMetadataReader();

    std::optional<ImagePosition> readImageGPS(const std::filesystem::path& fileURL) const override;
    std::optional<DeviceData> readDeviceData(const std::filesystem::path& fileURL) const override;
    // Opens the file once, at the first answer asked for, and answers both from that reading.
    std::unique_ptr<ImageReading> read(const std::filesystem::path& fileURL) const override;

    enum class Opened { image, notAnImage, noProperties };
    struct Reading {
        Opened opened = Opened::notAnImage;
        PropertySet properties;
    };
    // The property groups of the file's first image.
    static Reading readProperties(const std::filesystem::path& fileURL);
};

}  // namespace corvane
