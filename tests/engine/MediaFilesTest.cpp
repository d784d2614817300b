#include "tests/support/DiagnosticsCapture.h"
#include "engine/MediaFiles.h"
#include "platform/PosixFileSystem.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using test::TempDir;

Lines sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> names(const std::vector<fs::path>& files, const fs::path& base) {
    std::vector<std::string> out;
    for (const auto& file : files) out.push_back(file.lexically_relative(base).string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(IsSupportedMediaFile, LowerCasedExtensionOnly) {
    struct Case {
        const char* path;
        bool supported;
    };
    const Case cases[] = {
        {"/photos/IMG_0001.HEIC", true}, {"a.Dng", true},          {"/x/b.heif", true},     {"c.HeIf", true},
        {"archive.tar.heic", true},      {"/photos/a.jpg", false}, {"a.heics", false},      {"README", false},
        {"/photos.heic/README", false},  {"a.heic.jpg", false},    {"a.", false},           {"a.h\xC3\xA9ic", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        DiagnosticsCapture capture;
        EXPECT_EQ(isSupportedMediaFile(c.path), c.supported);
        const std::string name = fs::path(c.path).filename().string();
        EXPECT_EQ(capture.lines(), c.supported ? Lines{} : Lines{"[DEBUG] " + name + " is not a supported media file"});
    }
}

TEST(IsSupportedMediaFile, DoesNotLookAtTheFileSystem) {
    // A directory named like a media file and a file that does not exist are judged by name alone.
    TempDir dir;
    fs::create_directory(dir.path() / "folder.heic");
    EXPECT_TRUE(isSupportedMediaFile(dir.path() / "folder.heic"));
    EXPECT_TRUE(isSupportedMediaFile(dir.path() / "missing.DNG"));
}

// A library export: media at several levels, sidecars and other files beside them, a hidden folder,
// hidden files, a folder named like a media file, a pipe, and a link that points back up the tree.
class MediaTree : public ::testing::Test {
protected:
    void SetUp() override {
        root = dir.path() / "Export";
        for (const char* file : {"IMG_0001.HEIC", "IMG_0001.xmp", "a.Dng", "notes.txt", "2024/b.heif", "2024/b.xmp",
                                 "2024/June/c.heic", "2024/June/README", ".thumbnails/d.heic", "2024/.e.heic",
                                 "2024/June/.hidden/f.dng"})
            dir.writeFile(fs::path("Export") / file, "x");
        fs::create_directories(root / "empty");
        fs::create_directories(root / "album.heic");  // a folder, not a media file
        ASSERT_EQ(::mkfifo((root / "pipe.heic").c_str(), 0600), 0);
        fs::create_directory_symlink("..", root / "2024" / "loop");
        fs::create_symlink("nowhere.heic", root / "dangling.heic");
    }

    TempDir dir;
    fs::path root;
    const PosixFileSystem& fileSystem = PosixFileSystem::shared();
};

TEST_F(MediaTree, WalkFindsVisibleMediaAndReportsOtherFiles) {
    DiagnosticsCapture capture;
    const auto files = enumerateMediaFiles(fileSystem, root);
    EXPECT_EQ(names(files, root),
              (std::vector<std::string>{"2024/June/c.heic", "2024/b.heif", "IMG_0001.HEIC", "a.Dng"}));
    Lines lines = capture.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "[DEBUG] Enumerated 4 media files under " + root.string());
    lines.pop_back();
    // Unsupported regular files one line each; hidden entries, folders, the pipe and links to nothing
    // silently.
    EXPECT_EQ(sorted(lines), (Lines{"[DEBUG] IMG_0001.xmp is not a supported media file",
                                    "[DEBUG] README is not a supported media file",
                                    "[DEBUG] b.xmp is not a supported media file",
                                    "[DEBUG] notes.txt is not a supported media file"}));
    // Every file is a path below the folder as given.
    for (const auto& file : files) EXPECT_EQ(file.string().rfind(root.string() + "/", 0), 0u) << file;
}

TEST_F(MediaTree, FolderWithoutMediaFindsNothing) {
    DiagnosticsCapture capture;
    EXPECT_TRUE(enumerateMediaFiles(fileSystem, root / "empty").empty());
    EXPECT_EQ(capture.lines(), Lines{"[DEBUG] Enumerated 0 media files under " + (root / "empty").string()});
}

TEST_F(MediaTree, CountLineNamesTheFullPathOfARelativeFolder) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(root);
    DiagnosticsCapture capture;
    const auto files = enumerateMediaFiles(fileSystem, "empty/");
    std::filesystem::current_path(previous);
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(capture.lines(), Lines{"[DEBUG] Enumerated 0 media files under " + (root / "empty").string()});
}

TEST_F(MediaTree, FolderThatCannotBeWalkedIsSilentlyEmpty) {
    DiagnosticsCapture capture;
    EXPECT_TRUE(enumerateMediaFiles(fileSystem, root / "missing").empty());
    EXPECT_TRUE(enumerateMediaFiles(fileSystem, root / "a.Dng").empty());
    EXPECT_EQ(capture.lines(), Lines{});
}

TEST_F(MediaTree, DroppedItemsExpandInOrderWithoutDeduplication) {
    const fs::path folder = root / "2024";
    DiagnosticsCapture capture;
    const auto files = expandDroppedItems(
        fileSystem, {root / "a.Dng", folder, root / "2024/b.heif", root / "a.Dng", root / "notes.txt",
                     root / "IMG_9999.HEIC", root / "gone.jpg", root / "2024/.e.heic", root / "missing-folder"});
    ASSERT_EQ(files.size(), 7u);
    EXPECT_EQ(files[0], root / "a.Dng");
    // The folder's files, in the walk's order (the system's), where the folder stood.
    EXPECT_EQ(names({files[1], files[2]}, folder), (std::vector<std::string>{"June/c.heic", "b.heif"}));
    // A file dropped again, or beside its folder, is queued again; a missing supported file and a
    // hidden file dropped directly are queued too.
    EXPECT_EQ((std::vector<fs::path>(files.begin() + 3, files.end())),
              (std::vector<fs::path>{root / "2024/b.heif", root / "a.Dng", root / "IMG_9999.HEIC",
                                     root / "2024/.e.heic"}));
    const Lines lines = capture.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[DEBUG] Enumerated 2 media files under " + folder.string()),
              lines.end());
    for (const char* name : {"notes.txt", "gone.jpg", "missing-folder", "b.xmp", "README"})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "[DEBUG] " + std::string(name) + " is not a supported media file"),
                  1)
            << name;
}

