#include "tests/support/DiagnosticsCapture.h"
#include "engine/MediaFileProcessor.h"
#include "platform/FolderAccess.h"
#include "platform/ImageMetadataReader.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <map>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace corvane {
namespace {

using test::TestImage;
using test::SidecarGPSProperties;
using test::TempDir;
namespace fs = std::filesystem;

constexpr double imageLatitude = 37.7749;
constexpr double imageLongitude = -122.4194;

// Grants kept in memory: the engine suite has no Qt, and the settings file itself is tested with
// folder access in the platform suite.
class MemoryGrantStore : public GrantStore {
public:
    std::optional<std::string> dataForKey(std::string_view key) const override {
        const auto found = entries.find(std::string(key));
        if (found == entries.end()) return std::nullopt;
        return found->second;
    }
    bool setData(std::string_view key, std::string_view bytes) override {
        entries[std::string(key)] = std::string(bytes);
        return true;
    }
    std::map<std::string, std::string> entries;
};

// The person at the folder dialog: answers with a scripted folder, or declines.
class ScriptedPrompt : public FolderPrompt {
public:
    std::optional<fs::path> answer;
    int asked = 0;
    std::optional<fs::path> chooseFolder(const FolderPromptRequest&) override {
        ++asked;
        return answer;
    }
};

// The real folder access, counting the grants it gives and the stop calls made on them.
class CountingAccess : public SidecarAccessProvider {
public:
    explicit CountingAccess(SidecarAccessProvider& inner) : inner_(inner) {}
    std::optional<ScopedAccess> ensureSidecarAccess(const fs::path& sidecarURL, SidecarUse use) override {
        ++requests;
        auto access = inner_.ensureSidecarAccess(sidecarURL, use);
        if (!access) return access;
        ++grants;
        lastScopedURL = access->scopedURL;
        access->stop = [this, stop = std::move(access->stop)] {
            ++stops;
            stop();
        };
        return access;
    }
    int requests = 0;
    int grants = 0;
    int stops = 0;
    fs::path lastScopedURL;

private:
    SidecarAccessProvider& inner_;
};

class MediaFileProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir.path() / "photos";
        fs::create_directories(folder);
    }

    fs::path image(const std::string& name, const TestImage& metadata) {
        const fs::path path = folder / name;
        const std::string extension = toLowerAscii(path.extension().string());
        if (extension == ".dng") test::writeDng(path, metadata);
        else test::writeHeic(path, metadata);
        return path;
    }
    fs::path iPhoneImage(const std::string& name = "IMG_0001.HEIC") {
        return image(name, test::iPhoneImageAt(imageLatitude, imageLongitude));
    }
    fs::path sidecar(const std::string& name, const SidecarGPSProperties& gps) {
        const fs::path path = folder / name;
        test::writeText(path, test::sidecarXml(gps));
        return path;
    }

    ProcessingResult process(const fs::path& file) {
        DiagnosticsCapture capture;
        ProcessingResult result = MediaFileProcessor(services).processFile(file);
        lines = capture.lines();
        return result;
    }

    bool logged(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

    static std::string toLowerAscii(std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    TempDir dir;
    fs::path folder;
    test::FaultyFileSystem fileSystem;
    ImageMetadataReader reader;
    MemoryGrantStore grantStore;
    ScriptedPrompt prompt;
    FolderAccess folderAccess{fileSystem, grantStore, prompt};
    CountingAccess access{folderAccess};
    RunSettings settings;
    EngineServices services{fileSystem, reader, access, settings};
    std::vector<std::string> lines;
};

const SidecarGPSProperties canonical{"37.77490000N", "122.41940000W", "N", "W"};
const SidecarGPSProperties letterless{"37.7749", "122.4194", "N", "W"};
const SidecarGPSProperties elsewhere{"48.8566N", "2.3522E", "N", "E"};

TEST(SidecarURLFor, ReplacesTheLastExtensionWithLowerCaseXmp) {
    EXPECT_EQ(sidecarURLFor("/p/IMG_0001.HEIC"), fs::path("/p/IMG_0001.xmp"));
    EXPECT_EQ(sidecarURLFor("/p/IMG_0001.edited.HEIC"), fs::path("/p/IMG_0001.edited.xmp"));
    EXPECT_EQ(sidecarURLFor("/p/a.dng"), fs::path("/p/a.xmp"));
}

struct DeviceCase {
    const char* reason;
    DeviceData device;
    bool apple;
};

TEST(IsAppleDevice, MakeModelOrSoftwareNamesApple) {
    const DeviceCase cases[] = {
        {"another make with an iPhone model passes by the model", {"Canon", "iPhone 12 Pro", std::nullopt}, true},
        {"software alone passes", {std::nullopt, std::nullopt, "Apple Image Capture"}, true},
        {"a make that merely begins with Apple does not", {"Apple Inc.", "X100", std::nullopt}, false},
        {"the make in capitals passes", {"APPLE", std::nullopt, std::nullopt}, true},
        {"iPad, iPod and Mac models pass", {std::nullopt, "iPad Air", std::nullopt}, true},
        {"iPod", {std::nullopt, "iPod touch", std::nullopt}, true},
        {"a model containing mac passes", {std::nullopt, "MacBook Pro", std::nullopt}, true},
        {"all fields absent", {std::nullopt, std::nullopt, std::nullopt}, false},
        {"another camera", {"Canon", "Canon EOS R5", "Firmware 1.0"}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(isAppleDevice(c.device), c.apple) << c.reason;
}

// --- Outcomes through the whole pipeline, on real images and sidecars ------------------------------

TEST_F(MediaFileProcessorTest, CanonicalSidecarIsAlreadyCorrectAndUntouched) {
    const fs::path file = iPhoneImage();
    const fs::path xmp = sidecar("IMG_0001.xmp", canonical);
    const std::string before = test::readText(xmp);
    settings.dryRun = false;
    EXPECT_EQ(process(file), ProcessingResult(outcome::AlreadyCorrect{}));
    EXPECT_EQ(test::readText(xmp), before);
    EXPECT_TRUE(logged("[DEBUG] Processing IMG_0001.HEIC"));
}

TEST_F(MediaFileProcessorTest, ShortTextsAreWithinToleranceAndUntouched) {
    const fs::path file = iPhoneImage();
    const fs::path xmp = sidecar("IMG_0001.xmp", {"37.7749N", "122.4194W", "N", "W"});
    const std::string before = test::readText(xmp);
    settings.dryRun = false;
    EXPECT_EQ(process(file), ProcessingResult(outcome::WithinTolerance{
                                 {"Latitude format: 37.7749N → 37.77490000N",
                                  "Longitude format: 122.4194W → 122.41940000W"}}));
    EXPECT_EQ(test::readText(xmp), before);
}

TEST_F(MediaFileProcessorTest, LetterlessSidecarInADryRunIsReportedAndUntouched) {
    const fs::path file = iPhoneImage();
    const fs::path xmp = sidecar("IMG_0001.xmp", letterless);
    const std::string before = test::readText(xmp);
    const ProcessingResult result = process(file);
    ASSERT_TRUE(std::holds_alternative<outcome::Updated>(result)) << caseName(result);
    const auto& changes = std::get<outcome::Updated>(result).changes;
    ASSERT_FALSE(changes.empty());
    for (const auto& change : changes) EXPECT_EQ(change.rfind("[DRY RUN] would update: ", 0), 0u) << change;
    EXPECT_EQ(test::readText(xmp), before);
}

TEST_F(MediaFileProcessorTest, LetterlessSidecarIsRewrittenIntoTheCanonicalForm) {
    const fs::path file = iPhoneImage();
    const fs::path xmp = sidecar("IMG_0001.xmp", letterless);
    settings.dryRun = false;
    const ProcessingResult result = process(file);
    ASSERT_TRUE(std::holds_alternative<outcome::Updated>(result)) << caseName(result);
    for (const auto& change : std::get<outcome::Updated>(result).changes)
        EXPECT_EQ(change.find("[DRY RUN]"), std::string::npos) << change;
    const std::string after = test::readText(xmp);
    EXPECT_NE(after.find("37.77490000N"), std::string::npos) << after;
    EXPECT_NE(after.find("122.41940000W"), std::string::npos) << after;
    // A second pass finds nothing left to do.
    EXPECT_EQ(process(file), ProcessingResult(outcome::AlreadyCorrect{}));
}

TEST_F(MediaFileProcessorTest, DifferingSidecarIsSkippedUnlessOverwriteIsOn) {
    const fs::path file = iPhoneImage();
    const fs::path xmp = sidecar("IMG_0001.xmp", elsewhere);
    const std::string before = test::readText(xmp);
    settings.dryRun = false;
    EXPECT_EQ(process(file), ProcessingResult(outcome::SkippedDifferentGPS{
                                 {{"Latitude", "48.8566N", "37.77490000N"}, {"Longitude", "2.3522E", "122.41940000W"}}}));
    EXPECT_EQ(test::readText(xmp), before);

    settings.alwaysOverwrite = true;
    settings.dryRun = true;
    ProcessingResult result = process(file);
    ASSERT_TRUE(std::holds_alternative<outcome::Updated>(result)) << caseName(result);
    for (const auto& change : std::get<outcome::Updated>(result).changes)
        EXPECT_EQ(change.rfind("[DRY RUN] would update: ", 0), 0u) << change;
    EXPECT_EQ(test::readText(xmp), before) << "a dry run writes nothing";

    settings.dryRun = false;
    result = process(file);
    ASSERT_TRUE(std::holds_alternative<outcome::Updated>(result)) << caseName(result);
    EXPECT_NE(test::readText(xmp).find("37.77490000N"), std::string::npos);
}

TEST_F(MediaFileProcessorTest, OverwriteOfACanonicalSidecarIsAlreadyCorrect) {
    const fs::path file = iPhoneImage();
    sidecar("IMG_0001.xmp", canonical);
    settings.alwaysOverwrite = true;
    settings.dryRun = false;
    EXPECT_EQ(process(file), ProcessingResult(outcome::AlreadyCorrect{}));
    EXPECT_TRUE(logged("[DEBUG] Already correct IMG_0001.HEIC"));
}

TEST_F(MediaFileProcessorTest, MissingSidecarIsSkippedAndNeverCreated) {
    const fs::path file = iPhoneImage();
    settings.dryRun = false;
    settings.alwaysOverwrite = true;
    EXPECT_EQ(process(file), ProcessingResult(outcome::SkippedMissing{"No XMP sidecar file"}));
    EXPECT_TRUE(logged("[DEBUG] Skipping IMG_0001.HEIC - no XMP sidecar file exists"));
    EXPECT_EQ(test::folderEntries(folder), std::vector<std::string>{"IMG_0001.HEIC"});
    EXPECT_EQ(prompt.asked, 0) << "a readable, writable folder needs no prompt";
}

TEST_F(MediaFileProcessorTest, SidecarWithoutGPSIsSkippedWhateverTheSwitches) {
    const fs::path file = iPhoneImage();
    const fs::path xmp = sidecar("IMG_0001.xmp", {});
    const std::string before = test::readText(xmp);
    settings.dryRun = false;
    settings.alwaysOverwrite = true;
    EXPECT_EQ(process(file), ProcessingResult(outcome::SkippedMissing{"No GPS data in XMP sidecar"}));
    EXPECT_TRUE(logged("[DEBUG] Skipping IMG_0001.HEIC - XMP contains no GPS data"));
    EXPECT_EQ(test::readText(xmp), before);
}

TEST_F(MediaFileProcessorTest, BrokenSidecarsFailWithTheWritersErrorAndStayAsTheyWere) {
    struct Case {
        const char* reason;
        std::string text;
        std::string errorPrefix;
    };
    const Case cases[] = {
        {"not well-formed", "<x:xmpmeta><rdf:RDF>", "XML parse error: "},
        {"well-formed without a description", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>",
         "Invalid XMP structure: missing rdf:Description"},
    };
    const fs::path file = iPhoneImage();
    settings.dryRun = false;
    for (const auto& c : cases) {
        const fs::path xmp = folder / "IMG_0001.xmp";
        test::writeText(xmp, c.text);
        const ProcessingResult result = process(file);
        ASSERT_TRUE(std::holds_alternative<outcome::Failed>(result)) << c.reason << ": " << caseName(result);
        EXPECT_EQ(std::get<outcome::Failed>(result).error.rfind(c.errorPrefix, 0), 0u)
            << c.reason << ": " << std::get<outcome::Failed>(result).error;
        EXPECT_EQ(test::readText(xmp), c.text) << c.reason;
    }
}

TEST_F(MediaFileProcessorTest, UnsupportedExtensionEndsBeforeAnythingIsRead) {
    const fs::path file = dir.writeFile("photos/picture.jpg", "not read");
    EXPECT_EQ(process(file), ProcessingResult(outcome::UnsupportedFile{"Unsupported extension: jpg"}));
    EXPECT_EQ(lines, (std::vector<std::string>{"[DEBUG] picture.jpg is not a supported media file",
                                               "[DEBUG] picture.jpg unsupported extension jpg"}));
    EXPECT_EQ(access.requests, 0);
}

TEST_F(MediaFileProcessorTest, ImageWithoutGPSFailsOrIsSkippedWithoutLookingForTheSidecar) {
    TestImage metadata = test::iPhoneImageAt(0, 0);
    metadata.latitude.reset();
    metadata.longitude.reset();
    metadata.latitudeRef.reset();
    metadata.longitudeRef.reset();
    const fs::path file = image("IMG_0002.HEIC", metadata);
    sidecar("IMG_0002.xmp", canonical);

    EXPECT_EQ(process(file), ProcessingResult(outcome::Failed{"No GPS available"}));
    EXPECT_TRUE(logged("[DEBUG] Failed: no GPS for IMG_0002.HEIC"));

    settings.silentlyIgnoreSkipped = true;
    EXPECT_EQ(process(file), ProcessingResult(outcome::SkippedMissing{"No GPS available"}));
    EXPECT_TRUE(logged("[DEBUG] Skipped missing GPS: IMG_0002.HEIC"));
    EXPECT_EQ(access.requests, 0);
}

// Something other than a regular file under a media name fails at once, before the Apple-only filter,
// without a hang (a FIFO is opened without blocking) or an endless read (a link to /dev/zero).
TEST_F(MediaFileProcessorTest, AMediaNameThatIsNoRegularFileFailsNamingWhatItIs) {
    const fs::path fifo = folder / "pipe.HEIC";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path directory = folder / "folder.DNG";
    fs::create_directory(directory);
    const fs::path zero = folder / "zero.HEIC";
    fs::create_symlink("/dev/zero", zero);
    const fs::path socketFile = folder / "socket.heif";  // cannot be opened at all
    const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketFile.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(socketFd);

    settings.appleOnly = true;
    const std::pair<fs::path, std::string> cases[] = {
        {fifo, "a FIFO"}, {directory, "a directory"}, {zero, "a character device"}, {socketFile, "a socket"}};
    for (const auto& [path, kind] : cases) {
        SCOPED_TRACE(kind);
        const std::string message = path.string() + " is not a regular file (" + kind + ")";
        const std::string name = path.filename().string();
        EXPECT_EQ(process(path), ProcessingResult(outcome::Failed{message}));
        EXPECT_EQ(lines, (std::vector<std::string>{"[DEBUG] Processing " + name, "[DEBUG] Failed " + name + ": " + message}));
    }
    EXPECT_EQ(access.requests, 0);
}

TEST_F(MediaFileProcessorTest, QueuedLocationWithoutAFileHasNoPosition) {
    EXPECT_EQ(process(folder / "IMG_9999.HEIC"), ProcessingResult(outcome::Failed{"No GPS available"}));
    EXPECT_EQ(access.requests, 0);
}

// --- The Apple-only filter on real images ----------------------------------------------------------

TEST_F(MediaFileProcessorTest, AppleOnlyFilterFollowsTheCameraIdentity) {
    struct Case {
        const char* reason;
        std::optional<std::string> make, model, software;
        bool withExif;
        bool passes;
    };
    const Case cases[] = {
        {"another make with an iPhone model", "Canon", "iPhone 12 Pro", std::nullopt, true, true},
        {"Apple software without make or model", std::nullopt, std::nullopt, "Apple Image Capture", true, true},
        {"make Apple Inc. with model X100", "Apple Inc.", "X100", std::nullopt, true, false},
        {"make in capitals", "APPLE", std::nullopt, std::nullopt, true, true},
        {"a camera make and model", "Canon", "Canon EOS R5", std::nullopt, true, false},
        {"readable properties without make, model or software", std::nullopt, std::nullopt, std::nullopt, false, false},
    };
    int index = 0;
    for (const auto& c : cases) {
        for (const char* extension : {".HEIC", ".DNG"}) {
            if (!c.withExif && std::string(extension) == ".DNG") continue;  // a TIFF always carries IFD0
            const std::string stem = "IMG_" + std::to_string(++index);
            TestImage metadata = test::iPhoneImageAt(imageLatitude, imageLongitude);
            metadata.make = c.make;
            metadata.model = c.model;
            metadata.software = c.software;
            metadata.withExif = c.withExif;
            const fs::path file = image(stem + extension, metadata);
            sidecar(stem + ".xmp", canonical);
            const ProcessingResult result = process(file);
            if (c.passes) {
                EXPECT_EQ(result, ProcessingResult(outcome::AlreadyCorrect{})) << c.reason << extension;
            } else {
                EXPECT_EQ(result, ProcessingResult(outcome::SkippedNonApple{DeviceData{c.make, c.model, c.software},
                                                                            "Non-Apple source"}))
                    << c.reason << extension;
                EXPECT_TRUE(logged("[DEBUG] Skipping non-Apple: " + file.filename().string())) << c.reason;
            }
        }
    }
}

TEST_F(MediaFileProcessorTest, UnreadablePropertiesPassTheFilter) {
    // Not an image at all: the device cannot be read, so the filter lets it through to the position,
    // which cannot be read either.
    const fs::path file = dir.writeFile("photos/IMG_0003.HEIC", "these bytes are not a HEIF container");
    EXPECT_EQ(process(file), ProcessingResult(outcome::Failed{"No GPS available"}));
    EXPECT_FALSE(logged("[DEBUG] Skipping non-Apple: IMG_0003.HEIC"));
}

TEST_F(MediaFileProcessorTest, AnyDeviceProcessesOtherCameras) {
    const fs::path file = image("CAM_0001.DNG", test::cameraImageAt(imageLatitude, imageLongitude));
    sidecar("CAM_0001.xmp", canonical);
    EXPECT_TRUE(std::holds_alternative<outcome::SkippedNonApple>(process(file)));
    settings.appleOnly = false;
    EXPECT_EQ(process(file), ProcessingResult(outcome::AlreadyCorrect{}));
}

// --- Folder access and the grant's release ---------------------------------------------------------

TEST_F(MediaFileProcessorTest, GrantIsReleasedExactlyOnceOnEveryPath) {
    struct Case {
        const char* reason;
        std::optional<SidecarGPSProperties> gps;
        std::string rawText;
        bool write;
        bool overwrite;
    };
    const Case cases[] = {
        {"already correct", canonical, "", false, false},
        {"within tolerance", SidecarGPSProperties{"37.7749N", "122.4194W", "N", "W"}, "", false, false},
        {"differing", elsewhere, "", false, false},
        {"written", letterless, "", true, false},
        {"overwritten", elsewhere, "", true, true},
        {"no sidecar", std::nullopt, "", false, false},
        {"no GPS in the sidecar", SidecarGPSProperties{}, "", false, false},
        {"the writer fails", std::nullopt, "<broken", true, false},
    };
    const fs::path file = iPhoneImage();
    for (const auto& c : cases) {
        fs::remove(folder / "IMG_0001.xmp");
        if (c.gps) sidecar("IMG_0001.xmp", *c.gps);
        if (!c.rawText.empty()) test::writeText(folder / "IMG_0001.xmp", c.rawText);
        settings.dryRun = !c.write;
        settings.alwaysOverwrite = c.overwrite;
        access.grants = access.stops = 0;
        process(file);
        EXPECT_EQ(access.grants, 1) << c.reason;
        EXPECT_EQ(access.stops, 1) << c.reason;
    }
}

TEST_F(MediaFileProcessorTest, DeclinedFolderFailsWithPermissionDenied) {
    const fs::path file = iPhoneImage();
    sidecar("IMG_0001.xmp", canonical);
    fileSystem.denyAccessBelow(folder);
    EXPECT_EQ(process(file), ProcessingResult(outcome::Failed{"Permission denied for XMP sidecar"}));
    EXPECT_EQ(prompt.asked, 1);
    EXPECT_TRUE(logged("[DEBUG] Permission not granted for XMP sidecar: " + (folder / "IMG_0001.xmp").string()));
    EXPECT_EQ(access.stops, 0) << "nothing was granted, so nothing is stopped";
}

TEST_F(MediaFileProcessorTest, AcceptedFolderIsUsedAndRemembered) {
    const fs::path file = iPhoneImage();
    sidecar("IMG_0001.xmp", canonical);
    fileSystem.denyAccessBelow(folder);
    prompt.answer = folder;
    EXPECT_EQ(process(file), ProcessingResult(outcome::AlreadyCorrect{}));
    EXPECT_EQ(access.stops, 1);
    EXPECT_EQ(prompt.asked, 1);

    // The next file of the folder finds the stored grant and asks nobody.
    EXPECT_EQ(process(file), ProcessingResult(outcome::AlreadyCorrect{}));
    EXPECT_EQ(prompt.asked, 1);
    EXPECT_EQ(access.stops, 2);
}

TEST_F(MediaFileProcessorTest, AnotherPickedFolderIsWhereTheSidecarIsLookedFor) {
    const fs::path file = iPhoneImage();
    sidecar("IMG_0001.xmp", canonical);
    fileSystem.denyAccessBelow(folder);
    const fs::path other = dir.path() / "other";
    fs::create_directories(other);
    prompt.answer = other;
    EXPECT_EQ(process(file), ProcessingResult(outcome::SkippedMissing{"No XMP sidecar file"}));
    EXPECT_EQ(access.lastScopedURL, other / "IMG_0001.xmp");
    EXPECT_EQ(access.stops, 1);
}

// --- The sidecar's name on a case-sensitive volume -------------------------------------------------

TEST_F(MediaFileProcessorTest, SidecarSpelledInCapitalsIsReadAndWrittenUnderItsOwnName) {
    const fs::path file = iPhoneImage();
    const fs::path xmp = sidecar("IMG_0001.XMP", letterless);
    settings.dryRun = false;
    const ProcessingResult result = process(file);
    ASSERT_TRUE(std::holds_alternative<outcome::Updated>(result)) << caseName(result);
    EXPECT_EQ(access.lastScopedURL, xmp);
    EXPECT_NE(test::readText(xmp).find("37.77490000N"), std::string::npos);
    EXPECT_EQ(test::folderEntries(folder), (std::vector<std::string>{"IMG_0001.HEIC", "IMG_0001.XMP"}))
        << "no second sidecar is created";
}

TEST_F(MediaFileProcessorTest, ExactNameWinsOverOtherSpellings) {
    const fs::path file = iPhoneImage();
    sidecar("IMG_0001.xmp", canonical);
    const fs::path capitals = sidecar("IMG_0001.XMP", elsewhere);
    EXPECT_EQ(process(file), ProcessingResult(outcome::AlreadyCorrect{}));
    EXPECT_EQ(access.lastScopedURL, folder / "IMG_0001.xmp");
    (void)capitals;
}

TEST_F(MediaFileProcessorTest, TwoOtherSpellingsAreAmbiguousAndCountAsMissing) {
    const fs::path file = iPhoneImage();
    sidecar("IMG_0001.XMP", canonical);
    sidecar("IMG_0001.Xmp", canonical);
    EXPECT_EQ(process(file), ProcessingResult(outcome::SkippedMissing{"No XMP sidecar file"}));
    EXPECT_TRUE(logged("[DEBUG] Ambiguous XMP sidecar for IMG_0001.HEIC: IMG_0001.XMP and IMG_0001.Xmp differ only in letter case"));
}

}  // namespace
}  // namespace corvane
