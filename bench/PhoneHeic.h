// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Real-sized HEIC images for the benchmark corpus: a noisy picture of a phone's size, encoded with HEVC
// by libheif's encoder, stored as one coded image or as a grid of square tiles as phones write it.

#include <cstdint>
#include <vector>

namespace corvane::bench {

// The coded picture, ready to be put into any number of files with different Exif blocks.
struct CodedPicture {
    int width = 0, height = 0;          // the picture as shown
    int tileSize = 0;                   // 0: one coded image; otherwise the side of each grid tile
    int columns = 1, rows = 1;
    std::vector<uint8_t> hvcC;          // the decoder configuration box, header included
    std::vector<std::vector<uint8_t>> tiles;  // the coded data of each image (one without a grid)
};

// Encodes a width × height picture of film-like noise over soft gradients (so that HEVC cannot make it
// small) with libheif's HEVC encoder at the given quality. With tileSize > 0 each tile is encoded as an
// image of its own, the picture cut into columns × rows tiles (the last ones reach past the edge and
// are cropped by the grid). Throws std::runtime_error on failure.
CodedPicture encodePicture(int width, int height, int tileSize, int quality);

// Where a HEIC keeps its Exif item and its 'meta' box, as the writers out there do.
enum class Layout {
    exifFirst,   // 'meta', then 'mdat' with the Exif item before the coded data (as phones write it)
    exifLast,    // the Exif item after the coded data, megabytes into the file (as exiftool leaves an edited photo)
    metaLast,    // 'mdat' first, the Exif item at its start, 'meta' at the end of the file (as Samsung's phones write it)
    exifInIdat,  // the Exif item inside 'meta', in its 'idat' box
};

// A whole HEIC file: the picture as the primary item (a grid item over hidden tile items, or one coded
// image) and `tiff` ("II*\0...") as its Exif item, linked to the primary item by a 'cdsc' reference.
std::vector<uint8_t> heicFile(const CodedPicture& picture, const std::vector<uint8_t>& tiff, Layout layout = Layout::exifFirst);

// Decodes the file's primary image with libheif and throws std::runtime_error unless that works and
// gives the picture's size: the container written above is checked by a real decoder, grid and all.
void checkDecodes(const std::vector<uint8_t>& file, const CodedPicture& picture);

}  // namespace corvane::bench
