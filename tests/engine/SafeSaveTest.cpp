#include "tests/support/DiagnosticsCapture.h"
#include "engine/SafeSave.h"
#include "engine/XmpXml.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane {
namespace {

using namespace test;

const std::string canonicalSidecar = sidecarXml({"37.77490000N", "122.41940000W", "N", "W"});

class SafeSave : public ::testing::Test {
protected:
    void SetUp() override {
        sidecar = dir.path() / "IMG_0001.xmp";
        writeText(sidecar, original);
        fileSystem.reportCapacity(requiredFreeSpace);
    }

    Status save(const std::string& text) {
        auto document = XMPXML::load(text);
        EXPECT_TRUE(document.ok()) << text;
        return saveXmpSafely(fileSystem, *document.value(), sidecar);
    }

    TempDir dir;
    FaultyFileSystem fileSystem;
    std::filesystem::path sidecar;
    const std::string original = sidecarXml({"37.7749", "122.4194", "N", "W"});
};

TEST_F(SafeSave, ReplacesTheSidecarAndLeavesNoTemporaryFile) {
    DiagnosticsCapture capture;
    ASSERT_TRUE(save(canonicalSidecar).ok());
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"IMG_0001.xmp"});
    EXPECT_NE(readText(sidecar).find("<exif:GPSLatitude>37.77490000N</exif:GPSLatitude>"), std::string::npos);
    EXPECT_EQ(capture.lines().back(), "[DEBUG] Successfully saved XMP: IMG_0001.xmp");
    EXPECT_EQ(capture.lines().front(), "[DEBUG] Disk space check passed: 100MB available");
}

TEST_F(SafeSave, KeepsEverythingElseTheDocumentHeld) {
    ASSERT_TRUE(save(canonicalSidecar).ok());
    const std::string saved = readText(sidecar);
    for (const char* kept : {"<?xpacket begin=", "<?xpacket end=\"w\"?>", "<!-- written by a photo library export -->",
                             "xmp:Rating=\"4\"", "x:xmptk=\"Test Writer 1.0\"", "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\""})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept;
    EXPECT_NE(saved.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
}

struct CapacityCase {
    const char* reason;
    std::optional<uint64_t> capacity;
    bool passes;
    std::string message;
};

TEST_F(SafeSave, NeedsOneHundredMebibytesFree) {
    const CapacityCase cases[] = {
        {"exactly the minimum passes", requiredFreeSpace, true, ""},
        {"one byte less fails, truncated to whole megabytes", requiredFreeSpace - 1, false,
         "Insufficient disk space. Available: 99MB, Required: 100MB"},
        {"a volume that reports nothing counts as empty", std::nullopt, false,
         "Insufficient disk space. Available: 0MB, Required: 100MB"},
    };
    for (const auto& c : cases) {
        writeText(sidecar, original);
        fileSystem.reportCapacity(c.capacity);
        const Status saved = save(canonicalSidecar);
        EXPECT_EQ(saved.ok(), c.passes) << c.reason;
        if (!c.passes) {
            EXPECT_EQ(saved.error(), (Error{"DiskSpace", 1, c.message})) << c.reason;
            EXPECT_EQ(readText(sidecar), original) << c.reason;
            EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"IMG_0001.xmp"}) << c.reason;
        }
    }
}

TEST_F(SafeSave, CapacityQueryFailurePassesThrough) {
    fileSystem.fail(FaultyFileSystem::Failing::capacityQuery);
    DiagnosticsCapture capture;
    const Status saved = save(canonicalSidecar);
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error().domain, "POSIX");
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"[DEBUG] Failed to check disk space: " + saved.error().message});
}

TEST_F(SafeSave, RemovesAStaleTemporaryFileFirst) {
    writeText(dir.path() / ".IMG_0001.xmp.tmp", "half a document from a crash");
    ASSERT_TRUE(save(canonicalSidecar).ok());
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"IMG_0001.xmp"});
}

struct ValidationCase {
    const char* reason;
    std::string document;
    int code;
    std::string message;
};

