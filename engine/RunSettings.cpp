#include "engine/RunSettings.h"

namespace corvane {

RunSettings& RunSettings::shared() {
    static RunSettings settings;
    return settings;
}

}  // namespace corvane
