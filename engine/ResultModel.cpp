// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ResultModel.h"

#include "engine/Text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

namespace corvane {
namespace {

bool optionalTextEquals(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || textEquals(*a, *b);
}

bool textListEquals(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) { return textEquals(x, y); });
}

}  // namespace

bool operator==(const DeviceData& a, const DeviceData& b) {
    return optionalTextEquals(a.make, b.make) && optionalTextEquals(a.model, b.model) &&
           optionalTextEquals(a.software, b.software);
}

bool operator==(const GPSDifference& a, const GPSDifference& b) {
    return textEquals(a.field, b.field) && textEquals(a.currentValue, b.currentValue) &&
           textEquals(a.newValue, b.newValue);
}

std::string differenceText(const GPSDifference& difference) {
    return difference.field + ": " + difference.currentValue + " → " + difference.newValue;
}

std::string formatDifferenceText(const GPSDifference& difference) {
    const bool isReference = difference.field.ends_with("Ref");
    return difference.field + (isReference ? ": " : " format: ") + difference.currentValue + " → " + difference.newValue;
}

namespace outcome {
bool operator==(const Updated& a, const Updated& b) { return textListEquals(a.changes, b.changes); }
bool operator==(const WithinTolerance& a, const WithinTolerance& b) { return a.differences == b.differences; }
bool operator==(const FileNotFound& a, const FileNotFound& b) { return textEquals(a.reason, b.reason); }
bool operator==(const UnsupportedFile& a, const UnsupportedFile& b) { return textEquals(a.reason, b.reason); }
bool operator==(const SkippedMissing& a, const SkippedMissing& b) { return textEquals(a.reason, b.reason); }
bool operator==(const SkippedNonApple& a, const SkippedNonApple& b) {
    return a.device == b.device && textEquals(a.reason, b.reason);
}
bool operator==(const SkippedDifferentGPS& a, const SkippedDifferentGPS& b) { return a.differences == b.differences; }
bool operator==(const Failed& a, const Failed& b) { return textEquals(a.error, b.error); }
}  // namespace outcome

std::string_view caseName(const ProcessingResult& result) {
    static constexpr std::string_view names[] = {"updated",        "withinTolerance", "fileNotFound",
                                                 "unsupportedFile", "skippedMissing",  "skippedNonApple",
                                                 "skippedDifferentGPS", "failed",      "alreadyCorrect"};
    static_assert(std::size(names) == std::variant_size_v<ProcessingResult>);
    return names[result.index()];
}

bool isSilentlySkippable(const ProcessingResult& result) {
    return std::holds_alternative<outcome::WithinTolerance>(result) ||
           std::holds_alternative<outcome::SkippedMissing>(result) ||
           std::holds_alternative<outcome::SkippedNonApple>(result) ||
           std::holds_alternative<outcome::AlreadyCorrect>(result);
}

Uuid Uuid::random() {
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    Uuid id;
    const uint64_t high = generator();
    const uint64_t low = generator();
    std::memcpy(id.bytes_.data(), &high, 8);
    std::memcpy(id.bytes_.data() + 8, &low, 8);
    id.bytes_[6] = static_cast<uint8_t>((id.bytes_[6] & 0x0F) | 0x40);  // version 4
    id.bytes_[8] = static_cast<uint8_t>((id.bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return id;
}

std::string Uuid::text() const {
    char out[37];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes_[0],
                  bytes_[1], bytes_[2], bytes_[3], bytes_[4], bytes_[5], bytes_[6], bytes_[7], bytes_[8], bytes_[9],
                  bytes_[10], bytes_[11], bytes_[12], bytes_[13], bytes_[14], bytes_[15]);
    return out;
}

size_t Uuid::hash() const {
    uint64_t high, low;
    std::memcpy(&high, bytes_.data(), 8);
    std::memcpy(&low, bytes_.data() + 8, 8);
    return std::hash<uint64_t>{}(high ^ (low * 0x9E3779B97F4A7C15ull));
}

ProcessingResultDetail ProcessingResultDetail::make(std::filesystem::path fileURL, FileOutcome outcome) {
    return ProcessingResultDetail{Uuid::random(), std::move(fileURL), std::move(outcome.result), outcome.dryRun};
}

bool operator==(const ProcessingResultDetail& a, const ProcessingResultDetail& b) {
    return a.id == b.id && a.fileURL == b.fileURL && a.result == b.result && a.dryRun == b.dryRun;
}

}  // namespace corvane
