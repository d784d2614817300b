// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"
#include "engine/FileSystem.h"
#include "engine/XmlDocument.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace corvane {

// The least free space a volume must have before a sidecar on it is rewritten: 100 MiB.
inline constexpr uint64_t requiredFreeSpace = 100ull * 1048576;

// The hidden temporary file beside a sidecar: ".IMG_0001.xmp.tmp" for IMG_0001.xmp.
std::filesystem::path temporaryURLFor(const std::filesystem::path& sidecarURL);

// Brings a changed document to disk in place of the sidecar it was read from (opened for writing),
// without risking it: checks the volume's free space, serialises the document to indented UTF-8 text and
// validates that text (validateSidecarText: it parses strictly and carries the GPS element, parseable
// coordinates and valid hemisphere references), writes it to the hidden temporary file, which takes the
// sidecar's permissions, owner and extended attributes, syncs it, reads it back and requires exactly the
// validated text, and only then puts it in place of the sidecar in one step, so that at every moment the
// sidecar is either the old or the new document. The sidecar is replaced only while it still is the
// file that was read; a sidecar that another program saved meanwhile stays as that program left it. No
// failure leaves the temporary file behind. Errors: "DiskSpace" 1, "Validation" 2-8 (4 also when the
// temporary file does not read back as the validated text), "XMP" 1 "XMP sidecar changed while it was
// being updated; left unchanged", and the file system's own. Run it on WriteQueue::xmpWriteQueue().
Status saveXmpSafely(FileSystem& fileSystem, const XmlDocument& document, const OpenFile& sidecar);

// Puts `text`, the sidecar's text from before a run, back in its place through the same steps: the
// free-space check, the hidden temporary file with the permission bits, owner and group the sidecar had
// then (`attributes`, as far as this process may set them) and its extended attributes, read back and
// compared with `text` byte for byte ("Validation" 9 "Temp file does not hold the text to restore"), and
// the exchange, which happens only while the sidecar still is the file that was read. Run it on
// WriteQueue::xmpWriteQueue().
Status restoreSidecarSafely(FileSystem& fileSystem, const OpenFile& sidecar, std::string_view text,
                            const OpenFile::Attributes& attributes);

// Checks the text a sidecar is to be replaced by, in this order: at least 100 bytes, well-formed XML
// (parsed strictly), with the GPS element, parseable coordinates and valid hemisphere references. The
// errors speak of the temporary file, which holds exactly this text. Warns (never fails) when its size
// differs from `previousSize` by more than half.
Status validateSidecarText(std::string_view text, int64_t previousSize);

// The same checks on a file already written: it must exist ("Validation" 1) and is read under the
// sidecar size limit.
Status validateTempFile(const FileSystem& fileSystem, const std::filesystem::path& tempURL, int64_t previousSize);

}  // namespace corvane
