// SPDX-License-Identifier: GPL-3.0-or-later
// What the platform does in a sidecar's folder, on real folders: access grants (direct access, the dry
// run's direct access, the prompt's answers, stored grants, also across processes, and what a run
// remembers of a folder), and the removal of temp files that killed writers abandoned.

#include "engine/RunScope.h"
#include "platform/FolderAccess.h"
#include "platform/SettingsGrantStore.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane {
namespace {

namespace fs = std::filesystem;

// Stands in for the person at the folder dialog: answers with a scripted folder (or declines) and
// remembers what it was asked.
struct ScriptedPrompt : FolderPrompt {
    std::optional<fs::path> answer;
    std::vector<FolderPromptRequest> asked;

    std::optional<fs::path> chooseFolder(const FolderPromptRequest& request) override {
        asked.push_back(request);
        return answer;
    }
};

class FolderAccessTest : public ::testing::Test {
protected:
    void SetUp() override { dir.writeFile("photos/IMG_0001.xmp", "<x/>"); }

    // Runs one request and ends the access, as the pipeline does.
    std::optional<fs::path> access(const fs::path& target, SidecarUse use = SidecarUse::readAndWrite) {
        auto granted = folderAccess.ensureSidecarAccess(target, use);
        if (granted) granted->stop();
        return granted ? std::optional(granted->scopedURL) : std::nullopt;
    }

    test::TempDir dir;
    fs::path photos = dir.path() / "photos", sidecar = photos / "IMG_0001.xmp", missing = photos / "IMG_0002.xmp";
    test::FaultyFileSystem fileSystem;
    std::string ini = (dir.path() / "grants.ini").string();
    SettingsGrantStore grants{ini};
    ScriptedPrompt prompt;
    FolderAccess folderAccess{fileSystem, grants, prompt};
    DiagnosticsCapture capture;
};

TEST_F(FolderAccessTest, WhatCanBeUsedIsUsedDirectlyWithoutAPrompt) {
    EXPECT_EQ(access(sidecar), sidecar);
    EXPECT_EQ(access(missing), missing) << "a missing sidecar in a folder that may be written";
    grants.setData(grantKey(photos), (dir.path() / "removed").string());
    EXPECT_EQ(access(sidecar), sidecar) << "a grant whose folder is gone is passed over";
    // A dry run writes nothing: a folder that cannot be written (an archive, a read-only mount) needs no
    // prompt that picking could not answer anyway. Writing still asks.
    fileSystem.denyAccessBelow(photos, /*readable=*/true);
    EXPECT_EQ(access(sidecar, SidecarUse::readOnly), sidecar);
    EXPECT_EQ(access(missing, SidecarUse::readOnly), missing);
    EXPECT_FALSE(access(sidecar)) << "declined";
    EXPECT_EQ(prompt.asked.size(), 1u);
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(FolderAccessTest, TheChosenFolderIsGrantedAndRemembered) {
    fileSystem.denyAccessBelow(photos);
    prompt.answer = photos;
    EXPECT_EQ(access(sidecar), sidecar);
    ASSERT_EQ(prompt.asked.size(), 1u);
    EXPECT_EQ(prompt.asked[0].message,
              "This app needs access to the folder containing your XMP sidecar so it can read and update it.");
    EXPECT_EQ(prompt.asked[0].confirmTitle, "Allow");
    EXPECT_EQ(prompt.asked[0].startFolder, photos);
    EXPECT_EQ(grants.dataForKey("xmpBookmark::" + photos.string()), photos.string());
    EXPECT_EQ(access(sidecar), sidecar) << "the stored grant serves the next request, unasked";

    const fs::path other = dir.writeFile("elsewhere/notes.txt", "").parent_path();
    prompt.answer = other;
    EXPECT_EQ(access(missing), other / "IMG_0002.xmp") << "a stored grant without the sidecar falls through to the prompt";
    EXPECT_EQ(grants.dataForKey(grantKey(other)), other.string()) << "another folder is granted under its own key";
    prompt.answer = dir.path() / "vanished";
    EXPECT_FALSE(access(missing));
    EXPECT_EQ(prompt.asked.size(), 3u);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[DEBUG] Failed creating bookmark for folder: “" +
                                                         (dir.path() / "vanished").string() + "” is not a folder"}));
}

