// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SafeSave.h"
#include "engine/SidecarGPS.h"
#include "engine/XmpXml.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane {
namespace {

using namespace test;
using Names = std::vector<std::string>;

class SafeSave : public ::testing::Test {
protected:
    void SetUp() override {
        writeText(sidecar, original);
        fileSystem.reportCapacity(104857600);  // exactly the least a save needs
    }

    Status save(const std::string& text = sidecarXml(canonicalSidecar)) {
        const auto opened = fileSystem.openFile(sidecar, maximumSidecarSize, FileSystem::FileUse::write);
        if (!opened) return opened.error();
        return saveXmpSafely(fileSystem, XMPXML::load(text).value(), *opened.value());
    }

    // Saves in a child process run as an unprivileged user (root passes every permission check), the
    // folder's mode set to `mode` meanwhile: whether it saved, or failed with `error` when one is given.
    bool saveUnprivileged(mode_t mode, const std::string& error = "") {
        ::chmod(dir.path().c_str(), mode);
        if (const pid_t child = ::fork(); child == 0) {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
            const Status saved = save();
            ::_exit(error.empty() ? !saved.ok() : saved.ok() || saved.error().message != error);
        }
        int status = 0;
        ::wait(&status);
        ::chmod(dir.path().c_str(), 0755);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    TempDir dir;
    FaultyFileSystem fileSystem;
    const std::filesystem::path sidecar = dir.path() / "IMG_0001.xmp";
    const std::filesystem::path stale = dir.path() / ".IMG_0001.xmp.tmp";
    const std::string original = sidecarXml(letterlessSidecar);
};

TEST_F(SafeSave, ExactlyOneHundredMebibytesFreePassesAndRemovesAStaleTemporaryFile) {
    DiagnosticsCapture capture;
    const auto opened = fileSystem.openFile(sidecar, maximumSidecarSize, FileSystem::FileUse::write);
    writeText(stale, "half a document from a crash");  // after the opening, which removes such files too
    ASSERT_TRUE(saveXmpSafely(fileSystem, XMPXML::load(sidecarXml(canonicalSidecar)).value(), *opened.value()).ok());
    EXPECT_EQ(folderEntries(dir.path()), Names{"IMG_0001.xmp"});
    EXPECT_NE(readText(sidecar).find("<exif:GPSLatitude>37.77490000N</exif:GPSLatitude>"), std::string::npos);
    EXPECT_EQ(capture.lines().front(), "[DEBUG] Disk space check passed: 100MB available");
    EXPECT_EQ(capture.lines().back(), "[DEBUG] Successfully saved XMP: IMG_0001.xmp");
}

TEST_F(SafeSave, TooLittleSpaceTouchesNothing) {
    const std::pair<std::optional<uint64_t>, std::string> cases[] = {
        {104857599, "Insufficient disk space. Available: 99MB, Required: 100MB"},
        {std::nullopt, "Insufficient disk space. Available: 0MB, Required: 100MB"},  // the volume does not say
    };
    for (const auto& [capacity, message] : cases) {
        fileSystem.reportCapacity(capacity);
        DiagnosticsCapture capture;
        EXPECT_EQ(save().error(), (Error{"DiskSpace", 1, message}));
        EXPECT_EQ(capture.lines(), Names{});
        EXPECT_EQ(readText(sidecar), original);
        EXPECT_EQ(folderEntries(dir.path()), Names{"IMG_0001.xmp"});
    }
}

TEST_F(SafeSave, AFailingFreeSpaceQueryKeepsTheOldSidecar) {
    fileSystem.fail(FaultyFileSystem::Failing::capacityQuery);
    DiagnosticsCapture capture;
    EXPECT_EQ(save().error().message, "Cannot read the free space: I/O error");
    EXPECT_EQ(readText(sidecar), original);
    EXPECT_EQ(capture.lines(), Names{"[DEBUG] Failed to check disk space: Cannot read the free space: I/O error"});
}

TEST_F(SafeSave, InvalidTemporaryFileLeavesTheSidecarAsItWasAndNothingBeside) {
    const std::string invalidRefs = "Temp file contains invalid GPS hemisphere references";
    const std::tuple<std::string, int, std::string> cases[] = {
        // 8 bytes of markup and a line break: 99 bytes are too few, 100 pass the size check.
        {"<a>" + std::string(91, 'x') + "</a>", 3, "Temp file too small (99 bytes), likely corrupted"},
        {"<a>" + std::string(92, 'x') + "</a>", 5, "Temp file missing required XMP structure (rdf:Description)"},
        {sidecarXml({std::nullopt, "122.41940000W", "N", "W"}), 6, "Temp file missing expected GPS coordinates"},
        {sidecarXml({"37.77490000N", std::nullopt, "N", "W"}), 6, "Temp file missing expected GPS coordinates"},
        {sidecarXml({"north-ish", "122.41940000W", "N", "W"}), 7, "Temp file contains unparseable GPS coordinates"},
        {sidecarXml({"37.77490000N", "122.41940000W", "N", std::nullopt}), 8, invalidRefs},
        {sidecarXml({"37.77490000N", "122.41940000W", "E", "W"}), 8, invalidRefs},  // a latitude ref on the wrong axis
    };
    for (const auto& [document, code, message] : cases) {
        EXPECT_EQ(save(document).error(), (Error{"Validation", code, message}));
        EXPECT_EQ(readText(sidecar), original);
        EXPECT_EQ(folderEntries(dir.path()), Names{"IMG_0001.xmp"});
    }
}

// The rewritten sidecar is a new file: it takes the old one's owner and group, and its extended
// attributes, among them an access ACL. (The fault-injection test sees the permission bits kept.)
TEST_F(SafeSave, TheNewSidecarKeepsTheOldOnesOwnerAndExtendedAttributes) {
    // An ACL (version 2, then entries of tag and permissions, and id) giving user 1234 read access:
    // user::rw-, user:1234:r--, group::r--, mask::r--, other::---.
    const uint32_t acl[] = {2, 0x00060001, 0xffffffff, 0x00040002, 1234, 0x00040004, 0xffffffff,
                            0x00040010, 0xffffffff, 0x00000020, 0xffffffff};
    ASSERT_EQ(::chown(sidecar.c_str(), 1234, 5678), 0);
    const bool withAttributes = ::setxattr(sidecar.c_str(), "user.label", "kept", 4, 0) == 0 &&
                                ::setxattr(sidecar.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) == 0;
    struct stat before {}, after {};
    ::stat(sidecar.c_str(), &before);
    ASSERT_TRUE(save().ok());
    ::stat(sidecar.c_str(), &after);
    EXPECT_EQ(std::tuple(after.st_mode, after.st_uid, after.st_gid), std::tuple(before.st_mode, 1234u, 5678u));
    if (!withAttributes) return;  // a volume without extended attributes
    char label[8] = {};
    uint32_t copied[16] = {};
    EXPECT_TRUE(::getxattr(sidecar.c_str(), "user.label", label, sizeof label) == 4 && label == std::string("kept"));
    EXPECT_TRUE(::getxattr(sidecar.c_str(), "system.posix_acl_access", copied, sizeof copied) == sizeof acl &&
                std::memcmp(copied, acl, sizeof acl) == 0);
}

TEST_F(SafeSave, MissingEmptyOrUnreadableTemporaryFileFailsValidation) {
    EXPECT_EQ(validateTempFile(fileSystem, stale, 0).error(), (Error{"Validation", 1, "Temp file was not created"}));
    writeText(stale, "");
    EXPECT_EQ(validateTempFile(fileSystem, stale, 0).error(), (Error{"Validation", 2, "Temp file is empty"}));
    writeText(stale, "<open>" + std::string(200, 'x'));
    EXPECT_EQ(validateTempFile(fileSystem, stale, 0).error().message.rfind("Temp file is not valid XML: XML parse error: ", 0), 0u);
    // A file above the sidecar limit is refused by its size before anything of it is read (sparse here).
    std::filesystem::resize_file(stale, maximumSidecarSize + 1);
    EXPECT_EQ(validateTempFile(fileSystem, stale, 0).error().message,
              "Temp file is not valid XML: XMP sidecar too large (" + std::to_string(maximumSidecarSize + 1) + " bytes)");
}

TEST_F(SafeSave, SizeChangeOfMoreThanHalfWarnsAndStillPasses) {
    const std::string document = sidecarXml(canonicalSidecar);  // under 800 bytes
    const std::tuple<int64_t, int64_t, std::string> cases[] = {
        {2000, 3000, ""}, {2000, 1000, ""}, {0, 800, ""},  // exactly half, or no previous sidecar: no warning
        {2000, 800, "[DEBUG] Warning: Significant size change - Original: 2000 bytes, New: 800 bytes (60% change)"},
    };
    for (const auto& [previous, size, warning] : cases) {
        // Line breaks after the document make the file exactly this long.
        writeText(stale, document + std::string(static_cast<size_t>(size) - document.size(), '\n'));
        DiagnosticsCapture capture;
        ASSERT_TRUE(validateTempFile(fileSystem, stale, previous).ok());
        EXPECT_EQ(capture.lines().at(0), warning.empty() ? "[DEBUG] File size validation passed: " + std::to_string(size) + " bytes" : warning);
        EXPECT_EQ(capture.lines().back(), "[DEBUG] All temp file validations passed successfully");
    }
}

TEST_F(SafeSave, ReadOnlyFolderFailsNamingTheCauseAndAnUnlistableOneIsSavedInto) {
    EXPECT_TRUE(saveUnprivileged(0555, "Cannot write in the folder “" + dir.path().string() + "”: Permission denied"));
    EXPECT_EQ(readText(sidecar), original);
    // Write and search permission without read: only the folder's sync cannot open it.
    EXPECT_TRUE(saveUnprivileged(0333));
    EXPECT_NE(readText(sidecar).find("<exif:GPSLatitude>37.77490000N</exif:GPSLatitude>"), std::string::npos);
    EXPECT_EQ(folderEntries(dir.path()), Names{"IMG_0001.xmp"});
}

}  // namespace
}  // namespace corvane
