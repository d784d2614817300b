// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/FileSystem.h"
#include "engine/ResultModel.h"
#include "engine/RunDriver.h"
#include "engine/RunJournal.h"

#include <filesystem>
#include <vector>

namespace corvane {

// Puts back the text a sidecar had before a run replaced it, with the permission bits, owner and group
// it had then (as far as this process may set them), through the safe save, but only while the sidecar
// holds exactly what the run wrote. One outcome, as for a media file of a run:
// - updated: restored (in a dry run: would be), with one change text per GPS property that changes back,
//   "exif:GPSLatitude: 37.77490000N → 37,46.494" ("(none)" for a property one of the texts lacks);
// - alreadyCorrect: the sidecar already holds its old text (the run was stopped before it replaced it);
// - failed "changed since the run; left unchanged": it holds neither text;
// - failed "no longer exists; nothing restored", or with the error of the read or the save.
// Never creates a sidecar; in a dry run nothing is written.
FileOutcome undoReplacement(FileSystem& fileSystem, const ReplacedSidecar& record, bool dryRun);

// What a run driver needs to undo a run: the sidecars its records name, the last replaced first (so a
// sidecar replaced twice goes back step by step), and the operation that undoes them, to be called for
// each in that order. `records` are the run's records that were not cancelled, in the order made.
struct UndoPlan {
    std::vector<std::filesystem::path> sidecars;
    ProcessFile undo;
};
UndoPlan planUndo(FileSystem& fileSystem, std::vector<ReplacedSidecar> records, bool dryRun);

}  // namespace corvane
