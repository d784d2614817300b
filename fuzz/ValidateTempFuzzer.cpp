// SPDX-License-Identifier: GPL-3.0-or-later
// The read-back check of a written temporary file, on arbitrary bytes: whatever the disk gives back,
// validation answers with success or one of its errors.

#include "engine/SafeSave.h"
#include "fuzz/FuzzSupport.h"
#include "platform/system/PosixFileSystem.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceDiagnostics();
    const std::filesystem::path temp = fuzz::writeScratchFile(".IMG_0001.xmp.tmp", data, size);
    const Status status = validateTempFile(PosixFileSystem::shared(), temp, 1000);
    if (!status && (status.error().domain != "Validation" || status.error().code < 1 || status.error().code > 8))
        std::abort();
    return 0;
}
