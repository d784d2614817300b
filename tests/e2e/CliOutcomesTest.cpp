// Runs the built corvane-cli on real folders of HEIC and DNG images with their XMP sidecars and checks
// what a user sees: the outcome of every file, the JSON lines, the report, the exit status and the
// sidecars' bytes after --write. Every run gets a home and settings folder of its own.

#include "engine/XmpXml.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <regex>
#include <set>

extern char** environ;

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::SidecarGPSProperties;
using test::TempDir;

constexpr double imageLatitude = 37.7749;
constexpr double imageLongitude = -122.4194;

struct CliRun {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;

    // The JSON lines keyed by the file's last path component.
    std::map<std::string, json> byName() const {
        std::map<std::string, json> rows;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            json row = json::parse(line);
            rows[fs::path(row.at("file").get<std::string>()).filename().string()] = row;
        }
        return rows;
    }
};

// Runs corvane-cli with `home` as HOME and `home`/config as XDG_CONFIG_HOME, standard output and error
// captured through files.
CliRun runCli(const fs::path& home, std::vector<std::string> arguments) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("HOME=") && !text.starts_with("XDG_CONFIG_HOME=")) environment.emplace_back(text);
    }
    environment.push_back("HOME=" + home.string());
    environment.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
    arguments.insert(arguments.begin(), CORVANE_CLI_PATH);

    auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> out;
        for (auto& text : texts) out.push_back(text.data());
        out.push_back(nullptr);
        return out;
    };
    auto argv = pointers(arguments);
    auto envp = pointers(environment);
    const fs::path outFile = home / "stdout.txt";
    const fs::path errFile = home / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    CliRun run;
    if (error != 0) {
        ADD_FAILURE() << "cannot start corvane-cli: " << std::strerror(error);
        return run;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    run.out = test::readText(outFile);
    run.err = test::readText(errFile);
    return run;
}

// The images are made once for the whole suite and copied into each test's folder.
class CliOutcomesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        media = new TempDir;
        test::writeHeic(media->path() / "iphone.HEIC", test::iPhoneImageAt(imageLatitude, imageLongitude));
        test::writeDng(media->path() / "iphone.DNG", test::iPhoneImageAt(imageLatitude, imageLongitude));
        test::writeDng(media->path() / "camera.DNG", test::cameraImageAt(imageLatitude, imageLongitude));
        test::TestImage noPosition = test::iPhoneImageAt(0, 0);
        noPosition.latitude.reset();
        noPosition.longitude.reset();
        noPosition.latitudeRef.reset();
        noPosition.longitudeRef.reset();
        test::writeHeic(media->path() / "nogps.HEIC", noPosition);
    }
    static void TearDownTestSuite() {
        delete media;
        media = nullptr;
    }

    void SetUp() override {
        library = dir.path() / "library";
        home = dir.path() / "home";
        fs::create_directories(library);
        fs::create_directories(home);
    }

    // Copies a prepared image into the library under `name`.
    fs::path image(const std::string& source, const std::string& name) {
        fs::copy_file(media->path() / source, library / name);
        return library / name;
    }
    fs::path sidecar(const std::string& name, const std::string& text) {
        test::writeText(library / name, text);
        return library / name;
    }
    fs::path sidecar(const std::string& name, const SidecarGPSProperties& gps) {
        return sidecar(name, test::sidecarXml(gps));
    }

    // One pair per outcome of a dry run with the default switches.
    void fillLibraryWithEveryOutcome() {
        image("iphone.HEIC", "A_correct.HEIC");
        sidecar("A_correct.xmp", canonical);
        image("iphone.HEIC", "B_within.HEIC");
        sidecar("B_within.xmp", SidecarGPSProperties{"37.7749N", "122.4194W", "N", "W"});
        image("iphone.DNG", "C_letterless.DNG");
        sidecar("C_letterless.xmp", letterless);
        image("iphone.HEIC", "D_differs.HEIC");
        sidecar("D_differs.xmp", elsewhere);
        image("iphone.HEIC", "E_nosidecar.HEIC");
        image("iphone.HEIC", "F_nogpsxmp.HEIC");
        sidecar("F_nogpsxmp.xmp", SidecarGPSProperties{});
        image("iphone.HEIC", "G_broken.HEIC");
        sidecar("G_broken.xmp", brokenXml);
        image("camera.DNG", "H_camera.DNG");
        sidecar("H_camera.xmp", canonical);
        image("nogps.HEIC", "I_nogps.HEIC");
        sidecar("I_nogps.xmp", canonical);
    }

    // Every file below the library with its bytes, to see what a run changed.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(library))
            if (entry.is_regular_file()) files[entry.path().lexically_relative(library).string()] = test::readText(entry.path());
        return files;
    }

    CliRun run(std::vector<std::string> arguments) { return runCli(home, std::move(arguments)); }

    static inline TempDir* media = nullptr;
    TempDir dir;
    fs::path library;
    fs::path home;

    static inline const SidecarGPSProperties canonical{"37.77490000N", "122.41940000W", "N", "W"};
    static inline const SidecarGPSProperties letterless{"37.7749", "122.4194", "N", "W"};
    static inline const SidecarGPSProperties elsewhere{"48.8566N", "2.3522E", "N", "E"};
    static inline const std::string brokenXml = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF>";
};

