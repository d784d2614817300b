// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/FolderAccess.h"

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
        return Error::posix(ENOTDIR, "“" + standardized.string() + "” is not a folder");
    return standardized.string();
}

Expected<fs::path> resolveGrant(const FileSystem& fileSystem, std::string_view bytes) {
    const fs::path folder(bytes);
    const FileSystem::Presence presence = fileSystem.presence(folder);
    if (bytes.empty() || !presence.exists || !presence.isDirectory)
        return Error::posix(ENOENT, "the granted folder “" + folder.string() + "” no longer exists");
    return folder;
}

// Starting and stopping access to a granted folder need nothing natively; the action still marks the
// end of the grant for the caller.
std::function<void()> endAccess() {
    return [] {};
}

Error permissionDenied() { return Error{"Access", 1, "Permission denied for XMP sidecar"}; }

// The same folder by its path, or by what it is (another path to it through a link, a bind mount).
bool isSameFolder(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return standardizedPath(a) == standardizedPath(b) || fs::equivalent(a, b, error);
}

}  // namespace

std::string grantKey(const fs::path& folder) { return "xmpBookmark::" + standardizedPath(folder).string(); }

FolderAccess::FolderFacts& FolderAccess::factsFor(const fs::path& folder) {
    const uint64_t run = RunScope::current();
    if (run == 0 || facts_.run != run || facts_.folder != folder) facts_ = FolderFacts{run, folder, {}, {}};
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

std::optional<ScopedAccess> FolderAccess::directAccess(const fs::path& sidecarURL, FolderFacts& facts) {
    // A sidecar that can be read is read directly, whatever the run will do: should it need a write
    // that its folder refuses, only that file fails, naming the folder. Picking the folder in a prompt
    // would not make it writable.
    if (fileSystem_.isReadable(sidecarURL)) return ScopedAccess{sidecarURL, [] {}};
    // A sidecar that does not exist cannot be readable; when its folder may be read, the program
    // already has all the access it could be granted, and the file ends as having no sidecar instead of
    // asking the user for a folder it can use.
    if (!fileSystem_.exists(sidecarURL) && folderReadable(facts)) return ScopedAccess{sidecarURL, [] {}};
    return std::nullopt;
}

Expected<ScopedAccess> FolderAccess::ensureSidecarAccess(const fs::path& sidecarURL) {
    const fs::path folderURL = sidecarURL.parent_path().empty() ? fs::path(".") : sidecarURL.parent_path();
    const std::string sidecarName = lastPathComponent(sidecarURL);
    FolderFacts& facts = factsFor(folderURL);

    if (const auto& granted = grantedFolder(facts)) {
        const fs::path candidate = *granted / sidecarName;
        if (fileSystem_.exists(candidate)) return ScopedAccess{candidate, endAccess()};
    }
    if (auto direct = directAccess(sidecarURL, facts)) return std::move(*direct);

    const auto chosen = prompt_.chooseFolder(
        FolderPromptRequest{std::string(promptMessage), std::string(promptConfirmTitle), folderURL});
    if (!chosen) return permissionDenied();
    // The sidecar that belongs to this image is the one in its own folder: a file of the same name in
    // another folder belongs to another photo, and this image's position must not reach it.
    if (!isSameFolder(*chosen, folderURL)) {
        return Error{"Access", 2,
                     "The chosen folder “" + standardizedPath(*chosen).string() + "” is not the XMP sidecar's folder “" +
                         standardizedPath(folderURL).string() + "”; nothing was read or written there"};
    }

    const auto grant = makeGrant(fileSystem_, *chosen);
    if (!grant) {
        Diagnostics::line("[DEBUG] Failed creating bookmark for folder: ", grant.error().message);
        return permissionDenied();
    }
    grants_.setData(grantKey(*chosen), grant.value());
    // The new grant is for this folder: the next file looks it up again.
    facts_ = FolderFacts{};
    const auto resolved = resolveGrant(fileSystem_, grant.value());
    if (!resolved) {
        Diagnostics::line("[DEBUG] Failed creating bookmark for folder: ", resolved.error().message);
        return permissionDenied();
    }
    return ScopedAccess{resolved.value() / sidecarName, endAccess()};
}

}  // namespace corvane
