// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ImageProperties.h"

#include <cstdint>
#include <optional>
#include <span>

namespace Exiv2 {
class ExifData;
}

namespace corvane {

// The three property groups from metadata Exiv2 has decoded, in the value kinds the reading rules
// expect: rationals become numbers (a GPS coordinate's degree, minute and second rationals one exact
// number of degrees), integers stay integers, ASCII becomes text, several components make a list.
// GPS tags go to the GPS group without their "GPS" prefix, IFD0 tags to the TIFF group, Exif IFD tags
// to the Exif group; Make, Model and Software stored in the Exif IFD (tags Exiv2 knows only by number
// there) are named "Make", "Model" and "Software".
PropertySet propertiesFromExif(const Exiv2::ExifData& exif);

// The groups of a TIFF structure ("II*\0..." or "MM\0*..."); absent when it does not decode. Exiv2's
// exceptions and log lines stay inside.
std::optional<PropertySet> decodeExifTiff(std::span<const uint8_t> tiff);

// The groups of a HEIF Exif item: a 4-byte big-endian offset to the TIFF header, counted from the end
// of those 4 bytes (usually 6, skipping "Exif\0\0"), then the TIFF structure. Absent when the offset
// points outside the block or the structure does not decode.
std::optional<PropertySet> decodeHeifExifBlock(std::span<const uint8_t> block);

// Mutes Exiv2's log and sets up its XMP toolkit; done once per process, before the first read.
void prepareExiv2();

}  // namespace corvane
