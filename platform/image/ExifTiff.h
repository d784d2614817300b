// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/image/ImageProperties.h"

#include <cstdint>
#include <optional>
#include <span>

namespace corvane {

// The property groups of a TIFF structure as an Exif block carries it ("II*\0..." or "MM\0*..."), from
// a walk of the three directories the reading rules use, in the value kinds propertiesFromExif gives
// for the same tags:
// - the TIFF group: IFD0's Make, Model and Software;
// - the Exif group: the Make, Model and Software stored in the Exif IFD (IFD0's tag 0x8769);
// - the GPS group: every tag of the GPS IFD (IFD0's tag 0x8825), named as the Exif standard names it
//   without the "GPS" prefix ("Latitude", "LatitudeRef", "VersionID"), a tag it does not name by its
//   number ("0x0020"); a coordinate's one to three rationals become one number of degrees.
// A group is present when its directory gave it an entry. Other directories (IFD1, maker notes) are
// never looked at.
//
// Every offset, count and size is checked against `tiff` before it is used, and nothing outside it is
// read: a directory that does not lie in it, has more than 256 entries, or was read already (a loop
// back to IFD0) is not read; its entries are read up to the end of the bytes; an entry whose value
// lies outside the bytes, or claims 2^28 components or more, is left out; a list holds at most 64
// components. Absent when the bytes begin with no TIFF header. Never throws except std::bad_alloc.
std::optional<PropertySet> readExifTiff(std::span<const uint8_t> tiff);

// The groups of a HEIF Exif item: a 4-byte big-endian offset to the TIFF header, counted from the end
// of those 4 bytes (usually 6, skipping "Exif\0\0"), then the TIFF structure. Absent when the offset
// points outside the block or the structure has no TIFF header.
std::optional<PropertySet> readHeifExifBlock(std::span<const uint8_t> block);

}  // namespace corvane
