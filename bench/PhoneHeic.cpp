// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/PhoneHeic.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace corvane::bench {

namespace {

void check(heif_error error, const char* what) {
    if (error.code != heif_error_Ok) throw std::runtime_error(std::string("libheif: ") + what + ": " + error.message);
}

// Noise that depends only on the pixel's place, so that tiles cut from the picture fit together.
uint32_t hash(uint32_t x, uint32_t y, uint32_t channel) {
    uint32_t h = x * 0x9E3779B1u ^ y * 0x85EBCA77u ^ channel * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

uint8_t sample(int x, int y, int channel, int width, int height) {
    const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
    double base = 0;
    switch (channel) {
        case 0: base = 110 + 70 * std::sin(u * 5.1 + v * 2.3) * std::cos(v * 3.7); break;
        case 1: base = 128 + 30 * std::sin(u * 2.9 - v * 1.7); break;
        default: base = 128 + 30 * std::cos(u * 1.3 + v * 4.1); break;
    }
    const int amplitude = channel == 0 ? 48 : 16;
    const int noise = static_cast<int>(hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y), static_cast<uint32_t>(channel)) %
                                       static_cast<uint32_t>(2 * amplitude + 1)) - amplitude;
    return static_cast<uint8_t>(std::clamp(static_cast<int>(base) + noise, 0, 255));
}

// The picture's region (left, top, width, height) as a YCbCr 4:2:0 image for the encoder.
std::unique_ptr<heif_image, decltype(&heif_image_release)> region(int left, int top, int width, int height,
                                                                   int pictureWidth, int pictureHeight) {
    heif_image* raw = nullptr;
    check(heif_image_create(width, height, heif_colorspace_YCbCr, heif_chroma_420, &raw), "create image");
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(raw, heif_image_release);
    const heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int c = 0; c < 3; ++c) {
        const int scale = c == 0 ? 1 : 2;
        const int w = (width + scale - 1) / scale, h = (height + scale - 1) / scale;
        check(heif_image_add_plane(image.get(), channels[c], w, h, 8), "add plane");
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image.get(), channels[c], &stride);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                plane[static_cast<size_t>(y) * static_cast<size_t>(stride) + static_cast<size_t>(x)] =
                    sample((left + x * scale), (top + y * scale), c, pictureWidth, pictureHeight);
    }
    return image;
}

uint32_t be32(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
           static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

struct Coded {
    std::vector<uint8_t> hvcC;
    std::vector<uint8_t> data;
};

// Encodes one image into a file in memory and takes out its decoder configuration and coded data. The
// file holds nothing but the one image, so the whole 'mdat' payload is its data.
Coded encodeOne(heif_encoder* encoder, const heif_image* image) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    heif_image_handle* handle = nullptr;
    check(heif_context_encode_image(context.get(), image, encoder, nullptr, &handle), "encode");
    heif_image_handle_release(handle);
    std::vector<uint8_t> file;
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* userdata) {
                           auto* out = static_cast<std::vector<uint8_t>*>(userdata);
                           const auto* bytes = static_cast<const uint8_t*>(data);
                           out->insert(out->end(), bytes, bytes + size);
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
                       }};
    check(heif_context_write(context.get(), &writer, &file), "write");

    Coded coded;
    for (size_t at = 0; at + 8 <= file.size();) {
        const uint32_t size = be32(file, at);
        if (size < 8 || at + size > file.size()) throw std::runtime_error("unexpected box layout in libheif's output");
        const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
        if (type == "meta") {
            static const char fourcc[] = "hvcC";
            const auto found = std::search(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + size),
                                           fourcc, fourcc + 4);
            const size_t boxAt = static_cast<size_t>(found - file.begin()) - 4;
            coded.hvcC.assign(file.begin() + static_cast<long>(boxAt), file.begin() + static_cast<long>(boxAt + be32(file, boxAt)));
        } else if (type == "mdat") {
            coded.data.assign(file.begin() + static_cast<long>(at + 8), file.begin() + static_cast<long>(at + size));
        }
        at += size;
    }
    if (coded.hvcC.empty() || coded.data.empty()) throw std::runtime_error("no coded image in libheif's output");
    return coded;
}

class Writer {
public:
    void u8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void u16(uint32_t v) { u8(v >> 8), u8(v); }
    void u32(uint32_t v) { u16(v >> 16), u16(v & 0xFFFF); }
    void text(const char* s, size_t n) { bytes.insert(bytes.end(), s, s + n); }
    void append(const std::vector<uint8_t>& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
    // Starts a box (a full box when version >= 0) and returns where its size goes.
    size_t open(const char* type, int version = -1, uint32_t flags = 0) {
        const size_t at = bytes.size();
        u32(0);
        text(type, 4);
        if (version >= 0) u32(static_cast<uint32_t>(version) << 24 | flags);
        return at;
    }
    void close(size_t at) {
        const auto size = static_cast<uint32_t>(bytes.size() - at);
        for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }
    std::vector<uint8_t> bytes;
};

}  // namespace

