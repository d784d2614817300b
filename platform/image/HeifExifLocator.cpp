// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/HeifExifLocator.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {
namespace {

constexpr uint64_t maxFtypSize = 4096;
constexpr uint64_t maxMetaSize = 16u << 20;
constexpr uint64_t maxExifSize = 64u << 20;
constexpr int maxTopLevelBoxes = 4096;

// Brands under which a file is a HEIF image collection (HEVC, AVC, AV1 and the common MIAF brands).
constexpr std::array<std::string_view, 14> heifBrands = {"mif1", "mif2", "msf1", "heic", "heix", "heim", "heis",
                                                         "hevc", "hevx", "hevm", "hevs", "avif", "avis", "avci"};

// Big-endian fields read one after another from a box's bytes; reading past the end leaves the cursor
// failed and every later field zero, so a parse checks `ok()` once at its end.
class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint64_t field(size_t size) {
        if (size > remaining()) {
            failed_ = true;
            position_ = bytes_.size();
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < size; ++i) value = (value << 8) | bytes_[position_ + i];
        position_ += size;
        return value;
    }
    uint8_t u8() { return static_cast<uint8_t>(field(1)); }
    uint16_t u16() { return static_cast<uint16_t>(field(2)); }
    uint32_t u32() { return static_cast<uint32_t>(field(4)); }
    std::string_view fourCC() {
        if (remaining() < 4) {
            field(4);
            return {};
        }
        const auto* start = reinterpret_cast<const char*>(bytes_.data() + position_);
        position_ += 4;
        return {start, 4};
    }
    void skip(size_t size) {
        if (size > remaining()) {
            failed_ = true;
            position_ = bytes_.size();
        } else {
            position_ += size;
        }
    }
    size_t remaining() const { return bytes_.size() - position_; }
    bool ok() const { return !failed_; }

private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
    bool failed_ = false;
};

// One box inside a byte range: its type and where its body lies within that range.
struct Box {
    std::string type;  // a copy: the header bytes it comes from may be gone
    uint64_t bodyStart = 0;
    uint64_t end = 0;
};

// The box header at `start` of a container ending at `containerEnd`, from the header bytes read there
// (8 to 16 of them; fewer when the container ends sooner). Absent when the header is cut short or the
// size is impossible. A size of 0 runs to the container's end; 1 means a 64-bit size follows.
std::optional<Box> boxAt(std::span<const uint8_t> header, uint64_t start, uint64_t containerEnd) {
    Cursor cursor(header);
    const uint64_t size32 = cursor.u32();
    Box box;
    box.type = cursor.fourCC();
    uint64_t headerSize = 8;
    uint64_t size = size32;
    if (size32 == 1) {
        size = cursor.field(8);
        headerSize = 16;
    } else if (size32 == 0) {
        size = containerEnd - start;
    }
    if (!cursor.ok() || size < headerSize || size > containerEnd - start) return std::nullopt;
    box.bodyStart = start + headerSize;
    box.end = start + size;
    return box;
}

// The boxes directly inside `bytes`, in order; absent when one overruns the others' container.
std::optional<std::vector<Box>> childBoxes(std::span<const uint8_t> bytes) {
    std::vector<Box> boxes;
    uint64_t position = 0;
    while (position < bytes.size()) {
        const size_t headerSize = std::min<size_t>(16, bytes.size() - position);
        auto box = boxAt(bytes.subspan(position, headerSize), position, bytes.size());
        if (!box) return std::nullopt;
        boxes.push_back(*box);
        position = box->end;
    }
    return boxes;
}

std::span<const uint8_t> bodyOf(std::span<const uint8_t> bytes, const Box& box) {
    return bytes.subspan(box.bodyStart, box.end - box.bodyStart);
}

const Box* firstOfType(const std::vector<Box>& boxes, std::string_view type) {
    auto it = std::find_if(boxes.begin(), boxes.end(), [&](const Box& box) { return box.type == type; });
    return it == boxes.end() ? nullptr : &*it;
}

struct Extent {
    uint64_t offset = 0;
    uint64_t length = 0;
};

struct ItemLocation {
    uint16_t constructionMethod = 0;  // 0: file offsets, 1: offsets in "idat", 2: other items (unsupported)
    uint16_t dataReferenceIndex = 0;  // 0: this file
    std::vector<Extent> extents;
};

