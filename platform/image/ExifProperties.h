// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/image/ImageProperties.h"

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

// Mutes Exiv2's log and sets up its XMP toolkit; done once per process, before the first read.
void prepareExiv2();

}  // namespace corvane