TEST_F(SafeSave, InvalidTemporaryFileLeavesTheSidecarAsItWas) {
    const std::string tiny = "<rdf:Description><exif:GPSLatitude>1N</exif:GPSLatitude></rdf:Description>";
    const size_t tinySize = XMPXML::serialize(*XMPXML::load(tiny).value()).size();
    ASSERT_LT(tinySize, 100u);
    const ValidationCase cases[] = {
        {"under 100 bytes is taken for corruption", tiny, 3,
         "Temp file too small (" + std::to_string(tinySize) + " bytes), likely corrupted"},
        {"no element for the GPS properties", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><x:Other>" + std::string(100, 'a') +
                                                  "</x:Other></x:xmpmeta>",
         5, "Temp file missing required XMP structure (rdf:Description)"},
        {"latitude missing", sidecarXml({std::nullopt, "122.41940000W", "N", "W"}), 6,
         "Temp file missing expected GPS coordinates"},
        {"longitude missing", sidecarXml({"37.77490000N", std::nullopt, "N", "W"}), 6,
         "Temp file missing expected GPS coordinates"},
        {"latitude unreadable", sidecarXml({"north-ish", "122.41940000W", "N", "W"}), 7,
         "Temp file contains unparseable GPS coordinates"},
        {"longitude reference missing", sidecarXml({"37.77490000N", "122.41940000W", "N", std::nullopt}), 8,
         "Temp file contains invalid GPS hemisphere references"},
        {"latitude reference on the wrong axis", sidecarXml({"37.77490000N", "122.41940000W", "E", "W"}), 8,
         "Temp file contains invalid GPS hemisphere references"},
    };
    for (const auto& c : cases) {
        writeText(sidecar, original);
        const Status saved = save(c.document);
        ASSERT_FALSE(saved.ok()) << c.reason;
        EXPECT_EQ(saved.error(), (Error{"Validation", c.code, c.message})) << c.reason;
        EXPECT_EQ(readText(sidecar), original) << c.reason;
        // The rejected file stays, hidden, until the next save of this sidecar removes it.
        EXPECT_TRUE(std::filesystem::exists(dir.path() / ".IMG_0001.xmp.tmp")) << c.reason;
    }
}

TEST_F(SafeSave, FailedWriteOrReplaceKeepsTheOldSidecar) {
    for (auto failing : {FaultyFileSystem::Failing::atomicWrite, FaultyFileSystem::Failing::replace}) {
        fileSystem.fail(failing);
        const Status saved = save(canonicalSidecar);
        ASSERT_FALSE(saved.ok());
        EXPECT_EQ(saved.error().domain, "POSIX");
        EXPECT_EQ(readText(sidecar), original);
    }
}

TEST_F(SafeSave, ReadOnlyFolderFailsClearlyAndChangesNothing) {
    // Root passes every permission check, so the save runs in a child process as an unprivileged user.
    ::chmod(dir.path().c_str(), 0555);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        const Status saved = save(canonicalSidecar);
        if (saved.ok()) ::_exit(1);
        ::_exit(saved.error().message.find("Permission denied") != std::string::npos ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the save succeeded, 2: the message does not name the cause";
    EXPECT_EQ(readText(sidecar), original);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"IMG_0001.xmp"});
}

TEST_F(SafeSave, FolderThatCanBeWrittenButNotListedIsSavedInto) {
    // Write and search permission without read: the new sidecar can be put in place, only the folder
    // cannot be opened to sync it. Run unprivileged in a child, as above.
    ::chmod(dir.path().c_str(), 0333);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        ::_exit(save(canonicalSidecar).ok() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the save reported a failure";
    EXPECT_NE(readText(sidecar).find("<exif:GPSLatitude>37.77490000N</exif:GPSLatitude>"), std::string::npos);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"IMG_0001.xmp"});
}

