// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MediaFiles.h"
#include "platform/image/ImageMetadataReader.h"
#include "platform/system/PosixFileSystem.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines sorted(Lines lines) { return std::sort(lines.begin(), lines.end()), lines; }

TEST(IsSupportedMediaFile, LowerCasedExtensionOnly) {
    for (const char* path : {"/p/IMG_0001.HEIC", "a.Dng", "c.HeIf", "DSC00001.HIF", "archive.tar.heic", "/nowhere/missing.DNG"})
        EXPECT_TRUE(isSupportedMediaFile(path)) << path;
    for (const char* path : {"a.heics", "a.hifx", "/photos.heic/README", "a.heic.jpg", "a.", "a.h\xC3\xA9ic"})
        EXPECT_FALSE(isSupportedMediaFile(path)) << path;
}

// A library export: media at several levels, sidecars and other files beside them, hidden entries, a
// folder named like a media file, a pipe, a dangling link and a link that points back up the tree.
class MediaTree : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* file : {"IMG_0001.HEIC", "IMG_0001.xmp", "a.Dng", "2024/b.heif", "2024/June/c.heic",
                                 "2024/June/README", ".thumbnails/d.heic", "2024/.e.heic", "2024/June/.hidden/f.dng"})
            dir.writeFile(fs::path("Export") / file, "x");
        for (const char* folder : {"empty", "album.heic"}) fs::create_directories(root / folder);
        ASSERT_EQ(::mkfifo((root / "pipe.heic").c_str(), 0600), 0);
        fs::create_directory_symlink("..", root / "2024" / "loop");
        fs::create_symlink("nowhere.heic", root / "dangling.heic");
    }
    Lines walked(const fs::path& folder) {
        Lines names;
        for (const auto& file : enumerateMediaFiles(PosixFileSystem::shared(), folder))
            names.push_back(file.lexically_relative(root).string());
        return sorted(names);
    }

    test::TempDir dir;
    const fs::path root = dir.path() / "Export";
};

TEST_F(MediaTree, WalkFindsVisibleMediaAndReportsOtherRegularFiles) {
    DiagnosticsCapture capture;
    EXPECT_EQ(walked(root), (Lines{"2024/June/c.heic", "2024/b.heif", "IMG_0001.HEIC", "a.Dng"}));
    Lines lines = capture.lines();
    EXPECT_EQ(lines.back(), "[DEBUG] Enumerated 4 media files under " + root.string());
    lines.pop_back();
    EXPECT_EQ(sorted(lines), (Lines{"[DEBUG] IMG_0001.xmp is not a supported media file",
                                    "[DEBUG] README is not a supported media file"}));
}

TEST_F(MediaTree, EmptyFolderCountsZeroUnderItsFullPathAndAnUnlistableOneIsReported) {
    const fs::path previous = fs::current_path();
    fs::current_path(root);
    DiagnosticsCapture capture;
    EXPECT_EQ(walked("empty/"), Lines{});
    fs::current_path(previous);
    EXPECT_EQ(walked(root / "missing"), Lines{});
    EXPECT_EQ(capture.lines(), (Lines{"[DEBUG] Enumerated 0 media files under " + (root / "empty").string(),
                                      "[DEBUG] Cannot list the folder “" + (root / "missing").string() + "”: No such file or directory"}));
}

TEST_F(MediaTree, DroppedItemsExpandInOrderWithoutDeduplication) {
    const fs::path link = dir.path() / "June";  // a dropped link to a folder is walked
    fs::create_directory_symlink(root / "2024/June", link);
    DiagnosticsCapture capture;
    EXPECT_EQ(expandDroppedItems(PosixFileSystem::shared(), {root / "a.Dng", link, root / "a.Dng", root / "notes.txt",
                                                             root / "IMG_9999.HEIC", root / "2024/.e.heic"}),
              (std::vector<fs::path>{root / "a.Dng", link / "c.heic", root / "a.Dng", root / "IMG_9999.HEIC", root / "2024/.e.heic"}));
    EXPECT_EQ(capture.lines(), (Lines{"[DEBUG] README is not a supported media file",
                                      "[DEBUG] Enumerated 1 media files under " + link.string(),
                                      "[DEBUG] notes.txt is not a supported media file"}));
}

// A tree deeper than a path can name (PATH_MAX): the walk reaches its bottom without running out of
// descriptors (a walk that keeps one folder open per level stops early), and the reader says why it
// cannot open the file found there.
TEST_F(MediaTree, TreeDeeperThanAPathCanNameIsWalkedToTheBottom) {
    const std::string name(100, 'd');  // 60 levels below each other, each entered by its name alone
    ASSERT_EQ(std::system(("bash -c 'cd " + root.string() + " && for level in $(seq 60); do mkdir " + name + " && cd -P " + name +
                           " || exit 1; done && touch deep.heic'").c_str()), 0);
    rlimit previous{};
    ::getrlimit(RLIMIT_NOFILE, &previous);
    const rlimit tight{48, previous.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const Lines found = walked(root);
    ::setrlimit(RLIMIT_NOFILE, &previous);
    ASSERT_EQ(std::system(("rm -rf " + (root / name).string()).c_str()), 0);  // rm walks by descriptors too
    ASSERT_EQ(found.size(), 5u);
    EXPECT_GT(found.back().size(), size_t{PATH_MAX});  // names sort after the others
    EXPECT_EQ(ImageMetadataReader().read(root / found.back())->failure(), "Cannot read image: File name too long");
}

}  // namespace
}  // namespace corvane
