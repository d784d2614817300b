#pragma once

#include "engine/FileSystem.h"
#include "engine/SidecarAccess.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Where folder grants are remembered between runs and between processes: opaque bytes under a text
// key. The window and corvane-cli share one store.
class GrantStore {
public:
    virtual ~GrantStore() = default;
    virtual std::optional<std::string> dataForKey(std::string_view key) const = 0;
    // Stores the bytes persistently; false when they could not be stored.
    virtual bool setData(std::string_view key, std::string_view bytes) = 0;
};

// What the user is asked when the program needs a folder it may not use yet.
struct FolderPromptRequest {
    std::string message;  // "This app needs access to the folder containing your XMP sidecar so it can read and update it."
    std::string confirmTitle;           // "Allow"
    std::filesystem::path startFolder;  // the sidecar's folder
};

// Asks the user to pick a folder (a directory only, one, no new folders). Runs on the UI thread and
// may block until the user answers. Absent when the user cancels.
class FolderPrompt {
public:
    virtual ~FolderPrompt() = default;
    virtual std::optional<std::filesystem::path> chooseFolder(const FolderPromptRequest& request) = 0;
};

// A prompt that always declines, for front ends without a person to ask.
class DecliningFolderPrompt : public FolderPrompt {
public:
    std::optional<std::filesystem::path> chooseFolder(const FolderPromptRequest&) override { return std::nullopt; }
};

// The key under which the grant for a folder is stored: "xmpBookmark::" + the standardised path.
std::string grantKey(const std::filesystem::path& folder);

// Access to a sidecar's folder: a stored grant for the folder when the sidecar exists there, else the
// access the process already has, else the user is asked for the folder and the answer is remembered.
// On Linux a grant's bytes are the folder's path; resolving fails when that folder no longer exists,
// and starting or stopping access does nothing.
class FolderAccess : public SidecarAccessProvider {
public:
    FolderAccess(const FileSystem& fileSystem, GrantStore& grants, FolderPrompt& prompt)
        : fileSystem_(fileSystem), grants_(grants), prompt_(prompt) {}

    std::optional<ScopedAccess> ensureSidecarAccess(const std::filesystem::path& sidecarURL) override;

    static constexpr std::string_view promptMessage =
        "This app needs access to the folder containing your XMP sidecar so it can read and update it.";
    static constexpr std::string_view promptConfirmTitle = "Allow";

private:
    const FileSystem& fileSystem_;
    GrantStore& grants_;
    FolderPrompt& prompt_;
};

}  // namespace corvane
