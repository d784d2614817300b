// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/ResultModel.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

// An image's GPS position in signed decimal degrees: north and east positive.
struct ImagePosition {
    double latitude = 0;
    double longitude = 0;
};

// Both facts of one media file from a single look at it. Each answer prints its diagnostic lines when
// it is asked for, so a caller sees the lines in the order it asks. Lives for one file; asking twice
// gives the same answer without reading again.
class ImageReading {
public:
    virtual ~ImageReading() = default;
    // The reason the file cannot be read at all, which is then the file's own outcome: it could not be
    // opened or read ("Cannot read image: Permission denied", also for a file removed since it was
    // queued), or something other than a regular file is at the path ("<path> is not a regular file
    // (a FIFO)"). Absent otherwise, including for a file that is no image (that answers with absent
    // results below). Asked before the other answers, it is what opens the file.
    virtual std::optional<std::string> failure() = 0;
    // Absent only when the file's properties cannot be read at all; otherwise present, with any of the
    // three fields absent.
    virtual std::optional<DeviceData> readDeviceData() = 0;
    virtual std::optional<ImagePosition> readImageGPS() = 0;
};

// What the engine needs to know of a media file itself (never of its sidecar). Implementations open
// the file read-only, once per reading, never throw, and report every failure as an absent answer with
// a diagnostic line. Safe to call from any thread.
class ImageMetadataSource {
public:
    virtual ~ImageMetadataSource() = default;
    // The device and the position of one file. The file is not touched until the first answer is asked
    // for; all answers come from that one opening.
    virtual std::unique_ptr<ImageReading> read(const std::filesystem::path& fileURL) const = 0;
};

}  // namespace corvane
