// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-bench-corpus: writes a benchmark corpus of real HEIC and DNG images with XMP sidecars beside
// them, in nested folders (or all in one), the same for the same seed.
//
// Encoding HEVC is slow, so only three template images are made (an iPhone HEIC, a camera HEIC and an
// iPhone DNG). Every corpus image is a byte copy of a template whose GPS rationals and hemisphere
// references are patched in place: the Exif block keeps its size, so the containers stay valid. Each
// written image is read back with the program's own metadata reader and must give exactly the intended
// position.
//
// By default the templates are the test media helpers' small images. With --image WxH the HEIC
// templates carry a real-sized noisy picture encoded by libheif's encoder, as one coded image or (with
// --grid N) as a grid of N×N tiles as phones write it, and with --dng-bytes the DNG is padded with
// noise to a raw file's size. Sidecars start from bench/sidecar-template.xmp, made by exiftool
// (bench/make-sidecar-template).

#include "bench/PhoneHeic.h"
#include "engine/Diagnostics.h"
#include "platform/image/ImageMetadataReader.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TestMedia.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using corvane::test::TestImage;
using corvane::test::readBytes;
using corvane::test::writeBytes;

namespace {

// What one pair of the corpus is made to exercise, and the outcome corvane-cli gives it.
enum class Kind {
    letterless,   // right position without hemisphere letters: rewritten
    canonical,    // already in the canonical form: already correct
    tolerance,    // right, lettered, fewer decimals (37.7749N): within tolerance, left alone
    differing,    // a position off by more than the tolerance: reported, left alone
    noSidecar,    // image without a sidecar: skipped
    nonApple,     // a camera HEIC (skipped unless every device is processed), letterless sidecar
    dng,          // an iPhone DNG, letterless sidecar
};

struct KindShare {
    Kind kind;
    const char* name;
    int percent;
};

constexpr std::array<KindShare, 7> kindShares{{
    {Kind::letterless, "letterless (rewritten)", 40},
    {Kind::canonical, "already canonical", 20},
    {Kind::tolerance, "within tolerance", 10},
    {Kind::differing, "differing", 10},
    {Kind::noSidecar, "without sidecar", 5},
    {Kind::nonApple, "non-Apple HEIC", 5},
    {Kind::dng, "DNG", 10},
}};

struct Options {
    fs::path out;
    long count = 10'000;
    uint64_t seed = 1;
    long perFolder = 100;
    long foldersPerGroup = 10;
    int imageWidth = 0, imageHeight = 0;  // 0: the small test media images
    int gridTile = 0;                     // 0: one coded image
    int quality = 25;                     // about 3 MB for 4000x3000, as a phone writes
    corvane::bench::Layout layout = corvane::bench::Layout::exifFirst;
    const char* layoutName = "exif-first";
    long dngBytes = 0;                    // 0: the DNG as the test media helpers write it
    fs::path sidecarTemplate = CORVANE_BENCH_DIR "/sidecar-template.xmp";
    fs::path templates;                   // where encoded templates are kept between runs
    fs::path rewriteList;                 // where the list of sidecars corvane-cli rewrites goes
};

[[noreturn]] void usage(const char* message) {
    std::fprintf(stderr,
                 "corvane-bench-corpus: %s\n"
                 "usage: corvane-bench-corpus --out DIR [--count N] [--seed S] [--per-folder N] [--image WxH]\n"
                 "         [--grid TILE] [--layout exif-first|exif-last|meta-last|exif-idat] [--quality Q]\n"
                 "         [--dng-bytes N] [--sidecar-template FILE]\n"
                 "         [--templates DIR] [--rewrite-list FILE]\n",
                 message);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(("missing value after " + arg).c_str());
            return argv[++i];
        };
        if (arg == "--out") options.out = value();
        else if (arg == "--count") options.count = std::stol(value());
        else if (arg == "--seed") options.seed = std::stoull(value());
        else if (arg == "--per-folder") options.perFolder = std::stol(value());
        else if (arg == "--image") {
            const std::string size = value();
            if (std::sscanf(size.c_str(), "%dx%d", &options.imageWidth, &options.imageHeight) != 2 ||
                options.imageWidth < 64 || options.imageHeight < 64 || options.imageWidth > 65535 ||
                options.imageHeight > 65535)
                usage("--image takes WIDTHxHEIGHT, each 64 to 65535");
        } else if (arg == "--grid") options.gridTile = std::stoi(value());
        else if (arg == "--layout") {
            using corvane::bench::Layout;
            const std::string name = value();
            const std::pair<const char*, Layout> layouts[] = {{"exif-first", Layout::exifFirst}, {"exif-last", Layout::exifLast},
                                                              {"meta-last", Layout::metaLast}, {"exif-idat", Layout::exifInIdat}};
            const auto* found = std::find_if(std::begin(layouts), std::end(layouts), [&](const auto& l) { return name == l.first; });
            if (found == std::end(layouts)) usage("--layout takes exif-first, exif-last, meta-last or exif-idat");
            options.layout = found->second;
            options.layoutName = found->first;
        }
        else if (arg == "--quality") options.quality = std::stoi(value());
        else if (arg == "--dng-bytes") options.dngBytes = std::stol(value());
        else if (arg == "--sidecar-template") options.sidecarTemplate = value();
        else if (arg == "--templates") options.templates = value();
        else if (arg == "--rewrite-list") options.rewriteList = value();
        else usage(("unknown option " + arg).c_str());
    }
    if (options.out.empty()) usage("--out is required");
    if (options.count < 1 || options.perFolder < 1) usage("--count and --per-folder must be positive");
    if (options.gridTile < 0 || (options.gridTile > 0 && options.imageWidth == 0)) usage("--grid needs --image");
    if (options.layout != corvane::bench::Layout::exifFirst && options.imageWidth == 0) usage("--layout needs --image");
    if (options.gridTile > 0 && (options.imageWidth + options.gridTile - 1) / options.gridTile > 256)
        usage("--grid: at most 256 tiles a row");
    return options;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

