// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one photo position the tests use, and the sidecar texts that describe it in each form a writer
// produces. San Francisco: north and west, so both hemisphere letters and both signs are exercised.

#include "tests/support/SidecarXml.h"

#include <cstdlib>

namespace corvane::test {

inline constexpr double photoLatitude = 37.7749;
inline constexpr double photoLongitude = -122.4194;

// The canonical texts the program writes for that position.
inline constexpr const char* canonicalLatitude = "37.77490000N";
inline constexpr const char* canonicalLongitude = "122.41940000W";

// Sidecar GPS properties for that position: canonical; right but written without hemisphere letters;
// right with letters but fewer decimals; and far away (Paris).
inline const SidecarGPSProperties canonicalSidecar{canonicalLatitude, canonicalLongitude, "N", "W"};
inline const SidecarGPSProperties letterlessSidecar{"37.7749", "122.4194", "N", "W"};
inline const SidecarGPSProperties shortLetteredSidecar{"37.7749N", "122.4194W", "N", "W"};
inline const SidecarGPSProperties parisSidecar{"48.8566N", "2.3522E", "N", "E"};

// A number from the environment, for tests whose size can be raised by hand (KILL_TRIALS=200).
inline int environmentNumber(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

}  // namespace corvane::test
