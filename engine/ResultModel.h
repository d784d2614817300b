// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvane {

// The camera identity of a media file, as stored in the image. An absent field and an empty text are
// different values.
struct DeviceData {
    std::optional<std::string> make;
    std::optional<std::string> model;
    std::optional<std::string> software;
};
bool operator==(const DeviceData& a, const DeviceData& b);

// One sidecar property whose text differs from the one the image asks for: beyond the tolerance (a
// skippedDifferentGPS row), or in its form only (a withinTolerance row).
struct GPSDifference {
    std::string field;         // "Latitude", "Longitude", "LatitudeRef" or "LongitudeRef"
    std::string currentValue;  // the sidecar's text; "nil" for a form difference where the sidecar has none
    std::string newValue;      // the text the image asks for
};
bool operator==(const GPSDifference& a, const GPSDifference& b);

// A difference beyond the tolerance as its row reads: "Latitude: 48.8566N → 37.77490000N".
std::string differenceText(const GPSDifference& difference);
// A difference in form as a within-tolerance row reads: "Latitude format: 37.7749N → 37.77490000N" for
// a coordinate, "LatitudeRef: nil → N" for a reference.
std::string formatDifferenceText(const GPSDifference& difference);

// The nine outcomes of one media file. The order of the alternatives in ProcessingResult is part of
// the type: the results list, its icons and its filter switch on it.
namespace outcome {
struct Updated { std::vector<std::string> changes; };
struct WithinTolerance { std::vector<GPSDifference> differences; };
struct FileNotFound { std::string reason; };
struct UnsupportedFile { std::string reason; };
struct SkippedMissing { std::string reason; };
struct SkippedNonApple { std::optional<DeviceData> device; std::string reason; };
struct SkippedDifferentGPS { std::vector<GPSDifference> differences; };
struct Failed { std::string error; };
struct AlreadyCorrect {};

bool operator==(const Updated& a, const Updated& b);
bool operator==(const WithinTolerance& a, const WithinTolerance& b);
bool operator==(const FileNotFound& a, const FileNotFound& b);
bool operator==(const UnsupportedFile& a, const UnsupportedFile& b);
bool operator==(const SkippedMissing& a, const SkippedMissing& b);
bool operator==(const SkippedNonApple& a, const SkippedNonApple& b);
bool operator==(const SkippedDifferentGPS& a, const SkippedDifferentGPS& b);
bool operator==(const Failed& a, const Failed& b);
inline bool operator==(const AlreadyCorrect&, const AlreadyCorrect&) { return true; }
}  // namespace outcome

using ProcessingResult =
    std::variant<outcome::Updated, outcome::WithinTolerance, outcome::FileNotFound, outcome::UnsupportedFile,
                 outcome::SkippedMissing, outcome::SkippedNonApple, outcome::SkippedDifferentGPS, outcome::Failed,
                 outcome::AlreadyCorrect>;

// The case's name as a lowerCamelCase word ("updated", "skippedDifferentGPS", ...).
std::string_view caseName(const ProcessingResult& result);

// True for the outcomes that the results list hides while Silently Ignore Skipped is on: withinTolerance,
// skippedMissing, skippedNonApple and alreadyCorrect. skippedDifferentGPS is never hidden.
bool isSilentlySkippable(const ProcessingResult& result);

// A random (version 4) 128-bit identifier. Hashable; the text form is the usual 8-4-4-4-12 hex.
class Uuid {
public:
    static Uuid random();
    std::string text() const;
    friend bool operator==(const Uuid&, const Uuid&) = default;
    size_t hash() const;

private:
    std::array<uint8_t, 16> bytes_{};
};

// One file's outcome, and whether its steps ran as a dry run: that mode decides whether an `updated`
// outcome reads as written or as what would have been written, whatever the switch says later.
struct FileOutcome {
    ProcessingResult result;
    bool dryRun = true;
};

// One row of the results list: a fresh identifier, the media file exactly as queued, its outcome, and
// the Dry Run mode the file's steps ran in (a row keeps the wording of that mode). Rows are values; two
// rows for the same file and outcome made at different times differ by id.
struct ProcessingResultDetail {
    Uuid id;
    std::filesystem::path fileURL;
    ProcessingResult result;
    bool dryRun = true;

    static ProcessingResultDetail make(std::filesystem::path fileURL, FileOutcome outcome);
};
bool operator==(const ProcessingResultDetail& a, const ProcessingResultDetail& b);

}  // namespace corvane

template <>
struct std::hash<corvane::Uuid> {
    size_t operator()(const corvane::Uuid& id) const noexcept { return id.hash(); }
};