// A coordinate as the templates store it: whole degrees, whole minutes and seconds in millionths.
struct Dms {
    uint32_t degrees = 0;
    uint32_t minutes = 0;
    uint32_t microseconds = 0;  // seconds × 1,000,000
    bool negative = false;

    // The value exactly as the metadata reader computes it from the three rationals.
    double value() const {
        const double magnitude = static_cast<double>(degrees) + static_cast<double>(minutes) / 60.0 +
                                 static_cast<double>(microseconds) / 1'000'000.0 / 3600.0;
        return negative ? -magnitude : magnitude;
    }
};

Dms randomDms(std::mt19937_64& random, uint32_t maxDegrees) {
    Dms dms;
    dms.degrees = static_cast<uint32_t>(random() % maxDegrees);
    dms.minutes = static_cast<uint32_t>(random() % 60);
    dms.microseconds = static_cast<uint32_t>(random() % 60'000'000);
    dms.negative = random() % 2 == 1;
    return dms;
}

// Where the GPS values of a template sit in its bytes.
struct PatchPoints {
    bool littleEndian = true;
    size_t latitudeRef = 0, latitude = 0, longitudeRef = 0, longitude = 0;  // absolute offsets
};

class TiffView {
public:
    TiffView(const std::vector<uint8_t>& bytes, size_t start) : bytes_(bytes), start_(start) {
        if (start + 8 > bytes.size()) throw std::runtime_error("TIFF header out of range");
        if (bytes[start] == 'I' && bytes[start + 1] == 'I') little_ = true;
        else if (bytes[start] == 'M' && bytes[start + 1] == 'M') little_ = false;
        else throw std::runtime_error("no TIFF byte order mark");
    }
    bool littleEndian() const { return little_; }
    uint32_t u16(size_t offset) const { return read(offset, 2); }
    uint32_t u32(size_t offset) const { return read(offset, 4); }