// During a run the folder's grant is looked up once (a grant stored meanwhile by another process waits
// for the next run), but a grant the user gives in the middle of the run serves the folder's next files.
TEST_F(FolderAccessTest, ARunLooksTheFolderUpOnceAndUsesAGrantGivenMeanwhile) {
    fileSystem.denyAccessBelow(photos);
    dir.writeFile("photos/IMG_0002.xmp", "<x/>");
    RunScope::begin();
    EXPECT_FALSE(access(sidecar)) << "declined";
    SettingsGrantStore(ini).setData(grantKey(photos), photos.string());
    EXPECT_FALSE(access(sidecar)) << "declined again: the stored grant is not looked up again";
    prompt.answer = photos;
    EXPECT_EQ(access(sidecar), sidecar);
    prompt.answer.reset();
    EXPECT_EQ(access(missing), missing) << "the grant given serves the next file";
    RunScope::end();
    EXPECT_EQ(prompt.asked.size(), 3u);
}

TEST(GrantKey, IsTheStandardisedFolderPath) {
    EXPECT_EQ(grantKey("/Volumes/Archive/./2024/../2024/"), "xmpBookmark::/Volumes/Archive/2024");
}

// Another process stores grants while this one does, after this one's store has looked keys up:
// nothing is lost, and this store sees every grant stored since its first lookup.
TEST_F(FolderAccessTest, GrantsStoredByAnotherProcessMeanwhileAreAllFound) {
    EXPECT_EQ(grants.dataForKey("xmpBookmark::/child/0"), std::nullopt);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    std::optional<SettingsGrantStore> own;  // the child's own store, as another process has
    if (child == 0) own.emplace(ini);
    for (int i = 0; i < 40; ++i) {
        const std::string folder = (child == 0 ? "/child/" : "/parent/") + std::to_string(i);
        if (!(own ? *own : grants).setData("xmpBookmark::" + folder, folder) && child == 0) ::_exit(1);
    }
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const std::string who : {"/child/", "/parent/"})
        for (int i = 0; i < 40; ++i) EXPECT_EQ(grants.dataForKey("xmpBookmark::" + who + std::to_string(i)), who + std::to_string(i));
}

// A writer killed between creating its unique file and renaming it leaves that file behind. An atomic
// write into the folder removes every such abandoned file, but never the unique file of a writer still
// at work (it holds a lock on its file until the rename) and never a file of another form. During a
// run the folder is cleaned once, before its first write, not listed again for every file.
TEST_F(FolderAccessTest, TheFirstAtomicWriteOfARunRemovesAbandonedUniqueFilesOnly) {
    const auto destination = photos / ".IMG_0001.xmp.tmp";
    const auto abandoned = photos / "..IMG_0001.xmp.tmp.Ab12Cd";
    test::writeText(abandoned, "half a docu");                                  // its writer was killed
    test::writeText(photos / "..IMG_0001.xmp.tmp.Xy34Zw", "in progress");   // its writer is still at work
    test::writeText(photos / "..IMG_0002.xmp.tmp.Ab12Cd", "another file");  // killed, for another destination
    test::writeText(photos / "..IMG_0001.xmp.tmp.toolong", "not a unique file name");
    test::writeText(photos / ".bashrc.backup", "a user's hidden file");     // "." + name + "." + six characters
    const int working = ::open((photos / "..IMG_0001.xmp.tmp.Xy34Zw").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(working, 0);
    ASSERT_EQ(::flock(working, LOCK_EX), 0);

    RunScope::begin();
    ASSERT_TRUE(fileSystem.writeTextAtomically(destination, "the new text"));
    ::close(working);
    EXPECT_EQ(test::readText(destination), "the new text");
    EXPECT_EQ(test::folderEntries(photos), (std::vector<std::string>{"..IMG_0001.xmp.tmp.Xy34Zw", "..IMG_0001.xmp.tmp.toolong",
                                                                   ".IMG_0001.xmp.tmp", ".bashrc.backup", "IMG_0001.xmp"}));
    test::writeText(abandoned, "left by a killed writer");
    ASSERT_TRUE(fileSystem.writeTextAtomically(photos / ".IMG_0002.xmp.tmp", "second"));
    EXPECT_TRUE(std::filesystem::exists(abandoned)) << "the folder is not listed again in the same run";
    RunScope::end();

    RunScope::begin();
    ASSERT_TRUE(fileSystem.writeTextAtomically(destination, "next run"));
    EXPECT_FALSE(std::filesystem::exists(abandoned)) << "the next run cleans the folder again";
    RunScope::end();
}

}  // namespace
}  // namespace corvane
