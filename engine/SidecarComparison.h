// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"
#include "engine/ResultModel.h"
#include "engine/RunSwitches.h"
#include "engine/SidecarGPS.h"
#include "engine/SidecarWriter.h"

#include <string_view>
#include <variant>

namespace corvane {

// The largest difference per axis, in degrees, that still counts as the same position (inclusive).
inline constexpr double GPSTolerance = 1e-4;

// The comparison's verdict: a settled outcome, or the instruction to have the writer bring the sidecar to
// the image's position (with what the comparison read and worked out, for the writer to use as it is).
using ComparisonDecision = std::variant<ProcessingResult, WriteSidecar>;

// Compares the sidecar's four GPS properties with the image's position (per axis within GPSTolerance, and
// the hemisphere rule). A differing sidecar is left alone unless alwaysOverwrite is on; a matching one is
// rewritten only when its texts lack the hemisphere letters; otherwise it is already correct or within
// tolerance. No effect but diagnostic lines.
ComparisonDecision compareSidecarGPS(XmlNode element, const GPSTarget& target, std::string_view name,
                                     const RunSwitches& switches);

// The file's outcome from the writer's answer: failed, updated (prefixed in a dry run) or already correct.
ProcessingResult reportWriterOutcome(std::string_view name, const Expected<WriterAnswer>& answer,
                                     const RunSwitches& switches);

}  // namespace corvane
