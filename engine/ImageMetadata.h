#pragma once

#include "engine/ResultModel.h"

#include <filesystem>
#include <optional>

namespace corvane {

// An image's GPS position in signed decimal degrees: north and east positive.
struct ImagePosition {
    double latitude = 0;
    double longitude = 0;
};

// What the engine needs to know of a media file itself (never of its sidecar). Implementations open
// the file read-only, keep nothing between calls, never throw, and report every failure as an absent
// result with a diagnostic line. Safe to call from any thread.
class ImageMetadataSource {
public:
    virtual ~ImageMetadataSource() = default;
    virtual std::optional<ImagePosition> readImageGPS(const std::filesystem::path& fileURL) const = 0;
    // Absent only when the file's properties cannot be read at all; otherwise present, with any of the
    // three fields absent.
    virtual std::optional<DeviceData> readDeviceData(const std::filesystem::path& fileURL) const = 0;
};

}  // namespace corvane
