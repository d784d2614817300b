// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/ImageMetadataReader.h"

#include "engine/Diagnostics.h"
#include "engine/FileSystem.h"
#include "platform/image/ExifProperties.h"
#include "platform/image/ExifTiff.h"
#include "platform/image/ExivImage.h"
#include "platform/image/HeifExifLocator.h"
#include "platform/image/ImageFile.h"
#include "platform/image/ImageProperties.h"

#include <cstring>

namespace corvane {
namespace {

namespace fs = std::filesystem;

enum class Opened { image, notAnImage, noProperties };

// The property groups of the file's first image, and how far the file could be read.
struct Reading {
    Opened opened = Opened::notAnImage;
    PropertySet properties;
    // Set when something other than a regular file is at the path: "<path> is not a regular file
    // (a FIFO)" and the like.
    std::optional<std::string> failure;
};

Reading readOpenedFile(ImageFile& file, const fs::path& path) {
    Reading reading;
    const HeifExif heif = readHeifExif([&file](uint64_t offset, std::span<uint8_t> out) { return file.readAt(offset, out); },
                                       file.size());
    switch (heif.status) {
        case HeifExif::Status::notHeif: {
            ExivImageReading exiv = readWithExiv2(file, path);
            if (!exiv.recognised) return reading;
            reading.opened = exiv.properties ? Opened::image : Opened::noProperties;
            if (exiv.properties) reading.properties = std::move(*exiv.properties);
            return reading;
        }
        case HeifExif::Status::damaged: return reading;
        case HeifExif::Status::noExif: reading.opened = Opened::image; return reading;
        case HeifExif::Status::found:
            reading.opened = Opened::image;
            if (auto properties = readHeifExifBlock(heif.block)) reading.properties = std::move(*properties);
            return reading;
    }
    return reading;
}

// A file that could not be opened or read fails with the cause, never as an image without a position:
// what was read before an I/O error is not to be trusted, and "No GPS available" would send the user
// looking in the wrong place.
std::string cannotReadImage(int error) { return std::string("Cannot read image: ") + std::strerror(error); }

Reading readProperties(const fs::path& fileURL) {
    prepareExiv2();
    try {
        ImageFile file(fileURL);
        if (!file.isReadable()) {
            Reading reading;
            if (file.irregularMode()) reading.failure = notRegularFileMessage(fileURL, *file.irregularMode());
            else if (file.error() != 0) reading.failure = cannotReadImage(file.error());
            return reading;
        }
        Reading reading = readOpenedFile(file, fileURL);
        if (file.error() != 0) reading.failure = cannotReadImage(file.error());
        return reading;
    } catch (...) {
        return {};
    }
}

// The two answers from one reading of the file, with their diagnostic lines. Either answer is absent
// for a file that could not be opened as an image.
bool openedAsImage(const Reading& reading, const fs::path& fileURL) {
    if (reading.opened != Opened::notAnImage) return true;
    Diagnostics::line("[DEBUG] CGImageSourceCreateWithURL failed for ", fileURL.string());
    return false;
}

std::optional<ImagePosition> imageGPSOf(const Reading& reading, const fs::path& fileURL) {
    if (!openedAsImage(reading, fileURL)) return std::nullopt;
    std::optional<PropertySet> properties;
    if (reading.opened == Opened::image) properties = reading.properties;
    return imageGPSFromProperties(properties, lastPathComponent(fileURL));
}

std::optional<DeviceData> deviceDataOf(const Reading& reading, const fs::path& fileURL) {
    if (!openedAsImage(reading, fileURL)) return std::nullopt;
    if (reading.opened == Opened::noProperties) {
        Diagnostics::line("[DEBUG] CGImageSourceCopyPropertiesAtIndex returned nil for ", lastPathComponent(fileURL));
        return std::nullopt;
    }
    return deviceDataFromProperties(reading.properties, lastPathComponent(fileURL));
}

class SingleOpeningReading : public ImageReading {
public:
    explicit SingleOpeningReading(fs::path fileURL) : fileURL_(std::move(fileURL)) {}

    std::optional<std::string> failure() override { return reading().failure; }
    std::optional<DeviceData> readDeviceData() override { return deviceDataOf(reading(), fileURL_); }
    std::optional<ImagePosition> readImageGPS() override { return imageGPSOf(reading(), fileURL_); }

private:
    const Reading& reading() {
        if (!reading_) reading_ = readProperties(fileURL_);
        return *reading_;
    }

    fs::path fileURL_;
    std::optional<Reading> reading_;
};

}  // namespace

ImageMetadataReader::ImageMetadataReader() { prepareExiv2(); }

std::unique_ptr<ImageReading> ImageMetadataReader::read(const fs::path& fileURL) const {
    return std::make_unique<SingleOpeningReading>(fileURL);
}

}  // namespace corvane
