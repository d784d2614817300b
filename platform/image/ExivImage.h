// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/image/ImageFile.h"
#include "platform/image/ImageProperties.h"

#include <optional>

namespace corvane {

// What Exiv2's image factory makes of an opened file.
struct ExivImageReading {
    bool recognised = false;                // a still-image format Exiv2 knows by the file's content
    std::optional<PropertySet> properties;  // absent when the format is known but its metadata unreadable
};

// Reads any still-image format Exiv2 recognises by content (JPEG, PNG, TIFF/DNG, WebP, ...) through the
// already opened file: Exiv2 never opens the path itself. Exiv2 reads what its parser asks for through
// the file's window; a TIFF is mapped, as Exiv2 does with its own files, so only the pages its
// directories lie on are read. No exception or log line escapes.
ExivImageReading readWithExiv2(ImageFile& file, const std::filesystem::path& path);

}  // namespace corvane
