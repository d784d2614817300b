// SPDX-License-Identifier: GPL-3.0-or-later
// The image metadata reader on arbitrary bytes of a HEIC or DNG file: it answers with a position and a
// camera identity or with their absence, and neither library may crash, hang or leak on the way.
// CORVANE_FUZZ_IMAGE_NAME names the file, so the HEIC and DNG targets differ only in their corpora.

#include "fuzz/FuzzSupport.h"
#include "platform/image/ImageMetadataReader.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceDiagnostics();
    const std::filesystem::path image = fuzz::writeScratchFile(CORVANE_FUZZ_IMAGE_NAME, data, size);
    static const ImageMetadataReader reader;
    const auto reading = reader.read(image);
    (void)reading->readImageGPS();
    (void)reading->readDeviceData();
    return 0;
}
