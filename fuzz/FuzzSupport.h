// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shared pieces of the fuzz targets: silence the engine's diagnostic lines (they would cost most of
// each run and flood the terminal) and give each process one scratch file for inputs that must come
// from disk.

#include "engine/Diagnostics.h"
#include "tests/support/TempDir.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace corvane::fuzz {

inline void silenceDiagnostics() {
    static const bool silenced = [] {
        Diagnostics::setSink({});
        return true;
    }();
    (void)silenced;
}

// A folder of this process's own under /dev/shm when it exists (no disk traffic), else $TMPDIR or /tmp.
// Kept for the life of the process (libFuzzer runs each target in one process) and removed at its exit.
inline const std::filesystem::path& scratchFolder() {
    static const test::TempDir folder(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "");
    return folder.path();
}

// Replaces the file's content with the bytes (the file is created when missing).
inline std::filesystem::path writeScratchFile(const std::string& name, const uint8_t* data, size_t size) {
    const std::filesystem::path path = scratchFolder() / name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    return path;
}

}  // namespace corvane::fuzz
