// SPDX-License-Identifier: GPL-3.0-or-later
// The TIFF walk of an Exif block on arbitrary bytes: it must answer without a crash, a hang or a read
// outside the bytes it was given (libFuzzer hands them over in a buffer of exactly their size), and a
// GPS group it gives must go through the reading rules.

#include "engine/Diagnostics.h"
#include "platform/image/ExifTiff.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Diagnostics::setSink({});
    const std::optional<PropertySet> properties = readExifTiff(std::span(data, size));
    if (properties) {
        (void)imageGPSFromProperties(properties, "fuzz.heic");
        (void)deviceDataFromProperties(*properties, "fuzz.heic");
    }
    return 0;
}
