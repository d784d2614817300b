// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/system/FolderAccess.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QSettings;

namespace corvane {

// Folder grants in the user's settings (QSettings, organisation and application "Corvane", in the XDG
// config folder), shared by the window and corvane-cli. QSettings locks and replaces the file as a
// whole, so two processes writing at once never corrupt it. Each lookup sees what other processes
// stored before it: the file is read again whenever its size or time stamp has changed.
class SettingsGrantStore : public GrantStore {
public:
    SettingsGrantStore();
    // A store in a given INI file (tests, or a portable setup).
    explicit SettingsGrantStore(const std::string& iniPath);
    ~SettingsGrantStore() override;

    std::optional<std::string> dataForKey(std::string_view key) const override;
    bool setData(std::string_view key, std::string_view bytes) override;

private:
    std::string iniPath_;  // empty for the user's settings
    // Kept for lookups: opening the settings costs path searches over several files, done once here
    // instead of once per media file.
    mutable std::unique_ptr<QSettings> reader_;
    mutable std::string readerFile_;
    struct FileStamp {
        bool exists = false;
        uint64_t inode = 0;
        int64_t size = 0, seconds = 0, nanoseconds = 0;
        friend bool operator==(const FileStamp&, const FileStamp&) = default;
    };
    mutable std::optional<FileStamp> readerStamp_;  // the file as it was at the last re-read
};

}  // namespace corvane