CodedPicture encodePicture(int width, int height, int tileSize, int quality) {
    heif_init(nullptr);  // counted by libheif; the process ends with it initialised
    heif_encoder* raw = nullptr;
    check(heif_context_get_encoder_for_format(nullptr, heif_compression_HEVC, &raw), "HEVC encoder");
    std::unique_ptr<heif_encoder, decltype(&heif_encoder_release)> encoder(raw, heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), quality);
    heif_encoder_set_parameter_string(encoder.get(), "preset", "ultrafast");

    CodedPicture picture;
    picture.width = width;
    picture.height = height;
    picture.tileSize = tileSize;
    if (tileSize > 0) {
        picture.columns = (width + tileSize - 1) / tileSize;
        picture.rows = (height + tileSize - 1) / tileSize;
    }
    const int tileWidth = tileSize > 0 ? tileSize : width, tileHeight = tileSize > 0 ? tileSize : height;
    for (int row = 0; row < picture.rows; ++row) {
        for (int column = 0; column < picture.columns; ++column) {
            const auto image = region(column * tileWidth, row * tileHeight, tileWidth, tileHeight, width, height);
            Coded coded = encodeOne(encoder.get(), image.get());
            // Real grids share one decoder configuration; with the same encoder settings it is the same.
            if (picture.hvcC.empty()) picture.hvcC = coded.hvcC;
            else if (coded.hvcC != picture.hvcC) throw std::runtime_error("tiles differ in their decoder configuration");
            picture.tiles.push_back(std::move(coded.data));
        }
    }
    return picture;
}

