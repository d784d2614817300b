// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ResultReport.h"

#include "engine/DateText.h"
#include "engine/FileSystem.h"
#include "engine/Text.h"

namespace corvane {
namespace {

std::string deviceText(const std::optional<DeviceData>& device) {
    if (!device) return {};
    std::vector<std::string> parts;
    if (device->make) parts.push_back(*device->make);
    if (device->model) parts.push_back(*device->model);
    return joined(parts, " ");
}

}  // namespace

std::string resultText(const ProcessingResult& result, bool dryRun) {
    using namespace outcome;
    struct Text {
        bool dryRun;
        std::string operator()(const Updated& r) const {
            if (r.changes.empty()) return "Updated";
            return std::string(dryRun ? "[Dry Run] Would Update:\n" : "Updated:\n") + "• " + joined(r.changes, "\n• ");
        }
        std::string operator()(const WithinTolerance& r) const {
            if (r.differences.empty()) return "Within tolerance — not updated";
            std::vector<std::string> texts;
            for (const auto& d : r.differences) texts.push_back(formatDifferenceText(d));
            return "Within tolerance — not updated (" + joined(texts, "; ") + ")";
        }
        std::string operator()(const FileNotFound& r) const { return "File not found: " + r.reason; }
        std::string operator()(const UnsupportedFile& r) const { return "Unsupported: " + r.reason; }
        std::string operator()(const SkippedMissing& r) const { return "Skipped (missing): " + r.reason; }
        std::string operator()(const SkippedNonApple& r) const {
            const std::string device = deviceText(r.device);
            if (device.empty()) return "Skipped (non-Apple): " + r.reason;
            return "Skipped (non-Apple): " + device + " - " + r.reason;
        }
        std::string operator()(const SkippedDifferentGPS& r) const {
            if (r.differences.empty()) return "Skipped (GPS differs)";
            std::string out = "Skipped (GPS differs):";
            for (const auto& d : r.differences) out += "\n• " + differenceText(d);
            return out;
        }
        std::string operator()(const Failed& r) const { return "Failed: " + r.error; }
        std::string operator()(const AlreadyCorrect&) const { return "Already correct"; }
    };
    return std::visit(Text{dryRun}, result);
}

std::vector<const ProcessingResultDetail*> visibleResults(const std::vector<ProcessingResultDetail>& results,
                                                          bool silentlyIgnoreSkipped) {
    std::vector<const ProcessingResultDetail*> visible;
    visible.reserve(results.size());
    for (const auto& row : results)
        if (!silentlyIgnoreSkipped || !isSilentlySkippable(row.result)) visible.push_back(&row);
    return visible;
}

std::string rowText(const ProcessingResultDetail& row) {
    return lastPathComponent(row.fileURL) + ": " + resultText(row.result, row.dryRun);
}

std::string reportHeader(const RunSwitches& switches, std::chrono::system_clock::time_point now) {
    auto flag = [](bool value) { return value ? "true" : "false"; };
    std::string header = "Results — " + formatUtcDate(now) + " — Settings: DryRun=" + flag(switches.dryRun) +
                         " ForceOverwrite=" + flag(switches.alwaysOverwrite) + " AppleOnly=" + flag(switches.appleOnly) +
                         " SilentSkip=" + flag(switches.silentlyIgnoreSkipped);
    // The choices beyond the four switches are named only when they differ from every launch's, so a
    // report of a default run reads as it always has.
    if (switches.sidecarName != SidecarName::base) header += " SidecarName=" + std::string(wordFor(switches.sidecarName));
    if (switches.coordinateForm != CoordinateForm::decimal)
        header += " CoordinateForm=" + std::string(wordFor(switches.coordinateForm));
    return header;
}

std::string reportText(const std::vector<ProcessingResultDetail>& results, const RunSwitches& switches,
                       std::chrono::system_clock::time_point now) {
    std::string out = reportHeader(switches, now);
    for (const ProcessingResultDetail* row : visibleResults(results, switches.silentlyIgnoreSkipped))
        out += "\n" + rowText(*row);
    return out;
}

}  // namespace corvane
