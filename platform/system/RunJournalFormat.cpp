// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/RunJournalFormat.h"

#include "engine/SidecarGPS.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace corvane {
namespace {

constexpr std::string_view magic = "CORVANE RUN JOURNAL 1\n";
constexpr size_t frameHead = 8;  // the payload's length and CRC-32, 32 bits each, little-endian

enum class Frame : char { start = 'S', record = 'R', cancel = 'C', end = 'E' };
enum class Coding : uint8_t { stored = 0, deflated = 1, deflatedWithDictionary = 2 };

Error damaged(const std::string& why) { return Error{"Journal", 2, "The journal is damaged: " + why}; }

// No sidecar is larger than a run reads, so no length in a record may be either: a larger one is damage,
// and nothing is allocated for it.
constexpr uint64_t largestText = static_cast<uint64_t>(maximumSidecarSize);

// Little-endian fields appended to a payload.
class Writer {
public:
    Writer() = default;
    explicit Writer(Frame kind) { bytes_.push_back(static_cast<char>(kind)); }
    Writer& u8(uint8_t value) { return raw(&value, 1); }
    Writer& u32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) u8(static_cast<uint8_t>(value >> shift));
        return *this;
    }
    Writer& u64(uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8) u8(static_cast<uint8_t>(value >> shift));
        return *this;
    }
    Writer& text(std::string_view value) {
        u32(static_cast<uint32_t>(value.size()));
        return raw(value.data(), value.size());
    }
    Writer& raw(const void* data, size_t size) {
        bytes_.append(static_cast<const char*>(data), size);
        return *this;
    }
    // The payload framed: its length, its CRC-32, itself.
    std::string frame() const {
        Writer head;
        head.u32(static_cast<uint32_t>(bytes_.size()));
        head.u32(static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(bytes_.data()), static_cast<uInt>(bytes_.size()))));
        return head.bytes_ + bytes_;
    }

private:
    std::string bytes_;
};

// Fields read from a payload; any read past its end makes the payload malformed.
class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}
    bool ok() const { return ok_; }
    std::string_view rest() const { return rest_; }
    uint64_t number(int bytes) {
        if (!take(static_cast<size_t>(bytes))) return 0;
        uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(taken_[static_cast<size_t>(i)]);
        return value;
    }
    std::string text() {
        const auto size = static_cast<size_t>(number(4));
        return take(size) ? std::string(taken_) : std::string();
    }
    bool take(size_t size) {
        if (!ok_ || rest_.size() < size) return ok_ = false;
        taken_ = rest_.substr(0, size);
        rest_.remove_prefix(size);
        return true;
    }
    std::string_view taken() const { return taken_; }

private:
    std::string_view rest_, taken_;
    bool ok_ = true;
};

std::optional<std::string> inflated(std::string_view data, size_t size, std::string_view dictionary) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return std::nullopt;
    std::string out(size, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int result = inflate(&stream, Z_FINISH);
    if (result == Z_NEED_DICT && !dictionary.empty() &&
        inflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()), static_cast<uInt>(dictionary.size())) == Z_OK)
        result = inflate(&stream, Z_FINISH);
    const bool whole = result == Z_STREAM_END && stream.total_out == size;
    inflateEnd(&stream);
    return whole ? std::optional(std::move(out)) : std::nullopt;
}

// A record frame's payload after its kind, with its old text still coded.
struct CodedRecord {
    uint64_t sequence;
    ReplacedSidecar record;
    uint64_t oldSize;
    Coding coding;
    std::string_view coded;
};

std::optional<CodedRecord> readRecord(Reader& in) {
    CodedRecord coded{};
    coded.sequence = in.number(8);
    coded.record.path = in.text();
    coded.record.mode = static_cast<uint32_t>(in.number(4));
    coded.record.owner = static_cast<uint32_t>(in.number(4));
    coded.record.group = static_cast<uint32_t>(in.number(4));
    coded.record.newSize = in.number(8);
    if (in.take(coded.record.newHash.size())) std::memcpy(coded.record.newHash.data(), in.taken().data(), coded.record.newHash.size());
    coded.oldSize = in.number(8);
    coded.coding = static_cast<Coding>(in.number(1));
    coded.coded = in.rest();
    if (!in.ok() || coded.coding > Coding::deflatedWithDictionary || coded.oldSize > largestText || coded.record.newSize > largestText)
        return std::nullopt;
    return coded;
}

