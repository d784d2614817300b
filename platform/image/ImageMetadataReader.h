// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/ImageMetadata.h"

#include <filesystem>

namespace corvane {

// Reads the position and camera identity embedded in an image, chosen by the file's content: a HEIF
// (HEIC, AVIF: an "ftyp" box with a HEIF brand) through this program's own box reader and its primary
// image's Exif item read by this program's own TIFF walk, anything else through Exiv2's image factory
// (DNG/TIFF, JPEG, PNG, WebP, ...). The file name's extension plays no part.
//
// What counts as what:
// - a file that cannot be opened or read (missing, no permission, an I/O error) fails with
//   "Cannot read image: " and the cause; something other than a regular file fails with what it is;
// - a file that is no image format known here, or whose HEIF structure is damaged, cannot be opened as
//   an image;
// - an image whose metadata Exiv2 cannot read has no properties;
// - a HEIF image without an Exif item, or with one that does not decode, has properties but none of
//   the three groups: no GPS, and a camera identity with every field absent.
// Each file is opened once, without blocking, read only when it is a regular file and only up to the
// size it has then; no library opens the path itself. Nothing is cached, and no library exception or
// log line escapes. Safe to call from several threads.
class ImageMetadataReader : public ImageMetadataSource {
public:
    ImageMetadataReader();

    // Opens the file once, at the first question asked, and answers all of them from that reading.
    std::unique_ptr<ImageReading> read(const std::filesystem::path& fileURL) const override;
};

}  // namespace corvane
