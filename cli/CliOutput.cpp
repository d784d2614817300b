// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOutput.h"

#include "cli/CliOptions.h"
#include "cli/ExactText.h"
#include "engine/Diagnostics.h"
#include "engine/ResultReport.h"

#include <nlohmann/json.hpp>

namespace corvane::cli {
namespace {

using Json = nlohmann::ordered_json;

// JSON text in which every string keeps its bytes (jsonStringLiteral); numbers, booleans and null as
// the JSON library writes them.
void writeJson(const Json& value, std::string& out) {
    const char* separator = "";
    switch (value.type()) {
        case Json::value_t::object:
            out += '{';
            for (const auto& [key, member] : value.items()) {
                out += separator + jsonStringLiteral(key) + ':';
                writeJson(member, out);
                separator = ",";
            }
            out += '}';
            break;
        case Json::value_t::array:
            out += '[';
            for (const Json& element : value) {
                out += separator;
                writeJson(element, out);
                separator = ",";
            }
            out += ']';
            break;
        case Json::value_t::string: out += jsonStringLiteral(value.get_ref<const std::string&>()); break;
        default: out += value.dump();
    }
}

std::string jsonText(const Json& value) {
    std::string out;
    writeJson(value, out);
    return out;
}

Json optionalText(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

Json deviceJson(const std::optional<DeviceData>& device) {
    if (!device) return nullptr;
    return Json{{"make", optionalText(device->make)},
                {"model", optionalText(device->model)},
                {"software", optionalText(device->software)}};
}

Json differencesJson(const std::vector<GPSDifference>& differences, std::string (*text)(const GPSDifference&)) {
    Json list = Json::array();
    for (const GPSDifference& d : differences)
        list.push_back({{"field", d.field}, {"currentValue", d.currentValue}, {"newValue", d.newValue}, {"text", text(d)}});
    return list;
}

// The file as given, and its bytes when the name alone cannot carry them to every JSON reader.
Json fileJson(const std::string& file) {
    Json object{{"file", file}};
    if (!isUtf8(file)) object["file_bytes"] = base64(file);
    return object;
}

// The outcome with every text that came from a file (names, sidecar values, messages that quote them)
// escaped for a terminal; the texts the program adds around them keep their line breaks.
ProcessingResult escapedForTerminal(ProcessingResult result) {
    const auto escape = [](std::string& text) { text = escapeForTerminal(text); };
    std::visit(
        [&](auto& payload) {
            if constexpr (requires { payload.changes; }) std::ranges::for_each(payload.changes, escape);
            if constexpr (requires { payload.reason; }) escape(payload.reason);
            if constexpr (requires { payload.error; }) escape(payload.error);
            if constexpr (requires { payload.device; }) {
                if (payload.device)
                    for (auto* field : {&payload.device->make, &payload.device->model, &payload.device->software})
                        if (*field) escape(**field);
            }
            if constexpr (requires { payload.differences; }) {
                for (GPSDifference& d : payload.differences) escape(d.field), escape(d.currentValue), escape(d.newValue);
            }
        },
        result);
    return result;
}

}  // namespace

std::string reportRow(const ProcessingResultDetail& row) {
    return escapeForTerminal(row.fileURL.string()) + ": " + resultText(escapedForTerminal(row.result), row.dryRun);
}

std::string resultJson(const ProcessingResultDetail& row) {
    Json object = fileJson(row.fileURL.string());
    object["outcome"] = caseName(row.result);
    object["dryRun"] = row.dryRun;
    object["text"] = resultText(row.result, row.dryRun);
    std::visit(
        [&](const auto& payload) {
            using T = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<T, outcome::Updated>) object["changes"] = payload.changes;
            if constexpr (std::is_same_v<T, outcome::WithinTolerance>)
                object["differences"] = differencesJson(payload.differences, formatDifferenceText);
            if constexpr (std::is_same_v<T, outcome::SkippedDifferentGPS>)
                object["differences"] = differencesJson(payload.differences, differenceText);
            if constexpr (std::is_same_v<T, outcome::SkippedNonApple>) object["device"] = deviceJson(payload.device);
            if constexpr (requires { payload.reason; }) object["reason"] = payload.reason;
            if constexpr (std::is_same_v<T, outcome::Failed>) object["error"] = payload.error;
        },
        row.result);
    return jsonText(object);
}

std::string inspectionLine(const std::string& file, const std::optional<ImagePosition>& position,
                           const std::optional<DeviceData>& device) {
    auto field = [&](std::optional<std::string> DeviceData::*member) {
        return escapeForTerminal(orNil(device ? (*device).*member : std::optional<std::string>()));
    };
    auto coordinate = [&](double ImagePosition::*member) {
        return orNil(position ? std::optional<double>((*position).*member) : std::optional<double>());
    };
    return escapeForTerminal(file) + ": lat=" + coordinate(&ImagePosition::latitude) +
           " lon=" + coordinate(&ImagePosition::longitude) + " make=" + field(&DeviceData::make) +
           " model=" + field(&DeviceData::model) + " software=" + field(&DeviceData::software);
}

std::string inspectionJson(const std::string& file, const std::optional<ImagePosition>& position,
                           const std::optional<DeviceData>& device) {
    Json object = fileJson(file);
    object["latitude"] = position ? Json(position->latitude) : Json(nullptr);
    object["longitude"] = position ? Json(position->longitude) : Json(nullptr);
    object["device"] = deviceJson(device);
    return jsonText(object);
}

void OutcomeTally::add(const ProcessingResult& result) {
    ++counts_[result.index()];
    names_[result.index()] = caseName(result);
    ++total_;
}

bool OutcomeTally::anyFailed() const { return counts_[ProcessingResult(outcome::Failed{}).index()] > 0; }

bool OutcomeTally::anyNeedsChange() const {
    return counts_[ProcessingResult(outcome::Updated{}).index()] > 0 ||
           counts_[ProcessingResult(outcome::SkippedDifferentGPS{}).index()] > 0;
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

int runExitStatus(const OutcomeTally& tally, bool otherProblem, bool check) {
    if (tally.anyFailed() || otherProblem) return exitFailure;
    if (check && tally.anyNeedsChange()) return exitNeedsChange;
    return exitSuccess;
}

}  // namespace corvane::cli
