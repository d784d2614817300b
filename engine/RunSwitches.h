// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane {

// Which name the sidecar of IMG_0001.HEIC has: "base" IMG_0001.xmp (the last extension replaced, as
// Lightroom names it), "full" IMG_0001.HEIC.xmp (the whole name, as darktable and digiKam name it), or
// "either": the base name when such a sidecar exists, else the full name.
enum class SidecarName : uint8_t { base, full, either };

// How the engine writes a coordinate: "decimal" 37.77490000N (degrees with eight decimals), or "xmp"
// 37,46.494000N (the XMP specification's GPSCoordinate form: whole degrees, minutes with six decimals),
// which Exiv2-based programs convert to Exif.
enum class CoordinateForm : uint8_t { decimal, xmp };

// The switches of a run, as one value: what every front end fills, what each file's steps follow, and
// what the report's header names. The defaults are those of every launch: a dry run of Apple photos
// with base sidecar names and decimal coordinates.
struct RunSwitches {
    bool dryRun = true;
    bool alwaysOverwrite = false;
    bool appleOnly = true;
    bool silentlyIgnoreSkipped = false;
    SidecarName sidecarName = SidecarName::base;
    CoordinateForm coordinateForm = CoordinateForm::decimal;

    friend bool operator==(const RunSwitches&, const RunSwitches&) = default;
};

// The words of the choices, as the command line takes them, the report's header names them and the
// window's settings store them ("base", "full", "either"; "decimal", "xmp"), in the order of the enums.
inline constexpr std::array<std::string_view, 3> sidecarNameWords = {"base", "full", "either"};
inline constexpr std::array<std::string_view, 2> coordinateFormWords = {"decimal", "xmp"};

constexpr std::string_view wordFor(SidecarName name) { return sidecarNameWords[static_cast<size_t>(name)]; }
constexpr std::string_view wordFor(CoordinateForm form) { return coordinateFormWords[static_cast<size_t>(form)]; }

// The choice a word names exactly (sidecarNameFromWord("full")); absent for any other word.
template <typename Choice, size_t count>
constexpr std::optional<Choice> choiceFromWord(const std::array<std::string_view, count>& words, std::string_view word) {
    for (size_t index = 0; index < count; ++index)
        if (words[index] == word) return static_cast<Choice>(index);
    return std::nullopt;
}
constexpr std::optional<SidecarName> sidecarNameFromWord(std::string_view word) {
    return choiceFromWord<SidecarName>(sidecarNameWords, word);
}
constexpr std::optional<CoordinateForm> coordinateFormFromWord(std::string_view word) {
    return choiceFromWord<CoordinateForm>(coordinateFormWords, word);
}

}  // namespace corvane