// What the writer leaves: the same document with the four canonical values, pretty-printed.
std::string rewrittenSidecar() {
    auto document = XMPXML::load(test::sidecarXml({"37.77490000N", "122.41940000W", "N", "W"}));
    return XMPXML::serialize(*document.value());
}

// The settings file as the window's grant store (QSettings, INI form) writes one grant: the key's
// first "/" opens a group, the later ones become backslashes, other special characters are
// percent-escaped.
std::string settingsWithGrant(const fs::path& folder, const fs::path& grantedFolder) {
    auto escaped = [](std::string_view text) {
        static const char hex[] = "0123456789ABCDEF";
        std::string out;
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '/') out += '\\';
            else if (std::isalnum(byte) || c == '-' || c == '_' || c == '.') out += c;
            else out += {'%', hex[byte >> 4], hex[byte & 15]};
        }
        return out;
    };
    const std::string path = folder.string();
    return "[xmpBookmark%3A%3A]\n" + escaped(std::string_view(path).substr(1)) + "=@ByteArray(" +
           grantedFolder.string() + ")\n";
}

TEST_F(CliOutcomesTest, DryRunGivesEveryOutcomeAsJsonAndWritesNothing) {
    fillLibraryWithEveryOutcome();
    const fs::path notes = sidecar("notes.txt", "not an image");
    const auto before = snapshot();
    const CliRun result = run({"--json", library.string(), notes.string()});

    EXPECT_EQ(result.status, 1) << "two files failed\n" << result.err;
    EXPECT_EQ(snapshot(), before) << "a dry run writes nothing";
    const auto rows = result.byName();
    ASSERT_EQ(rows.size(), 10u) << result.out;

    const std::map<std::string, json> expected = {
        {"A_correct.HEIC", {{"outcome", "alreadyCorrect"}, {"text", "Already correct"}}},
        {"B_within.HEIC",
         {{"outcome", "withinTolerance"},
          {"text",
           "Within tolerance — not updated (Latitude format: 37.7749N → 37.77490000N; Longitude format: 122.4194W → "
           "122.41940000W)"},
          {"differences",
           {"Latitude format: 37.7749N → 37.77490000N", "Longitude format: 122.4194W → 122.41940000W"}}}},
        {"D_differs.HEIC",
         {{"outcome", "skippedDifferentGPS"},
          {"text", "Skipped (GPS differs):\n• Latitude: 48.8566N → 37.77490000N\n• Longitude: 2.3522E → 122.41940000W"},
          {"differences",
           {{{"field", "Latitude"}, {"currentValue", "48.8566N"}, {"newValue", "37.77490000N"}},
            {{"field", "Longitude"}, {"currentValue", "2.3522E"}, {"newValue", "122.41940000W"}}}}}},
        {"E_nosidecar.HEIC",
         {{"outcome", "skippedMissing"}, {"text", "Skipped (missing): No XMP sidecar file"}, {"reason", "No XMP sidecar file"}}},
        {"F_nogpsxmp.HEIC",
         {{"outcome", "skippedMissing"},
          {"text", "Skipped (missing): No GPS data in XMP sidecar"},
          {"reason", "No GPS data in XMP sidecar"}}},
        {"H_camera.DNG",
         {{"outcome", "skippedNonApple"},
          {"text", "Skipped (non-Apple): Canon Canon EOS R5 - Non-Apple source"},
          {"reason", "Non-Apple source"},
          {"device", {{"make", "Canon"}, {"model", "Canon EOS R5"}, {"software", nullptr}}}}},
        {"I_nogps.HEIC", {{"outcome", "failed"}, {"text", "Failed: No GPS available"}, {"error", "No GPS available"}}},
        {"notes.txt",
         {{"outcome", "unsupportedFile"},
          {"text", "Unsupported: Unsupported extension: txt"},
          {"reason", "Unsupported extension: txt"}}},
    };
    for (const auto& [name, fields] : expected) {
        ASSERT_TRUE(rows.count(name)) << name;
        json row = rows.at(name);
        EXPECT_EQ(row.at("file"), (name == "notes.txt" ? notes : library / name).string()) << name;
        row.erase("file");
        EXPECT_EQ(row, fields) << name;
    }

    // The letterless sidecar would be rewritten; the broken one fails with the parser's message.
    const json& letterlessRow = rows.at("C_letterless.DNG");
    EXPECT_EQ(letterlessRow.at("outcome"), "updated");
    ASSERT_FALSE(letterlessRow.at("changes").empty());
    for (const auto& change : letterlessRow.at("changes"))
        EXPECT_EQ(change.get<std::string>().rfind("[DRY RUN] would update: ", 0), 0u) << change;
    EXPECT_EQ(letterlessRow.at("text").get<std::string>().rfind("[Dry Run] Would Update:\n• [DRY RUN] would update: ", 0), 0u);

    const json& brokenRow = rows.at("G_broken.HEIC");
    EXPECT_EQ(brokenRow.at("outcome"), "failed");
    EXPECT_EQ(brokenRow.at("error").get<std::string>().rfind("XML parse error: ", 0), 0u) << brokenRow;
    EXPECT_EQ(brokenRow.at("text"), "Failed: " + brokenRow.at("error").get<std::string>());

    EXPECT_NE(result.err.find("corvane-cli: 10 files: 1 updated, 1 withinTolerance, 1 unsupportedFile, 2 skippedMissing, "
                              "1 skippedNonApple, 1 skippedDifferentGPS, 2 failed, 1 alreadyCorrect (dry run, nothing "
                              "written)"),
              std::string::npos)
        << result.err;
}

