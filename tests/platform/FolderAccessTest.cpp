#include "tests/support/DiagnosticsCapture.h"
#include "engine/RunScope.h"
#include "platform/FolderAccess.h"
#include "platform/SettingsGrantStore.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace corvane {
namespace {

using test::FaultyFileSystem;
using test::TempDir;
namespace fs = std::filesystem;

// Stands in for the person at the folder dialog: answers with a scripted folder (or declines) and
// remembers what it was asked.
class ScriptedPrompt : public FolderPrompt {
public:
    std::optional<fs::path> answer;
    std::vector<FolderPromptRequest> asked;

    std::optional<fs::path> chooseFolder(const FolderPromptRequest& request) override {
        asked.push_back(request);
        return answer;
    }
};

class FolderAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        photos = dir.path() / "photos";
        fs::create_directories(photos);
        sidecar = photos / "IMG_0001.xmp";
        std::ofstream(sidecar) << "<x/>";
    }

    // Runs one request and ends the access, as the pipeline does.
    std::optional<fs::path> access(const fs::path& target, SidecarUse use = SidecarUse::readAndWrite) {
        auto granted = folderAccess.ensureSidecarAccess(target, use);
        if (!granted) return std::nullopt;
        granted->stop();
        return granted->scopedURL;
    }

    TempDir dir;
    fs::path photos;
    fs::path sidecar;
    FaultyFileSystem fileSystem;
    SettingsGrantStore grants{(dir.path() / "grants.ini").string()};
    ScriptedPrompt prompt;
    FolderAccess folderAccess{fileSystem, grants, prompt};
};

TEST_F(FolderAccessTest, AccessibleSidecarIsUsedDirectly) {
    EXPECT_EQ(access(sidecar), sidecar);
    EXPECT_TRUE(prompt.asked.empty());
    EXPECT_FALSE(grants.dataForKey(grantKey(photos)).has_value()) << "no grant is stored for direct access";
}

TEST_F(FolderAccessTest, MissingSidecarInAnAccessibleFolderNeedsNoPrompt) {
    const fs::path missing = photos / "IMG_0002.xmp";
    EXPECT_EQ(access(missing), missing);
    EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(FolderAccessTest, DeniedFolderAsksOnceAndRemembersTheGrant) {
    fileSystem.denyAccessBelow(photos);
    prompt.answer = photos;
    EXPECT_EQ(access(sidecar), photos / "IMG_0001.xmp");
    ASSERT_EQ(prompt.asked.size(), 1u);
    EXPECT_EQ(prompt.asked[0].message,
              "This app needs access to the folder containing your XMP sidecar so it can read and update it.");
    EXPECT_EQ(prompt.asked[0].confirmTitle, "Allow");
    EXPECT_EQ(prompt.asked[0].startFolder, photos);
    EXPECT_EQ(grants.dataForKey("xmpBookmark::" + photos.string()), photos.string());

    // The next file of the folder (and the next run) finds the stored grant.
    EXPECT_EQ(access(sidecar), photos / "IMG_0001.xmp");
    EXPECT_EQ(prompt.asked.size(), 1u);
}

// A dry run writes nothing: a folder that cannot be written (an archive, a read-only mount) needs no
// prompt that picking could not answer anyway. Writing still asks.
TEST_F(FolderAccessTest, DryRunUsesAReadableSidecarInAFolderItCannotWrite) {
    fileSystem.denyAccessBelow(photos, /*readable=*/true);
    EXPECT_EQ(access(sidecar, SidecarUse::readOnly), sidecar);
    EXPECT_EQ(access(photos / "IMG_0002.xmp", SidecarUse::readOnly), photos / "IMG_0002.xmp") << "missing sidecar";
    EXPECT_TRUE(prompt.asked.empty());
    EXPECT_FALSE(access(sidecar, SidecarUse::readAndWrite)) << "declined";
    EXPECT_EQ(prompt.asked.size(), 1u);
}

// During a run the folder's grant is looked up once, but a grant the user gives in the middle of the
// run serves the folder's next files.
TEST_F(FolderAccessTest, GrantGivenDuringARunServesTheFolderFromThenOn) {
    fileSystem.denyAccessBelow(photos);
    std::ofstream(photos / "IMG_0002.xmp") << "<x/>";
    RunScope::begin();
    prompt.answer.reset();
    EXPECT_FALSE(access(sidecar)) << "declined first";
    prompt.answer = photos;
    EXPECT_EQ(access(sidecar), sidecar);
    prompt.answer.reset();
    EXPECT_EQ(access(photos / "IMG_0002.xmp"), photos / "IMG_0002.xmp");
    RunScope::end();
    EXPECT_EQ(prompt.asked.size(), 2u);
}

TEST_F(FolderAccessTest, StoredGrantWithoutTheSidecarFallsThroughToThePrompt) {
    fileSystem.denyAccessBelow(photos);
    prompt.answer = photos;
    ASSERT_TRUE(access(sidecar));
    const fs::path missing = photos / "IMG_0002.xmp";
    prompt.answer.reset();
    EXPECT_FALSE(access(missing)) << "declined";
    EXPECT_EQ(prompt.asked.size(), 2u);
}

TEST_F(FolderAccessTest, AnotherPickedFolderIsGrantedUnderItsOwnKey) {
    fileSystem.denyAccessBelow(photos);
    const fs::path other = dir.path() / "elsewhere";
    fs::create_directories(other);
    prompt.answer = other;
    EXPECT_EQ(access(sidecar), other / "IMG_0001.xmp") << "even though no sidecar lies there";
    EXPECT_EQ(grants.dataForKey(grantKey(other)), other.string());
    EXPECT_FALSE(grants.dataForKey(grantKey(photos)).has_value());
}

TEST_F(FolderAccessTest, DeclinedPromptGivesNoAccessAndNoLine) {
    fileSystem.denyAccessBelow(photos);
    DiagnosticsCapture capture;
    EXPECT_FALSE(access(sidecar));
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(FolderAccessTest, PickedFolderThatIsGoneCannotBeGranted) {
    fileSystem.denyAccessBelow(photos);
    prompt.answer = dir.path() / "vanished";
    DiagnosticsCapture capture;
    EXPECT_FALSE(access(sidecar));
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].rfind("[DEBUG] Failed creating bookmark for folder: ", 0), 0u);
}