TEST_F(SafeSave, SidecarThatDidNotExistIsCreatedWithoutSizeWarning) {
    std::filesystem::remove(sidecar);
    DiagnosticsCapture capture;
    ASSERT_TRUE(save(canonicalSidecar).ok());
    EXPECT_TRUE(std::filesystem::exists(sidecar));
    for (const auto& line : capture.lines()) EXPECT_EQ(line.find("Significant size change"), std::string::npos) << line;
}

TEST_F(SafeSave, TooLittleSpaceTouchesNothingNotEvenAStaleTemporaryFile) {
    const auto stale = dir.path() / ".IMG_0001.xmp.tmp";
    writeText(stale, "half a document from a crash");
    fileSystem.reportCapacity(std::nullopt);
    DiagnosticsCapture capture;
    const Status saved = save(canonicalSidecar);
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error(), (Error{"DiskSpace", 1, "Insufficient disk space. Available: 0MB, Required: 100MB"}));
    EXPECT_EQ(readText(sidecar), original);
    EXPECT_EQ(readText(stale), "half a document from a crash");
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{".IMG_0001.xmp.tmp", "IMG_0001.xmp"}));
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(SafeSave, StaleTemporaryFileIsRemovedBeforeTheWrite) {
    // The write fails, so whatever happens to the stale file happens before it.
    writeText(dir.path() / ".IMG_0001.xmp.tmp", "half a document from a crash");
    fileSystem.fail(FaultyFileSystem::Failing::atomicWrite);
    ASSERT_FALSE(save(canonicalSidecar).ok());
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"IMG_0001.xmp"});
    EXPECT_EQ(readText(sidecar), original);
}

TEST_F(SafeSave, NinetyNineBytesAreTooFewAndOneHundredAreEnough) {
    // "<a>" + text + "</a>" and a line break: 8 bytes around the text.
    const std::string ninetyNine = "<a>" + std::string(91, 'x') + "</a>";
    ASSERT_EQ(XMPXML::serialize(*XMPXML::load(ninetyNine).value()).size(), 99u);
    const Status tooSmall = save(ninetyNine);
    ASSERT_FALSE(tooSmall.ok());
    EXPECT_EQ(tooSmall.error(), (Error{"Validation", 3, "Temp file too small (99 bytes), likely corrupted"}));
    EXPECT_EQ(readText(sidecar), original);
    EXPECT_EQ(readText(dir.path() / ".IMG_0001.xmp.tmp").size(), 99u) << "the rejected file stays beside the sidecar";

    const Status nextCheck = save("<a>" + std::string(92, 'x') + "</a>");
    ASSERT_FALSE(nextCheck.ok());
    EXPECT_EQ(nextCheck.error().code, 5) << "100 bytes pass the size check and fail on the structure";
    EXPECT_EQ(readText(sidecar), original);
}

TEST_F(SafeSave, MuchSmallerDocumentWarnsAndIsSaved) {
    // The sidecar on disk carries thousands of trailing line breaks; the new document has none.
    const std::string padded = original + std::string(4000, '\n');
    writeText(sidecar, padded);
    DiagnosticsCapture capture;
    ASSERT_TRUE(save(canonicalSidecar).ok());
    const auto newSize = static_cast<int64_t>(std::filesystem::file_size(sidecar));
    const auto oldSize = static_cast<int64_t>(padded.size());
    const int percent = static_cast<int>(100.0 * static_cast<double>(oldSize - newSize) / static_cast<double>(oldSize));
    ASSERT_GT(percent, 50);
    const std::string warning = "[DEBUG] Warning: Significant size change - Original: " + std::to_string(oldSize) +
                                " bytes, New: " + std::to_string(newSize) + " bytes (" + std::to_string(percent) + "% change)";
    const auto lines = capture.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), warning), lines.end()) << capture.text();
    EXPECT_EQ(lines.back(), "[DEBUG] Successfully saved XMP: IMG_0001.xmp");
}