TEST_F(CliOutcomesTest, WriteRewritesOnlyTheLetterlessSidecar) {
    fillLibraryWithEveryOutcome();
    const auto before = snapshot();
    const CliRun result = run({"--write", "--json", library.string()});
    EXPECT_EQ(result.status, 1) << result.err;

    const auto rows = result.byName();
    const json& updated = rows.at("C_letterless.DNG");
    EXPECT_EQ(updated.at("outcome"), "updated");
    for (const auto& change : updated.at("changes"))
        EXPECT_EQ(change.get<std::string>().find("[DRY RUN]"), std::string::npos) << change;
    EXPECT_EQ(updated.at("text").get<std::string>().rfind("Updated:\n• ", 0), 0u);

    auto after = snapshot();
    EXPECT_EQ(after.at("C_letterless.xmp"), rewrittenSidecar());
    after.erase("C_letterless.xmp");
    auto unchanged = before;
    unchanged.erase("C_letterless.xmp");
    EXPECT_EQ(after, unchanged) << "every other file keeps its bytes, and no sidecar is created";

    // A second run finds the rewritten sidecar correct.
    const CliRun again = run({"--write", "--json", (library / "C_letterless.DNG").string()});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.byName().at("C_letterless.DNG").at("outcome"), "alreadyCorrect");
}