// The "iloc" box (versions 0 to 2). Absent when it is malformed.
std::optional<std::map<uint32_t, ItemLocation>> parseIloc(std::span<const uint8_t> body) {
    Cursor cursor(body);
    const uint8_t version = cursor.u8();
    cursor.skip(3);
    if (version > 2) return std::nullopt;
    const uint8_t sizes = cursor.u8();
    const uint8_t moreSizes = cursor.u8();
    const size_t offsetSize = sizes >> 4, lengthSize = sizes & 15, baseOffsetSize = moreSizes >> 4;
    const size_t indexSize = version >= 1 ? (moreSizes & 15) : 0;
    for (size_t size : {offsetSize, lengthSize, baseOffsetSize, indexSize})
        if (size != 0 && size != 4 && size != 8) return std::nullopt;
    const uint32_t itemCount = version < 2 ? cursor.u16() : cursor.u32();
    // Each item takes at least 2 + 2 + 2 bytes; a larger count than the box can hold is a lie.
    if (itemCount > cursor.remaining() / 6) return std::nullopt;

    std::map<uint32_t, ItemLocation> items;
    for (uint32_t i = 0; i < itemCount && cursor.ok(); ++i) {
        const uint32_t id = version < 2 ? cursor.u16() : cursor.u32();
        ItemLocation location;
        if (version >= 1) location.constructionMethod = cursor.u16() & 15;
        location.dataReferenceIndex = cursor.u16();
        const uint64_t baseOffset = cursor.field(baseOffsetSize);
        const uint16_t extentCount = cursor.u16();
        const size_t extentSize = indexSize + offsetSize + lengthSize;
        if (extentSize > 0 && extentCount > cursor.remaining() / extentSize) return std::nullopt;
        for (uint16_t e = 0; e < extentCount; ++e) {
            cursor.skip(indexSize);
            const uint64_t offset = cursor.field(offsetSize);
            const uint64_t length = cursor.field(lengthSize);
            if (offset > UINT64_MAX - baseOffset) return std::nullopt;
            location.extents.push_back({baseOffset + offset, length});
        }
        items.emplace(id, std::move(location));
    }
    if (!cursor.ok()) return std::nullopt;
    return items;
}

// The item types named by the "infe" entries of version 2 and 3 in the "iinf" box, in their order.
// Older entries carry no item type and are left out. Absent when the box is malformed.
std::optional<std::vector<std::pair<uint32_t, std::string_view>>> parseIinf(std::span<const uint8_t> body) {
    Cursor cursor(body);
    const uint8_t version = cursor.u8();
    cursor.skip(3);
    cursor.skip(version == 0 ? 2 : 4);  // entry_count: like libheif, the entries present are what counts
    if (!cursor.ok()) return std::nullopt;
    const size_t headerSize = version == 0 ? 6 : 8;
    auto entries = childBoxes(body.subspan(headerSize));
    if (!entries) return std::nullopt;

    std::vector<std::pair<uint32_t, std::string_view>> items;
    for (const Box& entry : *entries) {
        if (entry.type != "infe") continue;
        Cursor infe(bodyOf(body.subspan(headerSize), entry));
        const uint8_t infeVersion = infe.u8();
        infe.skip(3);
        if (infeVersion < 2) continue;
        const uint32_t id = infeVersion == 2 ? infe.u16() : infe.u32();
        infe.skip(2);  // item_protection_index
        const std::string_view type = infe.fourCC();
        if (!infe.ok()) return std::nullopt;
        items.emplace_back(id, type);
    }
    return items;
}

// The items that "cdsc" references say the item `described` is described by.
std::optional<std::vector<uint32_t>> describingItems(std::span<const uint8_t> body, uint32_t described) {
    Cursor cursor(body);
    const uint8_t version = cursor.u8();
    cursor.skip(3);
    if (!cursor.ok() || version > 1) return std::nullopt;
    const size_t idSize = version == 0 ? 2 : 4;
    auto references = childBoxes(body.subspan(4));
    if (!references) return std::nullopt;

    std::vector<uint32_t> describing;
    for (const Box& reference : *references) {
        Cursor entry(bodyOf(body.subspan(4), reference));
        const auto from = static_cast<uint32_t>(entry.field(idSize));
        const uint16_t count = entry.u16();
        if (count > entry.remaining() / idSize) return std::nullopt;
        for (uint16_t i = 0; i < count; ++i) {
            const auto to = static_cast<uint32_t>(entry.field(idSize));
            if (reference.type == "cdsc" && to == described) describing.push_back(from);
        }
        if (!entry.ok()) return std::nullopt;
    }
    return describing;
}

bool hasHeifBrand(std::span<const uint8_t> ftypBody) {
    Cursor cursor(ftypBody);
    auto isHeif = [](std::string_view brand) {
        return std::find(heifBrands.begin(), heifBrands.end(), brand) != heifBrands.end();
    };
    if (isHeif(cursor.fourCC())) return true;
    cursor.skip(4);  // minor_version
    while (cursor.remaining() >= 4)
        if (isHeif(cursor.fourCC())) return true;
    return false;
}

// Reads a box's header at `start` from the file.
std::optional<Box> readBoxHeader(const ReadAt& read, uint64_t start, uint64_t fileSize) {
    std::array<uint8_t, 16> header{};
    const size_t size = static_cast<size_t>(std::min<uint64_t>(header.size(), fileSize - start));
    if (size < 8 || !read(start, std::span(header.data(), size))) return std::nullopt;
    return boxAt(std::span<const uint8_t>(header.data(), size), start, fileSize);
}

// Whether every extent lies within the bytes that hold it (the file, or "idat"); libheif refuses a file
// that fails this, and so does this reader.
bool extentsFit(const std::map<uint32_t, ItemLocation>& items, uint64_t fileSize, uint64_t idatSize) {
    for (const auto& [id, location] : items) {
        const uint64_t limit = location.constructionMethod == 1 ? idatSize : fileSize;
        if (location.constructionMethod > 1 || location.dataReferenceIndex != 0) continue;
        for (const Extent& extent : location.extents)
            if (extent.offset > limit || extent.length > limit - extent.offset) return false;
    }
    return true;
}

