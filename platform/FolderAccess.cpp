#include "platform/FolderAccess.h"

#include "engine/Diagnostics.h"

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

std::optional<ScopedAccess> FolderAccess::ensureSidecarAccess(const fs::path& sidecarURL) {
    const fs::path folderURL = sidecarURL.parent_path().empty() ? fs::path(".") : sidecarURL.parent_path();
    const std::string sidecarName = lastPathComponent(sidecarURL);

    if (auto stored = grants_.dataForKey(grantKey(folderURL))) {
        if (auto folder = resolveGrant(fileSystem_, *stored)) {
            const fs::path candidate = folder.value() / sidecarName;
            if (fileSystem_.exists(candidate)) return ScopedAccess{candidate, endAccess()};
        }
    }

    if (fileSystem_.isReadable(sidecarURL) && fileSystem_.isWritable(folderURL))
        return ScopedAccess{sidecarURL, [] {}};
    // A sidecar that does not exist cannot be readable; when its folder may be read and written, the
    // program already has all the access it could be granted, and the file ends as having no sidecar
    // instead of asking the user for a folder it can use.
    if (!fileSystem_.exists(sidecarURL) && fileSystem_.isReadable(folderURL) && fileSystem_.isWritable(folderURL))
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
    const auto resolved = resolveGrant(fileSystem_, grant.value());
    if (!resolved) {
        Diagnostics::line("[DEBUG] Failed creating bookmark for folder: ", resolved.error().message);
        return std::nullopt;
    }
    return ScopedAccess{resolved.value() / sidecarName, endAccess()};
}

}  // namespace corvane