TEST_F(CliOutcomesTest, AlwaysOverwriteBringsADifferingSidecarToTheImage) {
    const fs::path file = image("iphone.HEIC", "D_differs.HEIC");
    const fs::path xmp = sidecar("D_differs.xmp", elsewhere);
    const std::string before = test::readText(xmp);

    CliRun result = run({"--always-overwrite", "--json", file.string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.byName().at("D_differs.HEIC").at("outcome"), "updated");
    EXPECT_EQ(test::readText(xmp), before) << "dry run";

    result = run({"--always-overwrite", "--write", "--json", file.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    const json row = result.byName().at("D_differs.HEIC");
    EXPECT_EQ(row.at("outcome"), "updated");
    EXPECT_FALSE(row.at("changes").empty()) << row;
    EXPECT_EQ(test::readText(xmp), rewrittenSidecar());

    // Without the switch, the differing sidecar is left alone.
    sidecar("D_differs.xmp", elsewhere);
    result = run({"--write", "--json", file.string()});
    EXPECT_EQ(result.byName().at("D_differs.HEIC").at("outcome"), "skippedDifferentGPS");
    EXPECT_EQ(test::readText(xmp), before);
}

TEST_F(CliOutcomesTest, SidecarSpelledInCapitalsIsFoundAndRewrittenInPlace) {
    const fs::path file = image("iphone.HEIC", "IMG_0001.HEIC");
    const fs::path xmp = sidecar("IMG_0001.XMP", letterless);
    const CliRun result = run({"--write", "--json", file.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.byName().at("IMG_0001.HEIC").at("outcome"), "updated");
    EXPECT_EQ(test::readText(xmp), rewrittenSidecar());
    EXPECT_EQ(test::folderEntries(library), (std::vector<std::string>{"IMG_0001.HEIC", "IMG_0001.XMP"}));
}

TEST_F(CliOutcomesTest, AnyDeviceProcessesOtherCameras) {
    const fs::path file = image("camera.DNG", "H_camera.DNG");
    sidecar("H_camera.xmp", canonical);
    const CliRun result = run({"--any-device", "--json", file.string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.byName().at("H_camera.DNG").at("outcome"), "alreadyCorrect");
}

TEST_F(CliOutcomesTest, SilentSkipTurnsAMissingPositionIntoAHiddenSkip) {
    const fs::path noPosition = image("nogps.HEIC", "I_nogps.HEIC");
    const fs::path differing = image("iphone.HEIC", "D_differs.HEIC");
    sidecar("D_differs.xmp", elsewhere);
    const fs::path correct = image("iphone.HEIC", "A_correct.HEIC");
    sidecar("A_correct.xmp", canonical);

    CliRun result = run({"--silently-ignore-skipped", "--json", noPosition.string(), differing.string(), correct.string()});
    EXPECT_EQ(result.status, 0) << "a missing position is no failure now";
    const auto rows = result.byName();
    EXPECT_EQ(rows.size(), 1u) << "only the differing file stays visible\n" << result.out;
    EXPECT_EQ(rows.at("D_differs.HEIC").at("outcome"), "skippedDifferentGPS");
    EXPECT_NE(result.err.find("1 skippedMissing"), std::string::npos) << "the summary still counts it: " << result.err;

    result = run({"--silently-ignore-skipped", noPosition.string(), correct.string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << "header only:\n" << result.out;
}

TEST_F(CliOutcomesTest, ReportIsTheWindowsPlainTextReport) {
    const fs::path a = image("iphone.HEIC", "A_correct.HEIC");
    sidecar("A_correct.xmp", canonical);
    const fs::path d = image("iphone.HEIC", "D_differs.HEIC");
    sidecar("D_differs.xmp", elsewhere);
    const fs::path e = image("iphone.HEIC", "E_nosidecar.HEIC");
    const fs::path i = image("nogps.HEIC", "I_nogps.HEIC");

    const CliRun result = run({e.string(), a.string(), d.string(), i.string()});
    EXPECT_EQ(result.status, 1);
    static const std::regex header(
        "Results — \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 — Settings: DryRun=true ForceOverwrite=false "
        "AppleOnly=true SilentSkip=false\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(result.out, match, header, std::regex_constants::match_continuous)) << result.out;
    EXPECT_EQ(result.out.substr(match.length()),
              "E_nosidecar.HEIC: Skipped (missing): No XMP sidecar file\n"
              "A_correct.HEIC: Already correct\n"
              "D_differs.HEIC: Skipped (GPS differs):\n"
              "• Latitude: 48.8566N → 37.77490000N\n"
              "• Longitude: 2.3522E → 122.41940000W\n"
              "I_nogps.HEIC: Failed: No GPS available\n");
    EXPECT_EQ(result.err.find("[DEBUG]"), std::string::npos) << "diagnostics only with --debug";
}

TEST_F(CliOutcomesTest, HeaderShowsTheSwitchesOfTheRun) {
    const fs::path a = image("iphone.HEIC", "A_correct.HEIC");
    sidecar("A_correct.xmp", canonical);
    const CliRun result = run({"-w", "--always-overwrite", "--any-device", "--silently-ignore-skipped", "-q", a.string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find(" — Settings: DryRun=false ForceOverwrite=true AppleOnly=false SilentSkip=true\n"),
              std::string::npos)
        << result.out;
}

TEST_F(CliOutcomesTest, DebugLinesGoToStandardErrorOnly) {
    const fs::path a = image("iphone.HEIC", "A_correct.HEIC");
    sidecar("A_correct.xmp", canonical);
    const CliRun result = run({"--debug", "--json", a.string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("[DEBUG] Processing A_correct.HEIC\n"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("[DEBUG] Within tolerance and text matches — not updating A_correct.HEIC\n"),
              std::string::npos);
    EXPECT_EQ(result.out.find("[DEBUG]"), std::string::npos);
    EXPECT_EQ(result.byName().size(), 1u);
}

TEST_F(CliOutcomesTest, GrantStoredInTheSettingsIsUsed) {
    // A grant for the library that leads to another folder: the sidecar is read where the grant says,
    // which shows that the CLI reads the settings the window writes.
    const fs::path file = image("iphone.HEIC", "A_correct.HEIC");
    const fs::path granted = dir.path() / "granted";
    fs::create_directories(granted);
    test::writeText(granted / "A_correct.xmp", test::sidecarXml(canonical));
    fs::create_directories(home / "config" / "Corvane");
    test::writeText(home / "config" / "Corvane" / "Corvane.conf", settingsWithGrant(library, granted));
    const CliRun result = run({"--json", file.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.byName().at("A_correct.HEIC").at("outcome"), "alreadyCorrect") << result.out;
}

TEST_F(CliOutcomesTest, InspectPrintsPositionAndDevice) {
    const fs::path a = image("iphone.HEIC", "A.HEIC");
    const fs::path i = image("nogps.HEIC", "I.HEIC");
    CliRun result = run({"--inspect", a.string(), i.string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "A.HEIC: lat=37.7749 lon=-122.4194 make=Apple model=iPhone 15 Pro software=nil\n"
                          "I.HEIC: lat=nil lon=nil make=Apple model=iPhone 15 Pro software=nil\n");

    result = run({"--inspect", "--json", a.string()});
    EXPECT_EQ(json::parse(result.out),
              (json{{"file", a.string()},
                    {"latitude", 37.7749},
                    {"longitude", -122.4194},
                    {"device", {{"make", "Apple"}, {"model", "iPhone 15 Pro"}, {"software", nullptr}}}}));
}

TEST_F(CliOutcomesTest, UsageErrorsExitWithTwoAndOneLine) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> usageErrors = {
        {{}, "no PATH given"},
        {{"--frobnicate", "x"}, "unknown option --frobnicate"},
        {{"-x", "x"}, "unknown option -x"},
        {{"--inspect"}, "--inspect needs at least one FILE"},
        {{"--json"}, "no PATH given"},
    };
    for (const auto& [arguments, error] : usageErrors) {
        const CliRun result = run(arguments);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(arguments);
        EXPECT_TRUE(result.out.empty());
        EXPECT_EQ(result.err, "corvane-cli: " + error + " (see --help)\n");
    }
}

TEST_F(CliOutcomesTest, HelpAndVersionExitWithZero) {
    CliRun result = run({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("--always-overwrite"), std::string::npos);
    result = run({"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("corvane-cli ", 0), 0u);
}

TEST_F(CliOutcomesTest, PathThatDoesNotExistIsAnErrorButTheOthersRun) {
    const fs::path a = image("iphone.HEIC", "A_correct.HEIC");
    sidecar("A_correct.xmp", canonical);
    const CliRun result = run({"--json", (dir.path() / "no-such-folder").string(), a.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("no-such-folder: no such file or folder"), std::string::npos) << result.err;
    EXPECT_EQ(result.byName().at("A_correct.HEIC").at("outcome"), "alreadyCorrect");
}

}  // namespace
}  // namespace corvane