    // The absolute offset of the 12-byte IFD entry for `tag` in the IFD at TIFF offset `ifd`.
    size_t entry(uint32_t ifd, uint16_t tag) const {
        const uint32_t count = u16(ifd);
        for (uint32_t i = 0; i < count; ++i) {
            const size_t at = ifd + 2 + size_t{i} * 12;
            if (u16(at) == tag) return start_ + at;
        }
        throw std::runtime_error("tag " + std::to_string(tag) + " not found");
    }

    size_t start() const { return start_; }

private:
    uint32_t read(size_t offset, int width) const {
        const size_t at = start_ + offset;
        if (at + static_cast<size_t>(width) > bytes_.size()) throw std::runtime_error("TIFF offset out of range");
        uint32_t value = 0;
        for (int i = 0; i < width; ++i) {
            const uint32_t byte = bytes_[at + static_cast<size_t>(little_ ? i : width - 1 - i)];
            value |= byte << (8 * i);
        }
        return value;
    }

    const std::vector<uint8_t>& bytes_;
    size_t start_;
    bool little_ = true;
};

PatchPoints findPatchPoints(const std::vector<uint8_t>& bytes, size_t tiffStart) {
    const TiffView tiff(bytes, tiffStart);
    const uint32_t ifd0 = tiff.u32(4);
    const size_t gpsPointer = tiff.entry(ifd0, 0x8825);
    const uint32_t gpsIfd = tiff.u32(gpsPointer - tiffStart + 8);

    PatchPoints points;
    points.littleEndian = tiff.littleEndian();
    auto reference = [&](uint16_t tag) {
        const size_t at = tiff.entry(gpsIfd, tag);
        const uint32_t count = tiff.u32(at - tiffStart + 4);
        if (tiff.u16(at - tiffStart + 2) != 2 || count < 1 || count > 4)
            throw std::runtime_error("hemisphere reference is not a one-letter ASCII value");
        return at + 8;  // the letter (with or without its NUL), stored inside the entry
    };
    auto rationals = [&](uint16_t tag) {
        const size_t at = tiff.entry(gpsIfd, tag);
        if (tiff.u16(at - tiffStart + 2) != 5 || tiff.u32(at - tiffStart + 4) != 3)
            throw std::runtime_error("coordinate is not three RATIONALs");
        return tiffStart + tiff.u32(at - tiffStart + 8);
    };
    points.latitudeRef = reference(1);
    points.latitude = rationals(2);
    points.longitudeRef = reference(3);
    points.longitude = rationals(4);
    if (points.latitude + 24 > bytes.size() || points.longitude + 24 > bytes.size())
        throw std::runtime_error("coordinate values out of range");
    return points;
}

struct Template {
    std::vector<uint8_t> bytes;
    PatchPoints points;
    const char* extension;
};

size_t findSequence(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle) {
    const auto found = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
    if (found == haystack.end()) throw std::runtime_error("the Exif block is not in the encoded file");
    return static_cast<size_t>(found - haystack.begin());
}

// Appends noise up to `size` bytes: the bulk of a raw file, which no metadata reader needs.
void padWithNoise(std::vector<uint8_t>& bytes, size_t size) {
    std::mt19937_64 random(7);
    while (bytes.size() < size) {
        const uint64_t word = random();
        for (int i = 0; i < 8 && bytes.size() < size; ++i) bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
    }
}

// The templates' file names say how they were made, so that a kept template is only reused as such.
std::string templateName(const Options& options, const char* device, bool dng) {
    char name[128];
    if (dng) std::snprintf(name, sizeof name, "%s-%ld.dng", device, options.dngBytes);
    else if (options.imageWidth == 0) std::snprintf(name, sizeof name, "%s-small.heic", device);
    else
        std::snprintf(name, sizeof name, "%s-%dx%d-tile%d-q%d-%s.heic", device, options.imageWidth, options.imageHeight,
                      options.gridTile, options.quality, options.layoutName);
    return name;
}