std::optional<std::string> oldTextOf(const CodedRecord& coded, std::string_view dictionary) {
    if (coded.coding == Coding::stored)
        return coded.coded.size() == coded.oldSize ? std::optional(std::string(coded.coded)) : std::nullopt;
    return inflated(coded.coded, coded.oldSize, coded.coding == Coding::deflatedWithDictionary ? dictionary : std::string_view());
}

}  // namespace

std::string encodeJournalStart(const RunDescription& description) {
    Writer start(Frame::start);
    start.u8(description.kind == RunDescription::Kind::undo ? 1 : 0).text(description.undoneRun).u32(static_cast<uint32_t>(description.items.size()));
    for (const std::string& item : description.items) start.text(item);
    return std::string(magic) + start.frame();
}

// zlib's deflate at level 3: with a sidecar's first text as the dictionary, about as small as the
// default level gives and in little more than half the time.
struct RecordEncoder::Compressor {
    Compressor() : ok(deflateInit(&stream, 3) == Z_OK) {}
    ~Compressor() {
        if (ok) deflateEnd(&stream);
    }

    // `text` deflated, with a preset dictionary when one is given; absent when that saves nothing.
    std::optional<std::string> deflated(std::string_view text, std::string_view dictionary) {
        if (!ok || deflateReset(&stream) != Z_OK) return std::nullopt;
        if (!dictionary.empty() &&
            deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()), static_cast<uInt>(dictionary.size())) != Z_OK)
            return std::nullopt;
        std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        stream.avail_in = static_cast<uInt>(text.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        const int result = deflate(&stream, Z_FINISH);
        out.resize(stream.total_out);
        if (result != Z_STREAM_END || out.size() >= text.size()) return std::nullopt;
        return out;
    }

    z_stream stream{};
    bool ok;
};

RecordEncoder::RecordEncoder() : compressor_(std::make_unique<Compressor>()) {}

RecordEncoder::~RecordEncoder() = default;

std::string RecordEncoder::frame(uint64_t sequence, const ReplacedSidecar& record) {
    Writer frame(Frame::record);
    frame.u64(sequence).text(record.path.string()).u32(record.mode).u32(record.owner).u32(record.group).u64(record.newSize);
    frame.raw(record.newHash.data(), record.newHash.size()).u64(record.oldBytes.size());
    const std::string_view dictionary = sequence == 0 ? std::string_view() : std::string_view(dictionary_);
    if (const auto packed = compressor_->deflated(record.oldBytes, dictionary)) {
        frame.u8(static_cast<uint8_t>(dictionary.empty() ? Coding::deflated : Coding::deflatedWithDictionary)).raw(packed->data(), packed->size());
    } else {
        frame.u8(static_cast<uint8_t>(Coding::stored)).raw(record.oldBytes.data(), record.oldBytes.size());
    }
    if (sequence == 0) dictionary_ = record.oldBytes;
    return frame.frame();
}

std::string encodeCancelFrame(uint64_t sequence) { return Writer(Frame::cancel).u64(sequence).frame(); }

std::string encodeEndFrame() { return Writer(Frame::end).frame(); }

namespace {

// The frame at the beginning of `bytes` when it is whole and intact: its payload, and where the next
// frame begins.
struct IntactFrame {
    std::string_view payload;
    size_t length;
};
std::optional<IntactFrame> intactFrame(std::string_view bytes) {
    Reader head(bytes);
    const auto size = static_cast<size_t>(head.number(4));
    const auto crc = static_cast<uint32_t>(head.number(4));
    if (!head.ok() || size == 0 || !head.take(size)) return std::nullopt;
    if (::crc32(0, reinterpret_cast<const Bytef*>(head.taken().data()), static_cast<uInt>(size)) != crc) return std::nullopt;
    return IntactFrame{head.taken(), frameHead + size};
}

// Where the first intact frame after a bad one at the beginning of `bytes` begins: where the bad frame's
// length says it ends, or else the first place after it where a frame is intact; absent when none is.
std::optional<size_t> nextIntactFrame(std::string_view bytes) {
    Reader head(bytes);
    const auto size = head.number(4);
    if (head.ok() && frameHead + size < bytes.size() && intactFrame(bytes.substr(frameHead + size))) return frameHead + size;
    for (size_t at = 1; at + frameHead < bytes.size(); ++at) {
        const std::string_view rest = bytes.substr(at);
        const auto kind = static_cast<Frame>(rest[frameHead]);
        if (kind != Frame::record && kind != Frame::cancel && kind != Frame::end) continue;
        if (intactFrame(rest)) return at;
    }
    return std::nullopt;
}

// Whether the bad frame at the beginning of `bytes` is, by its length and kind, a cancel or end mark
// rather than a record.
bool looksLikeMark(std::string_view bytes) {
    Reader head(bytes);
    const auto size = head.number(4);
    head.number(4);
    if (!head.take(1)) return false;
    const auto kind = static_cast<Frame>(head.taken()[0]);
    return (kind == Frame::cancel && size == 9) || (kind == Frame::end && size == 1);
}

}  // namespace

