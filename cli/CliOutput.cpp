// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOutput.h"

#include "engine/Diagnostics.h"
#include "engine/FileSystem.h"
#include "engine/ResultReport.h"

#include <nlohmann/json.hpp>

namespace corvane::cli {
namespace {

using nlohmann::json;

json optionalText(const std::optional<std::string>& text) { return text ? json(*text) : json(nullptr); }

json deviceJson(const std::optional<DeviceData>& device) {
    if (!device) return nullptr;
    return json{{"make", optionalText(device->make)},
                {"model", optionalText(device->model)},
                {"software", optionalText(device->software)}};
}

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

std::string resultJson(const ProcessingResultDetail& row) {
    json object{{"file", row.fileURL.string()}, {"outcome", caseName(row.result)}, {"text", resultText(row.result, row.dryRun)}};
    std::visit(
        [&](const auto& payload) {
            using T = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<T, outcome::Updated>) object["changes"] = payload.changes;
            if constexpr (std::is_same_v<T, outcome::WithinTolerance>) object["differences"] = payload.differences;
            if constexpr (std::is_same_v<T, outcome::FileNotFound> || std::is_same_v<T, outcome::UnsupportedFile> ||
                          std::is_same_v<T, outcome::SkippedMissing>)
                object["reason"] = payload.reason;
            if constexpr (std::is_same_v<T, outcome::SkippedNonApple>) {
                object["device"] = deviceJson(payload.device);
                object["reason"] = payload.reason;
            }
            if constexpr (std::is_same_v<T, outcome::SkippedDifferentGPS>) {
                json differences = json::array();
                for (const auto& d : payload.differences)
                    differences.push_back({{"field", d.field}, {"currentValue", d.currentValue}, {"newValue", d.newValue}});
                object["differences"] = differences;
            }
            if constexpr (std::is_same_v<T, outcome::Failed>) object["error"] = payload.error;
        },
        row.result);
    return dump(object);
}

std::string inspectionLine(const std::string& file, const std::optional<ImagePosition>& position,
                           const std::optional<DeviceData>& device) {
    auto field = [&](std::optional<std::string> DeviceData::*member) {
        return std::string(orNil(device ? (*device).*member : std::optional<std::string>()));
    };
    auto coordinate = [&](double ImagePosition::*member) {
        return orNil(position ? std::optional<double>((*position).*member) : std::optional<double>());
    };
    return lastPathComponent(file) + ": lat=" + coordinate(&ImagePosition::latitude) +
           " lon=" + coordinate(&ImagePosition::longitude) + " make=" + field(&DeviceData::make) +
           " model=" + field(&DeviceData::model) + " software=" + field(&DeviceData::software);
}

std::string inspectionJson(const std::string& file, const std::optional<ImagePosition>& position,
                           const std::optional<DeviceData>& device) {
    json object{{"file", file},
                {"latitude", position ? json(position->latitude) : json(nullptr)},
                {"longitude", position ? json(position->longitude) : json(nullptr)},
                {"device", deviceJson(device)}};
    return dump(object);
}

void OutcomeTally::add(const ProcessingResult& result) {
    ++counts_[result.index()];
    names_[result.index()] = caseName(result);
    ++total_;
}

std::string summaryLine(const OutcomeTally& tally, bool dryRun, bool stopped) {
    if (tally.total() == 0) return stopped ? "corvane-cli: 0 files" : "corvane-cli: no media files found";
    std::string line =
        "corvane-cli: " + std::to_string(tally.total()) + (tally.total() == 1 ? " file:" : " files:");
    const char* separator = " ";
    for (size_t index = 0; index < std::variant_size_v<ProcessingResult>; ++index) {
        if (tally.count(index) == 0) continue;
        line += separator + std::to_string(tally.count(index)) + " " + std::string(tally.name(index));
        separator = ", ";
    }
    if (dryRun) line += " (dry run, nothing written)";
    return line;
}

}  // namespace corvane::cli
