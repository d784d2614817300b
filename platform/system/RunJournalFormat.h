// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The bytes of a run's journal file: a magic line, then frames, each its payload's length, the payload's
// CRC-32 and the payload. The first frame describes the run; each later one records a replaced sidecar,
// cancels such a record, or marks the run's end. A sidecar's old text is compressed (zlib), after the
// first record with that record's old text as the preset dictionary, since the sidecars of one library
// share most of their text: 50,000 sidecars of 7 KB then take a few hundred bytes each. Reading stops at
// a frame that is not whole and intact when no intact frame follows it: the unused, zero-filled room at
// the end of a journal whose run was killed, or the frame it was writing. A bad frame that intact frames
// follow is damage done after the journal was written: reading goes on after it, and the records it
// cost are counted.

#include "engine/Error.h"
#include "engine/RunJournal.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// What a run is, as its journal says and --list-runs shows.
struct RunDescription {
    enum class Kind { write, undo };
    Kind kind = Kind::write;
    std::string undoneRun;           // for an undo: the name of the run it undoes
    std::vector<std::string> items;  // the files and folders the run was given, absolute
};

// The magic line and the first frame.
std::string encodeJournalStart(const RunDescription& description);
// The record frames of one journal, made in order: the first record's old text is the dictionary of
// every later one. One compressor serves them all, as setting one up costs more than a sidecar's text.
class RecordEncoder {
public:
    RecordEncoder();
    ~RecordEncoder();
    RecordEncoder(const RecordEncoder&) = delete;
    RecordEncoder& operator=(const RecordEncoder&) = delete;

    // The frame of record `sequence`, 0 for the run's first.
    std::string frame(uint64_t sequence, const ReplacedSidecar& record);

private:
    struct Compressor;
    std::unique_ptr<Compressor> compressor_;
    std::string dictionary_;
};
std::string encodeCancelFrame(uint64_t sequence);
std::string encodeEndFrame();

// A journal as read.
struct JournalContents {
    RunDescription description;
    std::vector<ReplacedSidecar> records;  // those not cancelled, in the order made; old texts only when asked for
    size_t cancelled = 0;
    bool finished = false;  // the run's end is recorded
    bool damaged = false;   // a frame is bad although frames written after it are intact, or a record is
    size_t unreadable = 0;  // records that were not cancelled, as far as can be told, but cannot be read
};
// Reads the frames of a journal; an error ("Journal" 2) when it does not begin as a journal does. A
// record whose frame or old text cannot be read is left out and counted in `unreadable`.
Expected<JournalContents> decodeJournal(std::string_view bytes, bool withOldTexts);

}  // namespace corvane
