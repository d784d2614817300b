// SPDX-License-Identifier: GPL-3.0-or-later
// Undoing one replaced sidecar that is no longer there: the undo says so and creates nothing, whether
// the sidecar was removed or its folder went with it.

#include "engine/RunUndo.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace corvane::test {
namespace {

TEST(RunUndo, ASidecarRemovedSinceTheRunIsNotRestored) {
    const TempDir dir;
    FaultyFileSystem fileSystem;
    for (const auto& path : {dir.path() / "IMG_0001.xmp", dir.path() / "gone" / "IMG_0002.xmp"}) {
        SCOPED_TRACE(path.string());
        const ReplacedSidecar record{path, "<x:xmpmeta/>", 0644, 0, 0, 12, {}};
        for (const bool dryRun : {true, false}) {
            const FileOutcome undone = undoReplacement(fileSystem, record, dryRun);
            EXPECT_EQ(undone.result, ProcessingResult{outcome::Failed{"no longer exists; nothing restored"}});
            EXPECT_FALSE(std::filesystem::exists(path));
        }
    }
}

}  // namespace
}  // namespace corvane::test
