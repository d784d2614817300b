// SPDX-License-Identifier: GPL-3.0-or-later
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
// A sidecar that can be read is used directly, whatever the run will do with it (a run that writes
// fails only the files that need a write, naming the folder that cannot be written). The folder the
// user picks must be the sidecar's own: another one is refused, and nothing is read or written there.
// On Linux a grant's bytes are the folder's path; resolving fails when that folder no longer exists,
// and starting or stopping access does nothing.
//
// During a run (RunScope) what concerns the folder rather than the sidecar (its stored grant, whether
// it may be read) is looked up once while the run stays in the folder; a grant the user gives during
// the run is used for the files that follow. Outside a run every call looks afresh.
class FolderAccess : public SidecarAccessProvider {
public:
    FolderAccess(const FileSystem& fileSystem, GrantStore& grants, FolderPrompt& prompt)
        : fileSystem_(fileSystem), grants_(grants), prompt_(prompt) {}

    Expected<ScopedAccess> ensureSidecarAccess(const std::filesystem::path& sidecarURL) override;

    static constexpr std::string_view promptMessage =
        "This app needs access to the folder containing your XMP sidecar so it can read and update it.";
    static constexpr std::string_view promptConfirmTitle = "Allow";

private:
    // What is known of one folder during one run; filled as the questions come.
    struct FolderFacts {
        uint64_t run = 0;
        std::filesystem::path folder;
        std::optional<std::optional<std::filesystem::path>> grantedFolder;  // outer: not looked up yet
        std::optional<bool> readable;
    };
    FolderFacts& factsFor(const std::filesystem::path& folder);
    const std::optional<std::filesystem::path>& grantedFolder(FolderFacts& facts);
    bool folderReadable(FolderFacts& facts);
    std::optional<ScopedAccess> directAccess(const std::filesystem::path& sidecarURL, FolderFacts& facts);

    const FileSystem& fileSystem_;
    GrantStore& grants_;
    FolderPrompt& prompt_;
    FolderFacts facts_;
};

}  // namespace corvane
