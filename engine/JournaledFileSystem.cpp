// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/JournaledFileSystem.h"

namespace corvane {

Status JournaledFileSystem::replaceFile(const OpenFile& file, const Path& temporary, std::string_view text,
                                        const OpenFile::Attributes& attributes, const std::function<Status()>& validate) {
    const OpenFile::Attributes& old = file.attributes();
    const auto ticket = journal_.record(ReplacedSidecar{standardizedPath(file.path()), file.bytes(), old.mode, old.owner,
                                                        old.group, text.size(), contentHash(text)});
    if (!ticket) return journalError(ticket.error());
    // The record is written and synced while the new text goes to the temporary file and is synced: the
    // two waits overlap, and the exchange still comes only after both.
    const Status replaced = inner_.replaceFile(file, temporary, text, attributes, [&]() -> Status {
        if (Status valid = validate(); !valid) return valid;
        if (Status durable = journal_.waitUntilDurable(ticket.value()); !durable) return journalError(durable.error());
        return {};
    });
    if (!replaced) journal_.cancel(ticket.value());
    return replaced;
}

}  // namespace corvane
