// SPDX-License-Identifier: GPL-3.0-or-later
// The HEIF box walker on arbitrary bytes held in memory: it must answer without a crash, a hang or a
// read outside the bytes it was given, and whatever Exif block it finds must be read or refused.

#include "platform/image/ExifTiff.h"
#include "platform/image/HeifExifLocator.h"

#include <cstring>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const HeifExif exif = readHeifExif(
        [&](uint64_t offset, std::span<uint8_t> out) {
            if (offset > size || out.size() > size - offset) __builtin_trap();  // the walker must stay inside
            if (!out.empty()) std::memcpy(out.data(), data + offset, out.size());
            return true;
        },
        size);
    if (exif.status == HeifExif::Status::found) (void)readHeifExifBlock(exif.block);
    return 0;
}
