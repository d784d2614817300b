// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>

namespace corvane::test {

// A fresh folder under `base` (by default $TMPDIR, or /tmp), removed with everything in it when the
// object goes away.
class TempDir {
public:
    explicit TempDir(const std::filesystem::path& base = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes `text` to `relative` below the folder (creating folders on the way) and returns the path.
    std::filesystem::path writeFile(const std::filesystem::path& relative, const std::string& text) const;

private:
    std::filesystem::path path_;
};

}  // namespace corvane::test