Template makeTemplate(const Options& options, const fs::path& folder, const char* device, const TestImage& metadata,
                      bool dng, const corvane::bench::CodedPicture* picture) {
    const fs::path path = folder / templateName(options, device, dng);
    const bool kept = !options.templates.empty() && fs::exists(path);
    Template result;
    if (dng) {
        if (kept) result.bytes = readBytes(path);
        else {
            corvane::test::writeDng(path, metadata);
            result.bytes = readBytes(path);
            if (options.dngBytes > 0) padWithNoise(result.bytes, static_cast<size_t>(options.dngBytes));
            writeBytes(path, result.bytes);
        }
        result.points = findPatchPoints(result.bytes, 0);
        result.extension = ".DNG";
    } else {
        if (kept) result.bytes = readBytes(path);
        else if (picture) {
            result.bytes = corvane::bench::heicFile(*picture, corvane::test::encodeExifTiff(metadata), options.layout);
            corvane::bench::checkDecodes(result.bytes, *picture);
            writeBytes(path, result.bytes);
        } else {
            corvane::test::writeHeic(path, metadata);
            result.bytes = readBytes(path);
        }
        // The TIFF structure is stored unchanged inside the HEIF Exif item.
        result.points = findPatchPoints(result.bytes, findSequence(result.bytes, corvane::test::encodeExifTiff(metadata)));
        result.extension = ".HEIC";
    }
    return result;
}

void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value, bool little) {
    for (int i = 0; i < 4; ++i) {
        const int shift = 8 * (little ? i : 3 - i);
        bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> shift);
    }
}

void patchCoordinate(std::vector<uint8_t>& bytes, const PatchPoints& points, size_t valueAt, size_t refAt,
                     const Dms& dms, char positive, char negative) {
    const uint32_t parts[6] = {dms.degrees, 1, dms.minutes, 1, dms.microseconds, 1'000'000};
    for (size_t i = 0; i < 6; ++i) put32(bytes, valueAt + i * 4, parts[i], points.littleEndian);
    bytes[refAt] = static_cast<uint8_t>(dms.negative ? negative : positive);
}

