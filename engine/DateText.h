// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <string>

namespace corvane {

// A moment as "YYYY-MM-DD HH:MM:SS +0000" in UTC on a 24-hour clock (2025-01-31 23:59:59 +0000), the
// form the results report and the update service's diagnostic line use.
std::string formatUtcDate(std::chrono::system_clock::time_point moment);

}  // namespace corvane
