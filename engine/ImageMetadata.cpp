#include "engine/ImageMetadata.h"

namespace corvane {
namespace {

// Forwards each answer to the source's own call, remembering it for the rest of the file.
class SeparateCallsReading : public ImageReading {
public:
    SeparateCallsReading(const ImageMetadataSource& source, std::filesystem::path fileURL)
        : source_(source), fileURL_(std::move(fileURL)) {}

    std::optional<DeviceData> readDeviceData() override {
        if (!device_) device_ = source_.readDeviceData(fileURL_);
        return *device_;
    }
    std::optional<ImagePosition> readImageGPS() override {
        if (!position_) position_ = source_.readImageGPS(fileURL_);
        return *position_;
    }

private:
    const ImageMetadataSource& source_;
    std::filesystem::path fileURL_;
    std::optional<std::optional<DeviceData>> device_;
    std::optional<std::optional<ImagePosition>> position_;
};

}  // namespace

std::unique_ptr<ImageReading> ImageMetadataSource::read(const std::filesystem::path& fileURL) const {
    return std::make_unique<SeparateCallsReading>(*this, fileURL);
}

}  // namespace corvane
