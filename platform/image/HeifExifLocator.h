// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace corvane {

// Reads exactly `out.size()` bytes at `offset` of the file into `out`; false when they are not all there
// or the read fails. Called only for offsets and sizes inside the file size given alongside it.
using ReadAt = std::function<bool(uint64_t offset, std::span<uint8_t> out)>;

// What a HEIF file says about the Exif block of its primary image.
struct HeifExif {
    enum class Status {
        notHeif,  // no "ftyp" box first, or none of the HEIF brands in it
        damaged,  // a HEIF brand, but a structure no reader can trust (the file counts as no image)
        noExif,   // a sound HEIF whose primary image has no readable Exif item
        found,    // `block` holds the Exif item's bytes
    };
    Status status = Status::notHeif;
    // The Exif item's payload, as libheif hands it over: a 4-byte big-endian offset to the TIFF header,
    // counted from the end of those 4 bytes, then the bytes up to and including the TIFF structure.
    std::vector<uint8_t> block;
};

// Walks the ISO base media boxes of a file of `fileSize` bytes (ftyp, then meta with hdlr "pict",
// pitm, iinf, iloc, idat, iref) and reads the extents of the first Exif item that an iref "cdsc"
// reference ties to the primary item. Reads exactly what it parses and nothing else: the header of
// each top-level box up to "meta" (which may come after "mdat", as some phones write it), the "ftyp"
// and "meta" boxes, and the Exif extents wherever they lie (in "idat" they are in the "meta" already
// read); never the coded picture data. Each is one call of `read`.
//
// A file is damaged when a box overruns its container, a count does not fit the bytes that hold it,
// the primary item is not described, or any item's extent lies outside the file (a truncated file).
// Every size is checked before it is used: "meta" is read only up to 16 MiB, the Exif block up to
// 64 MiB, and at most 4096 top-level boxes are looked at. Never throws except std::bad_alloc.
HeifExif readHeifExif(const ReadAt& read, uint64_t fileSize);

}  // namespace corvane
