// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunJournal.h"

#include <openssl/sha.h>

namespace corvane {

ContentHash contentHash(std::string_view bytes) {
    ContentHash hash;
    ::SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), hash.data());
    return hash;
}

Error journalError(const Error& cause) {
    return Error{"Journal", 1, "The undo journal cannot be written (" + cause.message + "); left unchanged"};
}

}  // namespace corvane