std::vector<uint8_t> heicFile(const CodedPicture& picture, const std::vector<uint8_t>& tiff, Layout layout) {
    const bool grid = picture.tileSize > 0;
    const auto tileCount = static_cast<uint32_t>(picture.tiles.size());
    // Items: 1..tileCount the coded images, then the grid (if any), then the Exif item.
    const uint32_t primary = grid ? tileCount + 1 : 1;
    const uint32_t exifItem = primary + 1;
    // A zero offset field (no bytes between it and the TIFF header), then the TIFF structure.
    std::vector<uint8_t> exif(4 + tiff.size(), 0);
    std::copy(tiff.begin(), tiff.end(), exif.begin() + 4);

    Writer meta;
    auto infe = [&](uint32_t id, const char* type, bool hidden) {
        const size_t box = meta.open("infe", 2, hidden ? 1 : 0);
        meta.u16(id);
        meta.u16(0);
        meta.text(type, 4);
        meta.u8(0);  // empty name
        meta.close(box);
    };
    // The grid descriptor lives in 'idat': 16-bit output sizes.
    const std::vector<uint8_t> gridDescriptor = {0,
                                                 0,
                                                 static_cast<uint8_t>(picture.rows - 1),
                                                 static_cast<uint8_t>(picture.columns - 1),
                                                 static_cast<uint8_t>(picture.width >> 8),
                                                 static_cast<uint8_t>(picture.width),
                                                 static_cast<uint8_t>(picture.height >> 8),
                                                 static_cast<uint8_t>(picture.height)};
    // Box sizes do not depend on the offsets, so the layout is written twice: once to learn where
    // 'mdat' starts, once with the offsets.
    auto build = [&](uint32_t mdatData) {
        meta.bytes.clear();
        const size_t metaBox = meta.open("meta", 0);
        size_t box = meta.open("hdlr", 0);
        meta.u32(0);
        meta.text("pict", 4);
        meta.u32(0), meta.u32(0), meta.u32(0), meta.u8(0);
        meta.close(box);
        box = meta.open("pitm", 0);
        meta.u16(primary);
        meta.close(box);
        box = meta.open("iinf", 0);
        meta.u16(tileCount + (grid ? 1 : 0) + 1);
        for (uint32_t id = 1; id <= tileCount; ++id) infe(id, "hvc1", grid);
        if (grid) infe(primary, "grid", false);
        infe(exifItem, "Exif", false);
        meta.close(box);
        box = meta.open("iref", 0);
        if (grid) {
            const size_t dimg = meta.open("dimg");
            meta.u16(primary);
            meta.u16(tileCount);
            for (uint32_t id = 1; id <= tileCount; ++id) meta.u16(id);
            meta.close(dimg);
        }
        const size_t cdsc = meta.open("cdsc");
        meta.u16(exifItem);
        meta.u16(1);
        meta.u16(primary);
        meta.close(cdsc);
        meta.close(box);
        box = meta.open("iprp");
        const size_t ipco = meta.open("ipco");
        meta.append(picture.hvcC);  // property 1
        size_t ispe = meta.open("ispe", 0);  // property 2: the coded image's size
        meta.u32(static_cast<uint32_t>(grid ? picture.tileSize : picture.width));
        meta.u32(static_cast<uint32_t>(grid ? picture.tileSize : picture.height));
        meta.close(ispe);
        ispe = meta.open("ispe", 0);  // property 3: the picture's size
        meta.u32(static_cast<uint32_t>(picture.width));
        meta.u32(static_cast<uint32_t>(picture.height));
        meta.close(ispe);
        meta.close(ipco);
        const size_t ipma = meta.open("ipma", 0);
        meta.u32(tileCount + (grid ? 1 : 0));
        for (uint32_t id = 1; id <= tileCount; ++id) {
            meta.u16(id);
            meta.u8(2);
            meta.u8(0x80 | 1);  // essential
            meta.u8(2);
        }
        if (grid) {
            meta.u16(primary);
            meta.u8(1);
            meta.u8(3);
        }
        meta.close(ipma);
        meta.close(box);
        const bool exifInIdat = layout == Layout::exifInIdat;
        if (grid || exifInIdat) {
            box = meta.open("idat");
            if (grid) meta.append(gridDescriptor);
            if (exifInIdat) meta.append(exif);
            meta.close(box);
        }
        // iloc version 1: construction method 1 (idat) for the grid descriptor, 0 (file offset) for the rest.
        box = meta.open("iloc", 1);
        meta.u8(4 << 4 | 4);  // offset and length sizes
        meta.u8(0);           // no base offset, no index
        meta.u16(tileCount + (grid ? 1 : 0) + 1);
        // Phones store the Exif item first in 'mdat', then the coded images; an edited file has it last.
        const bool exifInMdatFirst = layout == Layout::exifFirst || layout == Layout::metaLast;
        uint32_t offset = mdatData + (exifInMdatFirst ? static_cast<uint32_t>(exif.size()) : 0);
        auto item = [&](uint32_t id, uint32_t method, uint32_t at, size_t length) {
            meta.u16(id);
            meta.u16(method);
            meta.u16(0);
            meta.u16(1);
            meta.u32(at);
            meta.u32(static_cast<uint32_t>(length));
        };
        for (uint32_t id = 1; id <= tileCount; ++id) {
            item(id, 0, offset, picture.tiles[id - 1].size());
            offset += static_cast<uint32_t>(picture.tiles[id - 1].size());
        }
        if (grid) item(primary, 1, 0, gridDescriptor.size());
        if (exifInIdat) item(exifItem, 1, grid ? static_cast<uint32_t>(gridDescriptor.size()) : 0, exif.size());
        else item(exifItem, 0, exifInMdatFirst ? mdatData : offset, exif.size());
        meta.close(box);
        meta.close(metaBox);
    };

    Writer file;
    const size_t ftyp = file.open("ftyp");
    file.text("heic", 4);
    file.u32(0);
    file.text("mif1heicmiaf", 12);
    file.close(ftyp);
    build(0);
    const bool metaLast = layout == Layout::metaLast;
    const auto mdatData = static_cast<uint32_t>(file.bytes.size() + (metaLast ? 0 : meta.bytes.size()) + 8);
    build(mdatData);
    if (!metaLast) file.append(meta.bytes);
    const size_t mdat = file.open("mdat");
    if (layout == Layout::exifFirst || metaLast) file.append(exif);
    for (const auto& tile : picture.tiles) file.append(tile);
    if (layout == Layout::exifLast) file.append(exif);
    file.close(mdat);
    if (metaLast) file.append(meta.bytes);
    return file.bytes;
}

void checkDecodes(const std::vector<uint8_t>& file, const CodedPicture& picture) {
    heif_init(nullptr);  // counted by libheif; the process ends with it initialised
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    check(heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr), "read");
    heif_image_handle* rawHandle = nullptr;
    check(heif_context_get_primary_image_handle(context.get(), &rawHandle), "primary image");
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(rawHandle, heif_image_handle_release);
    heif_image* rawImage = nullptr;
    check(heif_decode_image(handle.get(), &rawImage, heif_colorspace_YCbCr, heif_chroma_420, nullptr), "decode");
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(rawImage, heif_image_release);
    if (heif_image_get_width(image.get(), heif_channel_Y) != picture.width ||
        heif_image_get_height(image.get(), heif_channel_Y) != picture.height)
        throw std::runtime_error("the written HEIC decodes to another size");
}

}  // namespace corvane::bench