TEST_F(FolderAccessTest, GrantForAFolderThatNoLongerExistsIsIgnored) {
    grants.setData(grantKey(photos), (dir.path() / "removed").string());
    EXPECT_EQ(access(sidecar), sidecar) << "direct access follows silently";
}

TEST(GrantKey, IsTheStandardisedFolderPath) {
    EXPECT_EQ(grantKey("/Volumes/Archive/./2024/../2024/"), "xmpBookmark::/Volumes/Archive/2024");
}

TEST(SettingsGrantStore, TwoProcessesWritingAtOnceLoseNothing) {
    TempDir dir;
    const std::string ini = (dir.path() / "grants.ini").string();
    constexpr int keysPerProcess = 40;
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = ::fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            SettingsGrantStore store(ini);
            for (int i = 0; i < keysPerProcess; ++i) {
                const std::string folder = "/photos/" + std::to_string(child) + "/" + std::to_string(i);
                if (!store.setData("xmpBookmark::" + folder, folder)) ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    SettingsGrantStore store(ini);
    for (int child = 0; child < 2; ++child)
        for (int i = 0; i < keysPerProcess; ++i) {
            const std::string folder = "/photos/" + std::to_string(child) + "/" + std::to_string(i);
            EXPECT_EQ(store.dataForKey("xmpBookmark::" + folder), folder);
        }
}

// The store keeps its settings open between lookups; a grant that another process stores after the
// first lookup must still be found by the next one.
TEST(SettingsGrantStore, LookupSeesGrantAnotherProcessStoredSince) {
    TempDir dir;
    const std::string ini = (dir.path() / "grants.ini").string();
    ASSERT_TRUE(SettingsGrantStore(ini).setData("xmpBookmark::/first", "/first"));
    SettingsGrantStore store(ini);
    EXPECT_EQ(store.dataForKey("xmpBookmark::/first"), "/first");
    EXPECT_EQ(store.dataForKey("xmpBookmark::/later"), std::nullopt);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(SettingsGrantStore(ini).setData("xmpBookmark::/later", "/later") ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(store.dataForKey("xmpBookmark::/later"), "/later");
    EXPECT_EQ(store.dataForKey("xmpBookmark::/first"), "/first");
}

}  // namespace
}  // namespace corvane
