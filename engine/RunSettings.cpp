// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunSettings.h"

namespace corvane {

RunSettings& RunSettings::shared() {
    static RunSettings settings;
    return settings;
}

}  // namespace corvane
