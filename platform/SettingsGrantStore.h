#pragma once

#include "platform/FolderAccess.h"

#include <memory>

namespace corvane {

// Folder grants in the user's settings (QSettings, organisation and application "Corvane", in the XDG
// config folder), shared by the window and corvane-cli. QSettings locks and replaces the file as a
// whole, so two processes writing at once never corrupt it. Each call reads the file afresh.
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
};

}  // namespace corvane
