// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"

#include <filesystem>
#include <functional>

namespace corvane {

// Access to a sidecar's folder while it lasts: the location under which the sidecar is to be read and
// written, and the action that ends the access. `stop` must be called exactly once.
struct ScopedAccess {
    std::filesystem::path scopedURL;
    std::function<void()> stop;
};

// Obtains access to the folder of a sidecar before the pipeline looks at it. May ask the user and
// wait for the answer. Fails when no access could be had, with the message the file's row shows:
// "Permission denied for XMP sidecar" when the user declines (or the grant cannot be made), or why the
// folder the user chose cannot serve.
class SidecarAccessProvider {
public:
    virtual ~SidecarAccessProvider() = default;
    virtual Expected<ScopedAccess> ensureSidecarAccess(const std::filesystem::path& sidecarURL) = 0;
};

}  // namespace corvane