HeifExif damaged() { return {HeifExif::Status::damaged, {}}; }

}  // namespace

HeifExif readHeifExif(const ReadAt& read, uint64_t fileSize) {
    const auto ftyp = readBoxHeader(read, 0, fileSize);
    // The body holds at least the major brand and the minor version.
    if (!ftyp || ftyp->type != "ftyp" || ftyp->end > maxFtypSize || ftyp->end - ftyp->bodyStart < 8) return {};
    std::array<uint8_t, maxFtypSize> ftypBuffer;  // filled by the read before it is looked at
    const std::span<uint8_t> ftypBody(ftypBuffer.data(), ftyp->end - ftyp->bodyStart);
    if (!read(ftyp->bodyStart, ftypBody) || !hasHeifBrand(ftypBody)) return {};

    std::optional<Box> meta;
    uint64_t position = ftyp->end;
    for (int count = 0; position < fileSize && count < maxTopLevelBoxes; ++count) {
        auto box = readBoxHeader(read, position, fileSize);
        if (!box) return damaged();
        if (box->type == "meta") {
            meta = box;
            break;
        }
        position = box->end;
    }
    if (!meta || meta->end - meta->bodyStart > maxMetaSize) return damaged();
    // Read once and parsed in place; every byte is overwritten by the read, so none is zeroed first.
    const size_t metaSize = meta->end - meta->bodyStart;
    if (metaSize < 4) return damaged();
    const auto metaBytes = std::make_unique_for_overwrite<uint8_t[]>(metaSize);
    if (!read(meta->bodyStart, std::span(metaBytes.get(), metaSize))) return damaged();
    const std::span<const uint8_t> metaBody(metaBytes.get() + 4, metaSize - 4);

    const auto boxes = childBoxes(metaBody);
    if (!boxes) return damaged();
    const Box* hdlr = firstOfType(*boxes, "hdlr");
    const Box* pitm = firstOfType(*boxes, "pitm");
    const Box* iinf = firstOfType(*boxes, "iinf");
    const Box* iloc = firstOfType(*boxes, "iloc");
    if (!hdlr || !pitm || !iinf || !iloc) return damaged();

    Cursor handler(bodyOf(metaBody, *hdlr));
    handler.skip(8);  // version, flags, pre_defined
    if (handler.fourCC() != "pict" || !handler.ok()) return damaged();

    Cursor primaryCursor(bodyOf(metaBody, *pitm));
    const uint8_t pitmVersion = primaryCursor.u8();
    primaryCursor.skip(3);
    const uint32_t primary = pitmVersion == 0 ? primaryCursor.u16() : primaryCursor.u32();
    if (!primaryCursor.ok()) return damaged();

    const auto itemTypes = parseIinf(bodyOf(metaBody, *iinf));
    const auto locations = parseIloc(bodyOf(metaBody, *iloc));
    if (!itemTypes || !locations) return damaged();
    if (std::none_of(itemTypes->begin(), itemTypes->end(), [&](const auto& item) { return item.first == primary; }))
        return damaged();

    const Box* idat = firstOfType(*boxes, "idat");
    const std::span<const uint8_t> idatBody = idat ? bodyOf(metaBody, *idat) : std::span<const uint8_t>();
    if (!extentsFit(*locations, fileSize, idatBody.size())) return damaged();

    std::vector<uint32_t> describing;
    if (const Box* iref = firstOfType(*boxes, "iref")) {
        auto items = describingItems(bodyOf(metaBody, *iref), primary);
        if (!items) return damaged();
        describing = std::move(*items);
    }

    for (const auto& [id, type] : *itemTypes) {
        if (type != "Exif" || std::find(describing.begin(), describing.end(), id) == describing.end()) continue;
        auto location = locations->find(id);
        if (location == locations->end()) continue;
        const ItemLocation& where = location->second;
        if (where.constructionMethod > 1 || where.dataReferenceIndex != 0) continue;

        uint64_t total = 0;
        bool tooLarge = false;
        for (const Extent& extent : where.extents) {
            tooLarge = tooLarge || extent.length > maxExifSize - total;
            if (!tooLarge) total += extent.length;
        }
        if (total == 0 || tooLarge) continue;
        HeifExif exif{HeifExif::Status::found, {}};
        exif.block.resize(total);
        uint64_t filled = 0;
        for (const Extent& extent : where.extents) {
            const std::span<uint8_t> out = std::span(exif.block).subspan(filled, extent.length);
            if (where.constructionMethod == 1) {
                std::copy_n(idatBody.begin() + static_cast<ptrdiff_t>(extent.offset), extent.length, out.begin());
            } else if (!read(extent.offset, out)) {
                return damaged();
            }
            filled += extent.length;
        }
        return exif;
    }
    return {HeifExif::Status::noExif, {}};
}

}  // namespace corvane
