// SPDX-License-Identifier: GPL-3.0-or-later
// What the platform does in a sidecar's folder, on real folders: access grants (direct access, the
// prompt's answers, stored grants, also across processes, and what a run remembers of a folder), and the
// removal of temporary files that killed writers abandoned.

#include "engine/RunScope.h"
#include "platform/system/FolderAccess.h"
#include "platform/system/SettingsGrantStore.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
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

    // Runs one request and ends the access, as the pipeline does; a refusal's message goes to `refusal`.
    std::optional<fs::path> access(const fs::path& target) {
        auto granted = folderAccess.ensureSidecarAccess(target);
        if (granted) granted.value().stop();
        else refusal = granted.error().message;
        return granted ? std::optional(granted.value().scopedURL) : std::nullopt;
    }

    test::TempDir dir;
    fs::path photos = dir.path() / "photos", sidecar = photos / "IMG_0001.xmp", missing = photos / "IMG_0002.xmp";
    test::FaultyFileSystem fileSystem;
    std::string ini = (dir.path() / "grants.ini").string();
    SettingsGrantStore grants{ini};
    ScriptedPrompt prompt;
    FolderAccess folderAccess{fileSystem, grants, prompt};
    DiagnosticsCapture capture;
    std::string refusal;
};

TEST_F(FolderAccessTest, WhatCanBeUsedIsUsedDirectlyWithoutAPrompt) {
    EXPECT_EQ(access(sidecar), sidecar);
    EXPECT_EQ(access(missing), missing) << "a missing sidecar in a folder that may be written";
    grants.setData(grantKey(photos), (dir.path() / "removed").string());
    EXPECT_EQ(access(sidecar), sidecar) << "a grant whose folder is gone is passed over";
    // A folder that cannot be written (an archive, a read-only mount) needs no prompt that picking could
    // not answer anyway: what can be read is read, and only a file that needs a write fails.
    fileSystem.denyAccessBelow(photos, /*readable=*/true);
    EXPECT_EQ(access(sidecar), sidecar);
    EXPECT_EQ(access(missing), missing);
    fileSystem.denyAccessBelow(photos);
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

    // A sidecar of the same name in another folder belongs to another photo: this image's position must
    // never reach it. The same folder by another path is the same folder.
    const fs::path other = dir.writeFile("elsewhere/IMG_0002.xmp", "<x/>").parent_path();
    prompt.answer = other;
    EXPECT_FALSE(access(missing));
    EXPECT_EQ(refusal, "The chosen folder “" + other.string() + "” is not the XMP sidecar's folder “" + photos.string() +
                           "”; nothing was read or written there");
    EXPECT_EQ(grants.dataForKey(grantKey(other)), std::nullopt);
    fs::create_directory_symlink(photos, dir.path() / "link");
    prompt.answer = dir.path() / "link";
    EXPECT_EQ(access(missing), dir.path() / "link" / "IMG_0002.xmp");

    const fs::path vanished = dir.path() / "vanished";
    prompt.answer = vanished;
    EXPECT_FALSE(access(vanished / "IMG_0003.xmp"));
    EXPECT_EQ(refusal, "Permission denied for XMP sidecar");
    EXPECT_EQ(prompt.asked.size(), 4u);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[DEBUG] Failed creating bookmark for folder: “" +
                                                         vanished.string() + "” is not a folder"}));
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

