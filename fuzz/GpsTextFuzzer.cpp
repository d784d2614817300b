// SPDX-License-Identifier: GPL-3.0-or-later
// Every GPS text rule on arbitrary text: the coordinate parser, the degree-minute-second recogniser and
// the reference and canonical forms, which all read sidecar text as the user's files give it.

#include "engine/GpsText.h"
#include "fuzz/FuzzSupport.h"

#include <cmath>
#include <string_view>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceDiagnostics();
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const ParsedCoordinate parsed = parseXmpGPS(text);
    if (!parsed.letter.empty() && parsed.letter != "N" && parsed.letter != "S" && parsed.letter != "E" &&
        parsed.letter != "W")
        std::abort();

    if (const auto dms = parseDMSString(text); dms && !(*dms >= 0) && !std::isnan(*dms)) std::abort();

    const std::string reference = normalizeHemisphereRef(text);
    (void)applyHemisphereSign(parsed.value, reference);
    (void)applyHemisphereSign(parsed.value, text);
    (void)hasHemisphereSuffix(text);
    (void)canonicalGPSText(text);
    if (parsed.value) {
        (void)formatGPSCoordinate(*parsed.value, Axis::latitude);
        (void)formatGPSCoordinate(*parsed.value, Axis::longitude);
    }
    return 0;
}