TEST_F(MediaTree, DroppingOnlyUnsupportedFilesYieldsNothing) {
    DiagnosticsCapture capture;
    EXPECT_TRUE(expandDroppedItems(fileSystem, {root / "a.jpg", root / "b.txt"}).empty());
    EXPECT_EQ(capture.lines(), (Lines{"[DEBUG] a.jpg is not a supported media file",
                                      "[DEBUG] b.txt is not a supported media file"}));
}

TEST_F(MediaTree, DroppedFolderLinkIsWalked) {
    fs::create_directory_symlink(root / "2024", dir.path() / "link-to-2024");
    const auto files = enumerateMediaFiles(fileSystem, dir.path() / "link-to-2024");
    EXPECT_EQ(names(files, dir.path() / "link-to-2024"), (std::vector<std::string>{"June/c.heic", "b.heif"}));
}

TEST(MediaWalk, DeepTreeDoesNotRunOutOfFileDescriptors) {
    // A walk that keeps one folder open per level stops early once the descriptors run out.
    TempDir dir;
    fs::path deep = dir.path();
    for (int level = 0; level < 80; ++level) deep /= "d";
    fs::create_directories(deep);
    dir.writeFile(fs::relative(deep, dir.path()) / "deep.heic", "x");
    dir.writeFile("z.heic", "x");

    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &previous), 0);
    rlimit tight = previous;
    tight.rlim_cur = 48;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const auto files = enumerateMediaFiles(PosixFileSystem::shared(), dir.path());
    ::setrlimit(RLIMIT_NOFILE, &previous);
    EXPECT_EQ(files.size(), 2u);
}

}  // namespace
}  // namespace corvane