// A writer killed in the middle of a replacement leaves its temporary file behind. The first file a run
// opens for writing in a folder removes every such abandoned file there, but never the temporary file
// of a writer still at work (it holds a lock on it) and never a file of another form. During a run the
// folder is cleaned once, not listed again for every file.
TEST_F(FolderAccessTest, TheFirstFileOpenedForWritingInARunRemovesAbandonedTemporaryFilesOnly) {
    const auto open = [&] { return fileSystem.openFile(sidecar, 1000, FileSystem::FileUse::write).ok(); };
    const auto abandoned = photos / ".IMG_0001.xmp.tmp";
    test::writeText(abandoned, "half a docu");                            // its writer was killed
    test::writeText(photos / ".IMG_0002.xmp.tmp", "in progress");         // its writer is still at work
    test::writeText(photos / ".IMG_0003.XMP.tmp", "killed as well");      // of a sidecar named in capitals
    test::writeText(photos / ".session.tmp", "a user's hidden file, not of this form");
    const int working = ::open((photos / ".IMG_0002.xmp.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(working, 0);
    ASSERT_EQ(::flock(working, LOCK_EX), 0);

    RunScope::begin();
    ASSERT_TRUE(open());
    ::close(working);
    EXPECT_EQ(test::folderEntries(photos), (std::vector<std::string>{".IMG_0002.xmp.tmp", ".session.tmp", "IMG_0001.xmp"}));
    test::writeText(abandoned, "left by a killed writer");
    ASSERT_TRUE(open());
    EXPECT_TRUE(std::filesystem::exists(abandoned)) << "the folder is not listed again in the same run";
    RunScope::end();

    RunScope::begin();
    ASSERT_TRUE(open());
    EXPECT_FALSE(std::filesystem::exists(abandoned)) << "the next run cleans the folder again";
    RunScope::end();
}

// Another program saves the file after it was read, at the last moment before it is replaced (the
// check runs just before): as a photo editor does (a new file renamed over it), or in place within the
// clock's resolution (same size and modification time, other bytes). Its save stays.
TEST_F(FolderAccessTest, AFileSavedByAnotherProgramMeanwhileIsNotReplaced) {
    const std::pair<std::function<void()>, std::string> saves[] = {
        {[&] {
             test::writeText(photos / "editor.tmp", "<x>edited</x>");
             fs::rename(photos / "editor.tmp", sidecar);
         }, "<x>edited</x>"},
        {[&] {
             struct stat before {};
             ::stat(sidecar.c_str(), &before);
             std::ofstream(sidecar, std::ios::in | std::ios::binary) << "<y";
             const timespec times[2] = {before.st_atim, before.st_mtim};
             ::utimensat(AT_FDCWD, sidecar.c_str(), times, 0);
         }, "<y>read</x>"},
    };
    for (const auto& [save, saved] : saves) {
        test::writeText(sidecar, "<x>read</x>");
        const auto opened = fileSystem.openFile(sidecar, 1000, FileSystem::FileUse::write);
        const Status replaced = fileSystem.replaceFile(*opened.value(), photos / ".IMG_0001.xmp.tmp", "<x>new</x>", opened.value()->attributes(), [&] {
            save();
            return Status{};
        });
        EXPECT_TRUE(!replaced && replaced.error().isFileChanged());
        EXPECT_EQ(test::readText(sidecar), saved);
        EXPECT_EQ(test::folderEntries(photos), std::vector<std::string>{"IMG_0001.xmp"});
    }
}

// A run learns in the first folder it writes what a new file gets there (owner, group, permission bits)
// and sets only what differs from the old file. A folder with other rules (set-group-ID, giving new
// files its group) is learned anew, and sidecars of other permission bits in one folder each keep
// theirs, the umask notwithstanding.
TEST_F(FolderAccessTest, EveryReplacedFileKeepsItsOwnerGroupAndModeWhateverTheFolderGivesNewFiles) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving files to another group needs root";
    const fs::path shared = dir.path() / "shared";
    fs::create_directory(shared);
    ASSERT_EQ(::chown(shared.c_str(), ::geteuid(), 4321), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 02775), 0);  // new files here get group 4321
    const mode_t umask = ::umask(022);
    const std::tuple<fs::path, mode_t, gid_t> files[] = {
        {photos / "IMG_0001.xmp", 0664, ::getegid()}, {photos / "IMG_0002.xmp", 0644, ::getegid()},
        {shared / "IMG_0003.xmp", 0644, ::getegid()}, {shared / "IMG_0004.xmp", 0600, 4321},
        {shared / "IMG_0005.xmp", 0640, ::getegid()},
    };
    RunScope::begin();
    for (const auto& [path, mode, group] : files) {
        test::writeText(path, "<x>read</x>");
        ASSERT_EQ(::chown(path.c_str(), ::geteuid(), group), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        const auto opened = fileSystem.openFile(path, 1000, FileSystem::FileUse::write);
        ASSERT_TRUE(opened);
        EXPECT_TRUE(fileSystem.replaceFile(*opened.value(), path.parent_path() / ("." + path.filename().string() + ".tmp"),
                                           "<x>new</x>", opened.value()->attributes(), [] { return Status{}; }));
        struct stat now {};
        ::stat(path.c_str(), &now);
        EXPECT_EQ(std::tuple(now.st_mode & 07777, now.st_uid, now.st_gid), std::tuple(mode, ::geteuid(), group)) << path;
        EXPECT_EQ(test::readText(path), "<x>new</x>");
    }
    fileSystem.syncPendingFolders();
    RunScope::end();
    ::umask(umask);
}

}  // namespace
}  // namespace corvane
