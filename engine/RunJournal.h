// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace corvane {

// The SHA-256 of a text: how a journal remembers the text a run wrote without keeping it.
using ContentHash = std::array<uint8_t, 32>;
ContentHash contentHash(std::string_view bytes);

// What a run records of a sidecar before it replaces it: where it is, everything needed to put its old
// text back, and how to tell later whether it still holds what the run wrote.
struct ReplacedSidecar {
    std::filesystem::path path;  // absolute
    std::string oldBytes;
    uint32_t mode = 0;  // the old file's permission bits
    uint32_t owner = 0;
    uint32_t group = 0;
    uint64_t newSize = 0;
    ContentHash newHash{};

    bool holdsNewText(std::string_view bytes) const { return bytes.size() == newSize && contentHash(bytes) == newHash; }
};

// The journal of one run that writes: a record of every sidecar the run replaces, each durable (written
// and synced) before the replacement it protects takes place, so that the run can be undone whenever it
// ends, a crash included. Records are kept in the order they are made. Thread-safe.
class RunJournal {
public:
    using Ticket = uint64_t;

    virtual ~RunJournal() = default;

    // Takes the record of a sidecar that is about to be replaced and returns at once, while the record
    // is written and synced; an error, and nothing recorded, once the journal cannot be written.
    virtual Expected<Ticket> record(ReplacedSidecar sidecar) = 0;
    // Returns once the record is durable, or with the reason it cannot be. The replacement it protects
    // may take place only after a success.
    virtual Status waitUntilDurable(Ticket ticket) = 0;
    // The replacement did not take place: an undo passes the record by.
    virtual void cancel(Ticket ticket) = 0;
};

// The error of a replacement that did not take place because its record could not be kept: domain
// "Journal", code 1, "The undo journal cannot be written (CAUSE); left unchanged".
Error journalError(const Error& cause);

}  // namespace corvane
