// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderAccess.h"

#include "engine/Diagnostics.h"
#include "engine/RunScope.h"

#include <cerrno>

namespace corvane {
namespace {

namespace fs = std::filesystem;

// On Linux a grant is the folder's standardised path. Making one fails for anything that is not an
// existing folder; resolving fails once the folder is gone.
Expected<std::string> makeGrant(const FileSystem& fileSystem, const fs::path& folder) {
    const fs::path standardized = standardizedPath(folder);
    const FileSystem::Presence presence = fileSystem.presence(standardized);
    if (!presence.exists || !presence.isDirectory)
        return Error{"POSIX", ENOTDIR, "“" + standardized.string() + "” is not a folder"};
    return standardized.string();
}

Expected<fs::path> resolveGrant(const FileSystem& fileSystem, std::string_view bytes) {
    const fs::path folder(bytes);
    const FileSystem::Presence presence = fileSystem.presence(folder);
    if (bytes.empty() || !presence.exists || !presence.isDirectory)
        return Error{"POSIX", ENOENT, "the granted folder “" + folder.string() + "” no longer exists"};
    return folder;
}

// Starting and stopping access to a granted folder need nothing natively; the action still marks the
// end of the grant for the caller.
std::function<void()> endAccess() {
    return [] {};
}

}  // namespace

std::string grantKey(const fs::path& folder) { return "xmpBookmark::" + standardizedPath(folder).string(); }

FolderAccess::FolderFacts& FolderAccess::factsFor(const fs::path& folder) {
    const uint64_t run = RunScope::current();
    if (run == 0 || facts_.run != run || facts_.folder != folder) facts_ = FolderFacts{run, folder, {}, {}, {}};
    return facts_;
}

const std::optional<fs::path>& FolderAccess::grantedFolder(FolderFacts& facts) {
    if (!facts.grantedFolder) {
        std::optional<fs::path> granted;
        if (auto stored = grants_.dataForKey(grantKey(facts.folder))) {
            // A grant that does not resolve is passed over silently.
            if (auto folder = resolveGrant(fileSystem_, *stored)) granted = folder.value();
        }
        facts.grantedFolder = std::move(granted);
    }
    return *facts.grantedFolder;
}

bool FolderAccess::folderReadable(FolderFacts& facts) {
    if (!facts.readable) facts.readable = fileSystem_.isReadable(facts.folder);
    return *facts.readable;
}

bool FolderAccess::folderWritable(FolderFacts& facts) {
    if (!facts.writable) facts.writable = fileSystem_.isWritable(facts.folder);
    return *facts.writable;
}

std::optional<ScopedAccess> FolderAccess::ensureSidecarAccess(const fs::path& sidecarURL, SidecarUse use) {
    const fs::path folderURL = sidecarURL.parent_path().empty() ? fs::path(".") : sidecarURL.parent_path();
    const std::string sidecarName = lastPathComponent(sidecarURL);
    FolderFacts& facts = factsFor(folderURL);
    const bool readOnly = use == SidecarUse::readOnly;

    if (const auto& granted = grantedFolder(facts)) {
        const fs::path candidate = *granted / sidecarName;
        if (fileSystem_.exists(candidate)) return ScopedAccess{candidate, endAccess()};
    }

    // Nothing is written in a dry run: a sidecar that can be read is all it needs, also in a folder
    // that picking cannot make writable (an archive, a read-only mount).
    if (fileSystem_.isReadable(sidecarURL) && (readOnly || folderWritable(facts))) return ScopedAccess{sidecarURL, [] {}};
    // A sidecar that does not exist cannot be readable; when its folder may be read (and written, unless
    // nothing will be written), the program already has all the access it could be granted, and the file
    // ends as having no sidecar instead of asking the user for a folder it can use.
    if (!fileSystem_.exists(sidecarURL) && folderReadable(facts) && (readOnly || folderWritable(facts)))
        return ScopedAccess{sidecarURL, [] {}};

    const auto chosen = prompt_.chooseFolder(
        FolderPromptRequest{std::string(promptMessage), std::string(promptConfirmTitle), folderURL});
    if (!chosen) return std::nullopt;

    const auto grant = makeGrant(fileSystem_, *chosen);
    if (!grant) {
        Diagnostics::line("[DEBUG] Failed creating bookmark for folder: ", grant.error().message);
        return std::nullopt;
    }
    grants_.setData(grantKey(*chosen), grant.value());
    // The new grant may be for this folder: the next file looks it up again.
    facts_ = FolderFacts{};
    const auto resolved = resolveGrant(fileSystem_, grant.value());
    if (!resolved) {
        Diagnostics::line("[DEBUG] Failed creating bookmark for folder: ", resolved.error().message);
        return std::nullopt;
    }
    return ScopedAccess{resolved.value() / sidecarName, endAccess()};
}

}  // namespace corvane