Expected<JournalContents> decodeJournal(std::string_view bytes, bool withOldTexts) {
    if (!bytes.starts_with(magic)) return damaged("it does not begin as a journal of this program");
    bytes.remove_prefix(magic.size());
    JournalContents contents;
    std::vector<CodedRecord> records;
    std::set<uint64_t> cancelled;
    bool started = false;
    // Records lost in a stretch of damage that no intact record follows: the sequence numbers of later
    // records cannot count them.
    size_t lostAfterLastRecord = 0;
    while (!bytes.empty()) {
        const auto frame = intactFrame(bytes);
        if (!frame) {
            // A frame that is neither whole nor intact, and no intact frame after it: the end of a journal
            // whose run was killed while it wrote (the frame it was writing, the zero-filled room after it).
            const auto next = nextIntactFrame(bytes);
            if (!next) break;
            // Damage followed by frames the run wrote later: the journal was harmed after it was written.
            contents.damaged = true;
            if (!looksLikeMark(bytes)) lostAfterLastRecord = 1;
            bytes.remove_prefix(*next);
            continue;
        }
        bytes.remove_prefix(frame->length);
        Reader in(frame->payload);
        in.take(1);
        const auto kind = static_cast<Frame>(in.taken()[0]);
        if (!started && kind != Frame::start) return damaged("it does not describe its run");
        if (kind == Frame::start) {
            started = true;
            contents.description.kind = in.number(1) == 1 ? RunDescription::Kind::undo : RunDescription::Kind::write;
            contents.description.undoneRun = in.text();
            for (uint64_t count = in.number(4); in.ok() && count > 0; --count) contents.description.items.push_back(in.text());
        } else if (kind == Frame::record) {
            lostAfterLastRecord = 0;
            if (auto record = readRecord(in)) {
                records.push_back(std::move(*record));
            } else {
                contents.damaged = true;
                ++contents.unreadable;
            }
        } else if (kind == Frame::cancel) {
            cancelled.insert(in.number(8));
        } else if (kind == Frame::end) {
            contents.finished = true;
        }
    }
    if (!started) return damaged("it does not describe its run");

    // Records are numbered from 0 in the order made: a number missing before the last one read is a
    // record lost to damage.
    uint64_t expected = 0;
    for (const CodedRecord& coded : records) expected = std::max(expected, coded.sequence + 1);
    if (expected > records.size() + contents.unreadable) {
        contents.damaged = true;
        contents.unreadable = static_cast<size_t>(expected - records.size());
    }
    contents.unreadable += lostAfterLastRecord;

    std::string dictionary;
    for (CodedRecord& coded : records) {
        if (withOldTexts && (coded.sequence == 0 || !cancelled.contains(coded.sequence))) {
            auto old = oldTextOf(coded, dictionary);
            if (!old) {
                // An intact frame whose old text cannot be had (its dictionary, the first record's text, may
                // be what was lost): its sidecar cannot be restored.
                contents.damaged = true;
                if (!cancelled.contains(coded.sequence)) ++contents.unreadable;
                continue;
            }
            coded.record.oldBytes = std::move(*old);
            if (coded.sequence == 0) dictionary = coded.record.oldBytes;
        }
        if (cancelled.contains(coded.sequence)) ++contents.cancelled;
        else contents.records.push_back(std::move(coded.record));
    }
    return contents;
}

}  // namespace corvane
