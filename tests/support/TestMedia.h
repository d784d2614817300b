// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes real media files for tests, samples and benchmarks: HEIC images encoded by libheif with an Exif
// block that Exiv2 encodes, and DNG files (small TIFFs) written by Exiv2, carrying exactly the GPS and
// camera metadata a test asks for.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvane::test {

// How one GPS coordinate is stored in the image's GPS IFD.
struct StoredCoordinate {
    enum class Kind {
        rationals,        // RATIONAL components: degrees[, minutes[, seconds]] (non-negative)
        signedRationals,  // SRATIONAL components, so a negative value can be stored
        text,             // ASCII text, e.g. "10,25" or "10 deg 30' 36\""
        fractions,        // RATIONAL components exactly as given, zero denominators included
        doubles,          // DOUBLE components (TIFF type 12)
    };
    Kind kind = Kind::rationals;
    std::vector<double> components;
    std::string text;
    std::vector<std::pair<uint32_t, uint32_t>> parts;  // numerator and denominator of each fraction

    // The magnitude split into degrees, minutes and seconds (three rationals).
    static StoredCoordinate degrees(double value);
    // The given components as rationals (one to three of them; more are written as given).
    static StoredCoordinate rationalList(std::vector<double> components) { return {Kind::rationals, std::move(components), {}, {}}; }
    // One signed rational holding the value as it is (negative stays negative).
    static StoredCoordinate signedDegrees(double value) { return {Kind::signedRationals, {value}, {}, {}}; }
    static StoredCoordinate asText(std::string text) { return {Kind::text, {}, std::move(text), {}}; }
    // As a phone without a fix stores it: {{0, 0}, {0, 0}, {0, 0}}.
    static StoredCoordinate asFractions(std::vector<std::pair<uint32_t, uint32_t>> parts) { return {Kind::fractions, {}, {}, std::move(parts)}; }
    static StoredCoordinate asDoubles(std::vector<double> components) { return {Kind::doubles, std::move(components), {}, {}}; }
};

// The metadata of one test image. Absent fields are not written.
struct TestImage {
    std::optional<StoredCoordinate> latitude;
    std::optional<StoredCoordinate> longitude;
    std::optional<std::string> latitudeRef;   // "N", "S", "s", "South", ...
    std::optional<std::string> longitudeRef;
    std::optional<std::string> make;          // IFD0 Make
    std::optional<std::string> model;         // IFD0 Model
    std::optional<std::string> software;      // IFD0 Software
    bool cameraInExifIfd = false;             // Make, Model and Software go to the Exif IFD instead
    bool withExif = true;                     // false: the image carries no Exif block at all
};

// An iPhone photo (make "Apple", model "iPhone 15 Pro") taken at the signed position; the references
// follow the signs and the magnitudes are stored as degree/minute/second rationals.
TestImage iPhoneImageAt(double latitude, double longitude);

// The same position from another camera (make "Canon", model "Canon EOS R5").
TestImage cameraImageAt(double latitude, double longitude);

// The metadata as a TIFF structure ("II*\0..."), as an Exif block carries it after its header.
std::vector<uint8_t> encodeExifTiff(const TestImage& metadata);

// Writes a small real HEIC (a 64x64 picture encoded with HEVC) with the metadata as an Exif block attached to
// the primary image. Throws std::runtime_error when libheif cannot encode or write.
void writeHeic(const std::filesystem::path& path, const TestImage& metadata);

// Where a HEIC keeps its picture and its Exif item; all but `single` exercise less common ISOBMFF forms.
enum class HeicLayout {
    single,            // libheif's own output: one coded picture, the Exif item in "mdat"
    grid,              // libheif's output for an odd-sized picture: the primary item is a "grid"
    exifInIdat,        // the Exif item moved into the "idat" box (iloc construction method 1)
    exifInTwoExtents,  // the Exif item split into two extents, the second one in a box at the end of the file
};
void writeHeic(const std::filesystem::path& path, const TestImage& metadata, HeicLayout layout);

// Writes a small real DNG: a TIFF with a tiny strip image, the metadata's IFD0 tags and GPS IFD.
// Throws std::runtime_error when it cannot be written.
void writeDng(const std::filesystem::path& path, const TestImage& metadata);

// Writes a DNG when the name ends in ".dng" (in any case), else a HEIC.
void writeImage(const std::filesystem::path& path, const TestImage& metadata);

// Writes a small real JPEG (Exiv2's blank picture) carrying the metadata in its Exif segment. Throws
// std::runtime_error when it cannot be written.
void writeJpeg(const std::filesystem::path& path, const TestImage& metadata);

// A file's bytes, to damage or patch a made image; empty when the file cannot be read.
std::vector<uint8_t> readBytes(const std::filesystem::path& path);

// Writes the bytes as the whole file. Throws std::runtime_error when it cannot be written.
void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Damage done to a made image, as broken files out there are damaged. Throws std::runtime_error when the
// file is not of the form the damage needs.
enum class ImageDamage {
    truncated,                // cut to a third of its length
    overlongFtyp,             // HEIC: the ftyp box claims 80 MB (Exiv2 once took such a file for a video)
    exifLengthBeyondFile,     // HEIC: iloc says the Exif item runs 4 KiB past the end of the file
    exifLengthFourGigabytes,  // HEIC: iloc says the Exif item is 0xFFFFFFF0 bytes long
    exifOffsetBeyondBlock,    // HEIC: the 4 bytes in front of the TIFF structure point past the Exif block
    nextIfdIsItself,          // DNG: IFD0 names itself as the next IFD
    gpsIfdIsTheFirstIfd,      // DNG: the GPS IFD pointer points back at IFD0
    loopingIfds,              // the DNG, or the HEIC's Exif block, becomes a TIFF with make "Abc" whose IFD0 is
                              // its own next, GPS and Exif IFD, and whose Model claims 2 GB
};
void damageImage(const std::filesystem::path& path, ImageDamage damage);
// The damage of that name ("truncated", "overlongFtyp", ...), for cases written as data.
std::optional<ImageDamage> imageDamageNamed(const std::string& name);

}  // namespace corvane::test
