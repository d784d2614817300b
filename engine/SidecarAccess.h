// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

namespace corvane {

// Access to a sidecar's folder while it lasts: the location under which the sidecar is to be read and
// written, and the action that ends the access. `stop` must be called exactly once.
struct ScopedAccess {
    std::filesystem::path scopedURL;
    std::function<void()> stop;
};

// What the pipeline will do with the sidecar: a dry run only reads it.
enum class SidecarUse { readAndWrite, readOnly };

// Obtains access to the folder of a sidecar before the pipeline looks at it. May ask the user and
// wait for the answer. Absent when no access could be had.
class SidecarAccessProvider {
public:
    virtual ~SidecarAccessProvider() = default;
    virtual std::optional<ScopedAccess> ensureSidecarAccess(const std::filesystem::path& sidecarURL,
                                                            SidecarUse use = SidecarUse::readAndWrite) = 0;
};

}  // namespace corvane
