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
// without risking it: checks the volume's free space, writes the indented UTF-8 text to the hidden
// temporary file, which takes the sidecar's permissions, owner and extended attributes, reads it back and
// validates it, and only then puts it in place of the sidecar in one step, so that at every moment the
// sidecar is either the old or the new document. The sidecar is replaced only while it still is the
// file that was read; a sidecar that another program saved meanwhile stays as that program left it. No
// failure leaves the temporary file behind. Errors: "DiskSpace" 1, "Validation" 1-8, "XMP" 1 "XMP
// sidecar changed while it was being updated; left unchanged", and the file system's own.
// Run it on WriteQueue::xmpWriteQueue().
Status saveXmpSafely(FileSystem& fileSystem, const XmlDocument& document, const OpenFile& sidecar);

// Puts `text`, the sidecar's text from before a run, back in its place through the same steps: the
// free-space check, the hidden temporary file with the permission bits, owner and group the sidecar had
// then (`attributes`, as far as this process may set them) and its extended attributes, read back and
// compared with `text` byte for byte ("Validation" 9 "Temp file does not hold the text to restore"), and
// the exchange, which happens only while the sidecar still is the file that was read. Run it on
// WriteQueue::xmpWriteQueue().
Status restoreSidecarSafely(FileSystem& fileSystem, const OpenFile& sidecar, std::string_view text,
                            const OpenFile::Attributes& attributes);

// Checks a written temporary file: it exists, is at least 100 bytes, parses as XML, has the GPS element,
// parseable coordinates and valid hemisphere references. Warns (never fails) when its size differs from
// `previousSize` by more than half.
Status validateTempFile(const FileSystem& fileSystem, const std::filesystem::path& tempURL, int64_t previousSize);

}  // namespace corvane