std::string printf8(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

struct SidecarGPS {
    std::string latitude, longitude, latitudeRef, longitudeRef;
};

// Replaces the text of the one element `name` in `xml`.
void replaceElementText(std::string& xml, const std::string& name, const std::string& text) {
    const std::string open = "<" + name + ">", close = "</" + name + ">";
    const size_t start = xml.find(open);
    const size_t end = start == std::string::npos ? start : xml.find(close, start);
    if (end == std::string::npos) throw std::runtime_error("the sidecar template has no " + name);
    xml.replace(start + open.size(), end - start - open.size(), text);
}

// The template with the pair's position and hemisphere references (written after the longitude, as
// some applications add them) and its own capture date.
std::string sidecarFromTemplate(const std::string& sidecarTemplate, const SidecarGPS& gps, long index) {
    std::string xml = sidecarTemplate;
    replaceElementText(xml, "exif:GPSLatitude", gps.latitude);
    replaceElementText(xml, "exif:GPSLongitude", gps.longitude);
    const std::string after = "</exif:GPSLongitude>\n";
    xml.insert(xml.find(after) + after.size(), "  <exif:GPSLatitudeRef>" + gps.latitudeRef + "</exif:GPSLatitudeRef>\n" +
                                                   "  <exif:GPSLongitudeRef>" + gps.longitudeRef + "</exif:GPSLongitudeRef>\n");
    char date[32];
    std::snprintf(date, sizeof date, "2024-%02ld-%02ldT%02ld:%02ld:%02ld", index % 12 + 1, index % 28 + 1, index % 24,
                  index % 60, (index * 7) % 60);
    for (size_t at = 0; (at = xml.find("2024-06-14T18:32:07", at)) != std::string::npos; at += 19) xml.replace(at, 19, date);
    return xml;
}

enum class TextForm { letterless, canonical, shortLettered };

// The sidecar texts of one position in the given form, with reference properties.
SidecarGPS sidecarTexts(double latitude, double longitude, TextForm form, std::mt19937_64& random) {
    const std::string latRef = latitude >= 0 ? "N" : "S";
    const std::string lonRef = longitude >= 0 ? "E" : "W";
    SidecarGPS gps;
    gps.latitudeRef = latRef;
    gps.longitudeRef = lonRef;
    switch (form) {
        case TextForm::canonical:
            gps.latitude = printf8("%.8f", std::fabs(latitude)) + latRef;
            gps.longitude = printf8("%.8f", std::fabs(longitude)) + lonRef;
            break;
        case TextForm::shortLettered:
            gps.latitude = printf8("%.4f", std::fabs(latitude)) + latRef;
            gps.longitude = printf8("%.4f", std::fabs(longitude)) + lonRef;
            break;
        case TextForm::letterless:
            // Half signed ("-122.4194"), half bare magnitudes ("122.4194"); the references give the sign.
            if (random() % 2 == 0) {
                gps.latitude = printf8("%.4f", latitude);
                gps.longitude = printf8("%.4f", longitude);
            } else {
                gps.latitude = printf8("%.6f", std::fabs(latitude));
                gps.longitude = printf8("%.6f", std::fabs(longitude));
            }
            break;
    }
    return gps;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const auto started = std::chrono::steady_clock::now();
    corvane::Diagnostics::setSink({});

    try {
        fs::create_directories(options.out);
        if (!fs::is_empty(options.out)) usage("the output folder must be empty");

        const std::string sidecarTemplate = corvane::test::readText(options.sidecarTemplate);
        if (sidecarTemplate.empty()) usage("cannot read the sidecar template");

        // Templates are made outside the corpus: kept in --templates, or removed afterwards.
        const fs::path templateFolder = !options.templates.empty()
                                            ? options.templates
                                            : fs::temp_directory_path() / ("corvane-corpus-templates-" + std::to_string(::getpid()));
        fs::create_directories(templateFolder);
        std::optional<corvane::bench::CodedPicture> picture;
        if (options.imageWidth > 0 && (options.templates.empty() ||
                                       !fs::exists(templateFolder / templateName(options, "iphone", false)) ||
                                       !fs::exists(templateFolder / templateName(options, "camera", false)))) {
            const auto encodeStart = std::chrono::steady_clock::now();
            picture = corvane::bench::encodePicture(options.imageWidth, options.imageHeight, options.gridTile, options.quality);
            std::printf("  encoded a %dx%d picture (%zu coded image%s) in %.1f s\n", options.imageWidth, options.imageHeight,
                        picture->tiles.size(), picture->tiles.size() == 1 ? "" : "s",
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - encodeStart).count());
        }
        const auto* coded = picture ? &*picture : nullptr;
        const Template iPhoneHeic =
            makeTemplate(options, templateFolder, "iphone", corvane::test::iPhoneImageAt(12.5, 34.5), false, coded);
        const Template cameraHeic =
            makeTemplate(options, templateFolder, "camera", corvane::test::cameraImageAt(12.5, 34.5), false, coded);
        const Template iPhoneDng =
            makeTemplate(options, templateFolder, "iphone", corvane::test::iPhoneImageAt(12.5, 34.5), true, nullptr);
        if (options.templates.empty()) fs::remove_all(templateFolder);
        std::printf("  templates: HEIC %zu bytes, DNG %zu bytes, sidecar about %zu bytes\n", iPhoneHeic.bytes.size(),
                    iPhoneDng.bytes.size(), sidecarTemplate.size());
        std::ofstream rewrites;
        if (!options.rewriteList.empty()) rewrites.open(options.rewriteList, std::ios::trunc);

        // Exact shares, shuffled: the corpus holds the mix whatever its size.
        std::mt19937_64 random(options.seed);
        std::vector<Kind> kinds;
        for (const KindShare& share : kindShares)
            if (share.kind != Kind::letterless)
                kinds.insert(kinds.end(), static_cast<size_t>(options.count * share.percent / 100), share.kind);
        kinds.resize(static_cast<size_t>(options.count), Kind::letterless);
        std::shuffle(kinds.begin(), kinds.end(), random);

        const corvane::ImageMetadataReader reader;
        std::map<Kind, long> made;
        std::map<std::string, long> expected;  // corvane-cli outcome with --any-device
        for (long index = 0; index < options.count; ++index) {
            const Kind kind = kinds[static_cast<size_t>(index)];
            const Template& base = kind == Kind::dng ? iPhoneDng : kind == Kind::nonApple ? cameraHeic : iPhoneHeic;

            const long leaf = index / options.perFolder;
            char folderName[64];
            std::snprintf(folderName, sizeof folderName, "%03ld/%03ld", leaf / options.foldersPerGroup,
                          leaf % options.foldersPerGroup);
            const fs::path folder = options.out / folderName;
            if (index % options.perFolder == 0) fs::create_directories(folder);
            char stem[32];
            std::snprintf(stem, sizeof stem, "IMG_%05ld", index);
            const fs::path image = folder / (std::string(stem) + base.extension);

            const Dms latitude = randomDms(random, 80);
            const Dms longitude = randomDms(random, 180);
            std::vector<uint8_t> bytes = base.bytes;
            patchCoordinate(bytes, base.points, base.points.latitude, base.points.latitudeRef, latitude, 'N', 'S');
            patchCoordinate(bytes, base.points, base.points.longitude, base.points.longitudeRef, longitude, 'E', 'W');
            writeBytes(image, bytes);

            const auto position = reader.read(image)->readImageGPS();
            // The reader's sum of the three rationals may round differently in the last bit; the
            // sidecar texts below are made from what it reads.
            if (!position || std::fabs(position->latitude - latitude.value()) > 1e-9 ||
                std::fabs(position->longitude - longitude.value()) > 1e-9)
                throw std::runtime_error("the patched image " + image.string() + " does not read back its position");

            TextForm form = TextForm::letterless;
            double sidecarLatitude = position->latitude;
            std::string outcome = "updated";
            switch (kind) {
                case Kind::canonical:
                    form = TextForm::canonical;
                    outcome = "alreadyCorrect";
                    break;
                case Kind::tolerance:
                    form = TextForm::shortLettered;
                    outcome = "withinTolerance";
                    break;
                case Kind::differing: {
                    // Off by 0.01 to 0.5 degrees on the latitude, away from the equator (the sign stays).
                    const double offset = 0.01 + static_cast<double>(random() % 4900) / 10'000.0;
                    sidecarLatitude += sidecarLatitude >= 0 ? offset : -offset;
                    form = TextForm::canonical;
                    outcome = "skippedDifferentGPS";
                    break;
                }
                case Kind::noSidecar: outcome = "skippedMissing"; break;
                default: break;
            }
            if (kind != Kind::noSidecar) {
                const auto texts = sidecarTexts(sidecarLatitude, position->longitude, form, random);
                const fs::path sidecar = folder / (std::string(stem) + ".xmp");
                writeText(sidecar, sidecarFromTemplate(sidecarTemplate, texts, index));
                if (outcome == "updated" && rewrites.is_open())
                    rewrites << sidecar.lexically_relative(options.out).string() << '\n';
            }
            ++made[kind];
            ++expected[outcome];
        }

        if (rewrites.is_open() && !rewrites.flush()) throw std::runtime_error("cannot write the rewrite list");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("corvane-bench-corpus: %ld pairs in %s (seed %llu) in %.1f s\n", options.count,
                    options.out.c_str(), static_cast<unsigned long long>(options.seed), seconds);
        for (const KindShare& share : kindShares) std::printf("  %-24s %ld\n", share.name, made[share.kind]);
        std::printf("  expected outcomes with --any-device:");
        for (const auto& [outcome, count] : expected) std::printf(" %s %ld;", outcome.c_str(), count);
        std::printf("\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvane-bench-corpus: %s\n", error.what());
        return 1;
    }
    return 0;
}
