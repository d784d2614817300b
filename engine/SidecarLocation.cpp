// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SidecarLocation.h"

#include "engine/Diagnostics.h"
#include "engine/MediaFiles.h"
#include "engine/Text.h"

#include <optional>
#include <set>

namespace corvane {
namespace {

// One sidecar name looked up among a folder's entries.
struct NameLookup {
    bool listed = false;                // false when the folder could not be listed
    std::optional<std::string> found;   // the exact name, else its one spelling in another letter case
    std::vector<std::string> spellings; // the spellings in other letter cases, when there is no exact name
};

NameLookup lookUp(const FileSystem& fileSystem, const std::filesystem::path& folder, const std::string& exact) {
    const auto entries = fileSystem.entriesWithStem(folder, stemOf(exact));
    if (!entries) return {};
    NameLookup lookup{true, {}, {}};
    for (const auto& entry : *entries) {
        if (entry.name == exact) return {true, exact, {}};
        if (equalsIgnoringAsciiCase(entry.name, exact)) lookup.spellings.push_back(entry.name);
    }
    if (lookup.spellings.size() == 1) lookup.found = lookup.spellings.front();
    return lookup;
}

// The sidecar name an image of the folder has under the naming, and what the folder holds of it.
struct Resolution {
    std::string name;  // the name looked for
    NameLookup lookup;
};

Resolution resolve(const FileSystem& fileSystem, const std::filesystem::path& folder, const std::string& image,
                   SidecarName naming) {
    const std::string base = lastPathComponent(sidecarURLFor(image));
    const std::string full = image + ".xmp";
    switch (naming) {
        case SidecarName::base: return {base, lookUp(fileSystem, folder, base)};
        case SidecarName::full: return {full, lookUp(fileSystem, folder, full)};
        case SidecarName::either: break;
    }
    // A base name in any letter case decides for it, even when its spellings leave no choice: the
    // full name is for folders that have no base-named sidecar at all.
    NameLookup byBase = lookUp(fileSystem, folder, base);
    if (byBase.listed ? (byBase.found || !byBase.spellings.empty()) : fileSystem.exists(folder / base))
        return {base, std::move(byBase)};
    return {full, lookUp(fileSystem, folder, full)};
}

}  // namespace

std::filesystem::path sidecarURLFor(const std::filesystem::path& fileURL) {
    std::filesystem::path sidecar = fileURL;
    return sidecar.replace_extension("xmp");
}

SidecarLookup findSidecar(const FileSystem& fileSystem, const std::filesystem::path& fileURL, SidecarName naming) {
    const std::filesystem::path folder = fileURL.parent_path();
    const std::string image = lastPathComponent(fileURL);
    const Resolution own = resolve(fileSystem, folder, image, naming);
    if (!own.lookup.found) {
        if (const auto& spellings = own.lookup.spellings; spellings.size() > 1) {
            std::string names = spellings.front();
            for (size_t index = 1; index < spellings.size(); ++index)
                names += (index + 1 == spellings.size() ? " and " : ", ") + spellings[index];
            Diagnostics::line("[DEBUG] Ambiguous XMP sidecar for ", image, ": ", names, " differ only in letter case");
        }
        return {folder / own.name, {}};
    }
    const std::string& sidecar = *own.lookup.found;
    // The images that may have the same sidecar: those whose stem is the sidecar's stem (its base name)
    // and those whose whole name is (its full name). IMG_1.HEIC and IMG_1.heif beside IMG_1.xmp: one
    // sidecar for two positions.
    const std::string_view sidecarStem = stemOf(sidecar);
    std::set<std::string> candidates;
    for (const std::string_view stem : {sidecarStem, stemOf(sidecarStem)}) {
        const auto entries = stem.empty() ? std::nullopt : fileSystem.entriesWithStem(folder, stem);
        for (const auto& entry : entries.value_or(std::vector<FileSystem::FolderEntry>{}))
            if (entry.name != image && entry.isRegularFile && hasSupportedExtension(entry.name)) candidates.insert(entry.name);
    }
    SidecarLookup lookup{folder / sidecar, {}};
    for (const std::string& other : candidates)
        if (resolve(fileSystem, folder, other, naming).lookup.found == sidecar) lookup.otherImages.push_back(other);
    return lookup;
}

}  // namespace corvane