TEST(ValidateTempFile, SizeChangeWarningLineIsExact) {
    TempDir dir;
    PosixFileSystem fileSystem;
    const auto temp = dir.path() / ".a.xmp.tmp";
    ASSERT_LT(canonicalSidecar.size(), 800u);
    struct Case {
        int64_t previous;
        int64_t size;
        std::optional<std::string> warning;
    };
    const Case cases[] = {
        {2000, 3000, std::nullopt},  // ratio exactly 0.5: no warning
        {2000, 1000, std::nullopt},
        {2000, 3200, "[DEBUG] Warning: Significant size change - Original: 2000 bytes, New: 3200 bytes (60% change)"},
        {2000, 800, "[DEBUG] Warning: Significant size change - Original: 2000 bytes, New: 800 bytes (60% change)"},
        {1, 800, "[DEBUG] Warning: Significant size change - Original: 1 bytes, New: 800 bytes (79900% change)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        // Trailing line breaks after the document are allowed and make the file exactly this long.
        writeText(temp, canonicalSidecar + std::string(static_cast<size_t>(c.size) - canonicalSidecar.size(), '\n'));
        DiagnosticsCapture capture;
        ASSERT_TRUE(validateTempFile(fileSystem, temp, c.previous).ok());
        const auto lines = capture.lines();
        std::vector<std::string> expected;
        if (c.warning) expected.push_back(*c.warning);
        expected.push_back("[DEBUG] File size validation passed: " + std::to_string(c.size) + " bytes");
        ASSERT_GE(lines.size(), expected.size());
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(expected.size())),
                  expected);
    }
}

struct SizeChangeCase {
    int64_t previous;
    int64_t size;
    std::optional<std::string> warning;
};

TEST(ValidateTempFile, WarnsOnlyAboveHalfTheOldSize) {
    TempDir dir;
    PosixFileSystem fileSystem;
    const std::string document = canonicalSidecar;
    const auto temp = dir.path() / ".a.xmp.tmp";
    writeText(temp, document);
    const int64_t size = static_cast<int64_t>(document.size());
    const SizeChangeCase cases[] = {
        {size, size, std::nullopt},
        {size * 2, size, std::nullopt},  // exactly half: ratio 0.5 does not warn
        {0, size, std::nullopt},         // no previous sidecar
        {size * 10, size, "90% change"},
        {size / 3, size, ""},
    };
    for (const auto& c : cases) {
        DiagnosticsCapture capture;
        ASSERT_TRUE(validateTempFile(fileSystem, temp, c.previous).ok());
        const auto lines = capture.lines();
        const bool warned = lines.front().rfind("[DEBUG] Warning: Significant size change - Original: ", 0) == 0;
        EXPECT_EQ(warned, c.warning.has_value()) << c.previous;
        if (warned) {
            EXPECT_EQ(lines.front().find("[DEBUG] Warning: Significant size change - Original: " +
                                         std::to_string(c.previous) + " bytes, New: " + std::to_string(size) + " bytes ("),
                      0u);
            EXPECT_NE(lines.front().find(*c.warning), std::string::npos) << lines.front();
        }
        EXPECT_EQ(lines.back(), "[DEBUG] All temp file validations passed successfully");
    }
}

TEST(ValidateTempFile, MissingEmptyAndUnparseableFiles) {
    TempDir dir;
    PosixFileSystem fileSystem;
    const auto temp = dir.path() / ".a.xmp.tmp";
    EXPECT_EQ(validateTempFile(fileSystem, temp, 0).error(), (Error{"Validation", 1, "Temp file was not created"}));
    writeText(temp, "");
    EXPECT_EQ(validateTempFile(fileSystem, temp, 0).error(), (Error{"Validation", 2, "Temp file is empty"}));
    writeText(temp, "<open>" + std::string(200, 'x'));
    const Status invalid = validateTempFile(fileSystem, temp, 0);
    ASSERT_FALSE(invalid.ok());
    EXPECT_EQ(invalid.error().code, 4);
    EXPECT_EQ(invalid.error().message.rfind("Temp file is not valid XML: XML parse error: ", 0), 0u) << invalid.error().message;
}

}  // namespace
}  // namespace corvane
