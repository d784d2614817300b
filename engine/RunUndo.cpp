// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunUndo.h"

#include "engine/Diagnostics.h"
#include "engine/SafeSave.h"
#include "engine/SidecarComparison.h"
#include "engine/SidecarGPS.h"
#include "engine/WriteQueue.h"
#include "engine/XmpXml.h"

#include <cerrno>
#include <memory>

namespace corvane {
namespace {

// The four GPS texts of a sidecar's text; all absent when it has no GPS element or is no XML.
SidecarGPSTexts gpsTextsOf(const std::string& bytes) {
    const auto document = XMPXML::load(bytes);
    if (!document) return {};
    const auto element = XMPXML::findGPSElement(document.value());
    return element ? readSidecarGPSTexts(*element) : SidecarGPSTexts{};
}

// What restoring `old` in place of `current` changes, property by property, as the writer words it.
std::vector<std::string> restoredProperties(const std::string& current, const std::string& old) {
    const SidecarGPSTexts now = gpsTextsOf(current), before = gpsTextsOf(old);
    using Text = std::optional<std::string> SidecarGPSTexts::*;
    const std::pair<const char*, Text> properties[] = {{"exif:GPSLatitude", &SidecarGPSTexts::latitude},
                                                       {"exif:GPSLongitude", &SidecarGPSTexts::longitude},
                                                       {"exif:GPSLatitudeRef", &SidecarGPSTexts::latitudeRef},
                                                       {"exif:GPSLongitudeRef", &SidecarGPSTexts::longitudeRef}};
    std::vector<std::string> changes;
    for (const auto& [name, text] : properties) {
        if (now.*text == before.*text) continue;
        changes.push_back(std::string(name) + ": " + (now.*text).value_or("(none)") + " → " + (before.*text).value_or("(none)"));
    }
    // A run changes the GPS properties, but whatever it changed goes back.
    if (changes.empty()) changes.push_back("XMP sidecar text from before the run");
    return changes;
}

}  // namespace

FileOutcome undoReplacement(FileSystem& fileSystem, const ReplacedSidecar& record, bool dryRun) {
    const std::string name = lastPathComponent(record.path);
    Diagnostics::line("[DEBUG] Undoing the run's replacement of ", record.path.string());
    RunSwitches settings;
    settings.dryRun = dryRun;
    // In an undo that writes, the sidecar stays locked from before it is read until its old text is back.
    auto opened = fileSystem.openFile(record.path, static_cast<uint64_t>(maximumSidecarSize),
                                      dryRun ? FileSystem::FileUse::read : FileSystem::FileUse::write);
    if (!opened && opened.error().isMissingFile())
        return {reportWriterOutcome(name, Error::sidecarLeftUnchanged("no longer exists; nothing restored"), settings), dryRun};
    if (!opened) return {reportWriterOutcome(name, sidecarReadError(fileSystem, record.path, opened.error()), settings), dryRun};

    const std::string& current = opened.value()->bytes();
    if (!record.holdsNewText(current)) {
        if (current == record.oldBytes) return {reportWriterOutcome(name, WriterAnswer{}, settings), dryRun};
        return {reportWriterOutcome(name, Error::sidecarLeftUnchanged("changed since the run; left unchanged"), settings), dryRun};
    }
    WriterAnswer answer{true, restoredProperties(current, record.oldBytes), {}};
    answer.formatNotes = answer.changes;
    if (!dryRun) {
        Diagnostics::line("[DEBUG] Restoring XMP atomically: ", name);
        Status restored;
        // The sidecar gets back the permission bits, owner and group it had before the run, not those it
        // was given since: a chmod after the run is undone with it.
        const OpenFile::Attributes attributes{opened.value()->linkCount(), record.mode, record.owner, record.group};
        WriteQueue::xmpWriteQueue().runSync([&] { restored = restoreSidecarSafely(fileSystem, *opened.value(), record.oldBytes, attributes); });
        if (!restored) return {reportWriterOutcome(name, restored.error(), settings), dryRun};
    }
    return {reportWriterOutcome(name, answer, settings), dryRun};
}

UndoPlan planUndo(FileSystem& fileSystem, std::vector<ReplacedSidecar> records, bool dryRun) {
    auto reversed = std::make_shared<std::vector<ReplacedSidecar>>(std::make_move_iterator(records.rbegin()),
                                                                   std::make_move_iterator(records.rend()));
    UndoPlan plan;
    for (const auto& record : *reversed) plan.sidecars.push_back(record.path);
    plan.undo = [&fileSystem, reversed, dryRun, next = size_t{0}](const std::filesystem::path& sidecar) mutable -> FileOutcome {
        // The driver hands the sidecars over in the plan's order, one call each.
        if (next >= reversed->size() || (*reversed)[next].path != sidecar)
            return {outcome::Failed{"Not among the run's sidecars"}, dryRun};
        return undoReplacement(fileSystem, (*reversed)[next++], dryRun);
    };
    return plan;
}

}  // namespace corvane
