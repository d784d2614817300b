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

// The steps every save shares: the free-space check, `checkText` on the text about to be written, then
// the replacement, whose temporary file must read back as exactly that text (else `readBackFailure`). A
// sidecar changed by another program meanwhile is left as that program saved it.
Status replaceSafely(FileSystem& fileSystem, const OpenFile& sidecar, std::string_view text, const OpenFile::Attributes& attributes,
                     const std::function<Status()>& checkText, const Error& readBackFailure) {
    const std::filesystem::path& sidecarURL = sidecar.path();
    const std::filesystem::path folderURL = sidecarURL.parent_path();

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
    if (Status checked = checkText(); !checked) return checked;

    const Status replaced = fileSystem.replaceFile(sidecar, temporaryURLFor(sidecarURL), text, attributes, [] { return Status{}; });
    if (!replaced && replaced.error().isFileChanged())
        return Error::sidecarLeftUnchanged("XMP sidecar changed while it was being updated; left unchanged");
    if (!replaced && replaced.error().isReadBackMismatch()) return readBackFailure;
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
    // The text is parsed strictly and its GPS values checked here, once; the file system then proves that
    // the temporary file holds exactly this text, so what replaces the sidecar is what was checked.
    return replaceSafely(
        fileSystem, sidecar, *text.text, sidecar.attributes(), [&] { return validateSidecarText(*text.text, previousSize); },
        Error::validation(ValidationCode::notXml, ": it does not read back as the text written to it"));
}

Status restoreSidecarSafely(FileSystem& fileSystem, const OpenFile& sidecar, std::string_view text,
                            const OpenFile::Attributes& attributes) {
    return replaceSafely(
        fileSystem, sidecar, text, attributes,
        [] { return Status{}; },  // the text is the one read before the run; its read-back proves it is back
        Error::validation(ValidationCode::notTheTextToRestore));
}

Status validateTempFile(const FileSystem& fileSystem, const std::filesystem::path& tempURL, int64_t previousSize) {
    if (!fileSystem.exists(tempURL)) return Error::validation(ValidationCode::notCreated);
    // Read under the same size limit as any sidecar, so a temporary file that grew too large is refused
    // by its size instead of being read into memory.
    const auto bytes = fileSystem.readFile(tempURL, static_cast<uint64_t>(maximumSidecarSize));
    if (!bytes) return Error::validation(ValidationCode::notXml, ": " + sidecarReadError(fileSystem, tempURL, bytes.error()).message);
    return validateSidecarText(bytes.value(), previousSize);
}

Status validateSidecarText(std::string_view text, int64_t previousSize) {
    const auto size = static_cast<int64_t>(text.size());
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

    const auto document = XMPXML::load(text);
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
