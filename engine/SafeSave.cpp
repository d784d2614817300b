// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SafeSave.h"

#include "engine/Diagnostics.h"
#include "engine/GpsText.h"
#include "engine/SidecarGPS.h"
#include "engine/XmpXml.h"

#include <cmath>
#include <cstdlib>
#include <functional>

namespace corvane {
namespace {

constexpr int64_t smallestValidTempFile = 100;
constexpr double sizeChangeWarningRatio = 0.5;

}  // namespace

std::filesystem::path temporaryURLFor(const std::filesystem::path& sidecarURL) {
    return sidecarURL.parent_path() / ("." + lastPathComponent(sidecarURL) + ".tmp");
}

namespace {

// The steps every save shares: the free-space check, then the replacement with `validate` run on the
// written temporary file. A sidecar changed by another program meanwhile is left as that program saved it.
Status replaceSafely(FileSystem& fileSystem, const OpenFile& sidecar, std::string_view text, const OpenFile::Attributes& attributes,
                     const std::function<Status(const std::filesystem::path& tempURL)>& validate) {
    const std::filesystem::path& sidecarURL = sidecar.path();
    const std::filesystem::path folderURL = sidecarURL.parent_path();
    const std::filesystem::path tempURL = temporaryURLFor(sidecarURL);

    const auto capacity = fileSystem.availableCapacity(folderURL.empty() ? std::filesystem::path(".") : folderURL);
    if (!capacity) {
        Diagnostics::line("[DEBUG] Failed to check disk space: ", capacity.error().message);
        return capacity.error();
    }
    const uint64_t available = capacity.value().value_or(0);
    const uint64_t availableMegabytes = available / 1048576;
    if (available < requiredFreeSpace) {
        return Error::diskSpace("Insufficient disk space. Available: " + std::to_string(availableMegabytes) + "MB, Required: 100MB");
    }
    Diagnostics::line("[DEBUG] Disk space check passed: ", availableMegabytes, "MB available");

    const Status replaced = fileSystem.replaceFile(sidecar, tempURL, text, attributes, [&] { return validate(tempURL); });
    if (!replaced && replaced.error().isFileChanged())
        return Error::sidecarLeftUnchanged("XMP sidecar changed while it was being updated; left unchanged");
    if (!replaced) return replaced;
    Diagnostics::line("[DEBUG] Successfully saved XMP: ", lastPathComponent(sidecarURL));
    return {};
}

}  // namespace

Status saveXmpSafely(FileSystem& fileSystem, const XmlDocument& document, const OpenFile& sidecar) {
    // Indentation can make the text of a deeply nested document many times larger than the sidecar it
    // came from; a text beyond the sidecar size limit is refused before it reaches the disk.
    const XmlDocument::BoundedText text = document.serialize(static_cast<uint64_t>(maximumSidecarSize));
    if (!text.text) return sidecarTooLarge(text.size);
    const auto previousSize = static_cast<int64_t>(sidecar.bytes().size());
    return replaceSafely(fileSystem, sidecar, *text.text, sidecar.attributes(), [&](const std::filesystem::path& tempURL) {
        return validateTempFile(fileSystem, tempURL, previousSize);
    });
}

Status restoreSidecarSafely(FileSystem& fileSystem, const OpenFile& sidecar, std::string_view text,
                            const OpenFile::Attributes& attributes) {
    return replaceSafely(fileSystem, sidecar, text, attributes, [&](const std::filesystem::path& tempURL) -> Status {
        const auto written = fileSystem.readFile(tempURL, static_cast<uint64_t>(maximumSidecarSize) + 1);
        if (!written) return written.error();
        if (written.value() != text) return Error::validation(ValidationCode::notTheTextToRestore);
        Diagnostics::line("[DEBUG] Temp file holds the text to restore: ", text.size(), " bytes");
        return {};
    });
}

Status validateTempFile(const FileSystem& fileSystem, const std::filesystem::path& tempURL, int64_t previousSize) {
    if (!fileSystem.exists(tempURL)) return Error::validation(ValidationCode::notCreated);
    const auto sizeRead = fileSystem.itemSize(tempURL);
    if (!sizeRead) return sizeRead.error();
    const int64_t size = sizeRead.value();
    if (size < 1) return Error::validation(ValidationCode::empty);
    if (size < smallestValidTempFile)
        return Error::validation(ValidationCode::tooSmall, " (" + std::to_string(size) + " bytes), likely corrupted");

    if (previousSize >= 1) {
        const double ratio =
            std::fabs(static_cast<double>(size) - static_cast<double>(previousSize)) / static_cast<double>(previousSize);
        if (ratio > sizeChangeWarningRatio) {
            Diagnostics::line("[DEBUG] Warning: Significant size change - Original: ", previousSize, " bytes, New: ", size,
                              " bytes (", static_cast<int64_t>(ratio * 100), "% change)");
        }
    }
    Diagnostics::line("[DEBUG] File size validation passed: ", size, " bytes");

    // Read back under the same size limit as any sidecar, so a temporary file that grew too large is
    // refused by its size instead of being read into memory.
    const auto document = loadSidecar(fileSystem, tempURL);
    if (!document) return Error::validation(ValidationCode::notXml, ": " + document.error().message);

    const auto element = XMPXML::findGPSElement(document.value());
    if (!element) return Error::validation(ValidationCode::missingStructure);
    Diagnostics::line("[DEBUG] XML structure validation passed");

    const SidecarGPSTexts written = readSidecarGPSTexts(*element);
    if (!written.latitude || !written.longitude) return Error::validation(ValidationCode::missingCoordinates);
    if (!parseXmpGPS(written.latitude).value || !parseXmpGPS(written.longitude).value)
        return Error::validation(ValidationCode::unparseableCoordinates);

    const std::string latRef = normalizeHemisphereRef(written.latitudeRef);
    const std::string lonRef = normalizeHemisphereRef(written.longitudeRef);
    if ((latRef != "N" && latRef != "S") || (lonRef != "E" && lonRef != "W"))
        return Error::validation(ValidationCode::invalidHemisphereRefs);

    Diagnostics::line("[DEBUG] GPS data validation passed: lat=", *written.latitude, " lon=", *written.longitude,
                      " latRef=", latRef, " lonRef=", lonRef);
    Diagnostics::line("[DEBUG] All temp file validations passed successfully");
    return {};
}

}  // namespace corvane
