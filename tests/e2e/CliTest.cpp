// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-cli as a person or a script calls it, for what a case folder cannot hold: answers without a
// run (usage errors, help, version), --inspect and its errors, --check's exit status for each kind of
// folder, the paths that report rows show, and a script that opens every file its JSON rows name.

#include "engine/ResultModel.h"
#include "tests/e2e/JsonRowDescription.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Fixtures.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

const JsonRowDescription documented(CORVANE_CLI_MAN_PAGE);

ProcessResult runCli(std::vector<std::string> arguments, const fs::path& workDir) {
    arguments.insert(arguments.begin(), CORVANE_CLI_PATH);
    return runProgram(arguments, workDir, workDir);
}

// A photo at the test position with a sidecar beside it (none when `sidecar` is empty).
void placePair(const fs::path& image, const std::string& sidecar) {
    fs::create_directories(image.parent_path());
    writeHeic(image, iPhoneImageAt(photoLatitude, photoLongitude));
    if (!sidecar.empty()) writeText(fs::path(image).replace_extension(".xmp"), sidecar);
}

TEST(CliTest, AnswersWithoutARun) {
    const TempDir dir;
    writeHeic(dir.path() / "A.HEIC", iPhoneImageAt(photoLatitude, photoLongitude));
    TestImage noPosition = iPhoneImageAt(0, 0);
    noPosition.latitude.reset(), noPosition.longitude.reset(), noPosition.latitudeRef.reset(), noPosition.longitudeRef.reset();
    writeHeic(dir.path() / "I.HEIC", noPosition);
    writeText(dir.path() / "notes.txt", "not an image");
    fs::create_directories(dir.path() / "folder.HEIC");
    ASSERT_EQ(::mkfifo((dir.path() / "fifo.HEIC").c_str(), 0644), 0);
    const std::string aRow = "A.HEIC: lat=37.7749 lon=-122.4194 make=Apple model=iPhone 15 Pro software=nil\n";
    const std::vector<std::tuple<std::vector<std::string>, int, std::string, std::string>> calls{
        {{}, 2, "", "corvane-cli: no PATH given (see --help)\n"},
        {{"--help"}, 0, "usage: corvane-cli [options] PATH...\n", ""},
        {{"--inspect", "A.HEIC", "I.HEIC"}, 0, aRow + "I.HEIC: lat=nil lon=nil make=Apple model=iPhone 15 Pro software=nil\n", ""},
        {{"--inspect", "--json", "A.HEIC"}, 0,
         R"({"file":"A.HEIC","latitude":37.7749,"longitude":-122.4194,"device":{"make":"Apple","model":"iPhone 15 Pro","software":null}})" "\n", ""},
        // Each FILE that cannot be inspected is named with its cause; the others are still inspected.
        {{"--inspect", "missing.HEIC", "folder.HEIC", "notes.txt", "fifo.HEIC", "A.HEIC"}, 1, aRow,
         "corvane-cli: missing.HEIC: no such file\ncorvane-cli: folder.HEIC: is a folder, not a file\n"
         "corvane-cli: notes.txt: not an image whose metadata can be read\ncorvane-cli: fifo.HEIC: not a regular file\n"},
    };
    for (const auto& [arguments, exitCode, out, err] : calls) {
        const ProcessResult result = runCli(arguments, dir.path());
        EXPECT_EQ(result.exitCode, exitCode) << ::testing::PrintToString(arguments);
        EXPECT_EQ(result.out.substr(0, out.size()), out);
        EXPECT_EQ(result.out.empty(), out.empty());
        EXPECT_EQ(result.err, err);
    }
    const ProcessResult inspected = runCli({"--inspect", "--json", "I.HEIC"}, dir.path());
    EXPECT_EQ(documented.problems(nlohmann::json::parse(inspected.out), JsonRowDescription::inspectRow), std::vector<std::string>{});
}

// Every outcome of the engine is described, and nothing else.
TEST(CliTest, TheManualPageNamesEveryOutcome) {
    std::set<std::string> outcomes;
    [&]<size_t... index>(std::index_sequence<index...>) {
        (outcomes.insert(std::string(caseName(ProcessingResult(std::in_place_index<index>)))), ...);
    }(std::make_index_sequence<std::variant_size_v<ProcessingResult>>());
    EXPECT_EQ(documented.outcomes(), outcomes);
}

// --check's exit status for each kind of folder: 3 when a sidecar would be rewritten or differs, 1 when
// a file fails or a path is missing (whatever else), 0 otherwise; it never writes.
TEST(CliTest, CheckSaysWhetherAnySidecarNeedsAChange) {
    const std::string canonical = sidecarXml(canonicalSidecar), letterless = sidecarXml(letterlessSidecar),
                      within = sidecarXml(shortLetteredSidecar), paris = sidecarXml(parisSidecar), broken = "<x:xmpmeta";
    using Pairs = std::vector<std::pair<std::string, std::string>>;  // image name -> sidecar ("" for none)
    const std::tuple<Pairs, std::vector<std::string>, int> cases[] = {
        {{{"A.HEIC", canonical}}, {"--check"}, 0},
        {{{"A.HEIC", canonical}, {"B.HEIC", within}, {"C.HEIC", ""}}, {"--check"}, 0},
        {{{"A.HEIC", letterless}}, {"--check"}, 3},
        {{{"A.HEIC", paris}}, {"--check"}, 3},
        {{{"A.HEIC", canonical}, {"B.HEIC", letterless}, {"C.HEIC", paris}}, {"--check"}, 3},
        {{{"A.HEIC", letterless}, {"B.HEIC", broken}}, {"--check"}, 1},
        {{{"A.HEIC", letterless}}, {"--check", "missing"}, 1},
        {{{"A.HEIC", within}}, {"--check", "--always-overwrite"}, 3},  // it would be rewritten
        {{{"A.HEIC", paris}}, {"--check", "--silently-ignore-skipped", "--json"}, 3},
        {{{"A.HEIC", letterless}}, {"-nq"}, 0},  // without --check a dry run succeeds
    };
    for (const auto& [pairs, switches, exitCode] : cases) {
        const TempDir dir;
        for (const auto& [image, sidecar] : pairs) placePair(dir.path() / "photos" / image, sidecar);
        std::vector<std::string> arguments = switches;
        arguments.insert(arguments.begin(), {"-q", "photos"});
        const ProcessResult result = runCli(arguments, dir.path());
        EXPECT_EQ(result.exitCode, exitCode) << ::testing::PrintToString(arguments) << result.err;
        for (const auto& [image, sidecar] : pairs) {
            const fs::path sidecarPath = dir.path() / "photos" / fs::path(image).replace_extension(".xmp");
            EXPECT_EQ(sidecar.empty() ? "" : readText(sidecarPath), sidecar) << "--check wrote " << sidecarPath;
        }
    }
}

// A report row names the file as the user gave it: below a relative folder relative, below an absolute
// one absolute, so that two files of the same name in two folders are told apart.
TEST(CliTest, ReportRowsNameTheFileAsGiven) {
    const TempDir dir;
    placePair(dir.path() / "photos/a/IMG_0001.HEIC", sidecarXml(canonicalSidecar));
    placePair(dir.path() / "photos/b/IMG_0001.HEIC", sidecarXml(canonicalSidecar));
    const std::string absolute = (dir.path() / "photos").string();
    const std::pair<std::vector<std::string>, std::set<std::string>> cases[] = {
        {{"-q", "photos"}, {"photos/a/IMG_0001.HEIC", "photos/b/IMG_0001.HEIC"}},
        {{"-q", "photos/a/", "./photos/b"}, {"photos/a/IMG_0001.HEIC", "./photos/b/IMG_0001.HEIC"}},
        {{"-q", absolute}, {absolute + "/a/IMG_0001.HEIC", absolute + "/b/IMG_0001.HEIC"}},
        {{"-q", "photos/b/IMG_0001.HEIC"}, {"photos/b/IMG_0001.HEIC"}},
    };
    for (const auto& [arguments, expected] : cases) {
        std::istringstream lines(runCli(arguments, dir.path()).out);
        std::set<std::string> shown;
        for (std::string line; std::getline(lines, line);)
            if (line.ends_with(": Already correct")) shown.insert(line.substr(0, line.size() - std::strlen(": Already correct")));
        EXPECT_EQ(shown, expected) << arguments[1];
    }
}

// A script reads the JSON rows and opens each file they name: by "file" as Python's surrogateescape
// reads it, and by "file_bytes" where the name is not UTF-8.
TEST(CliTest, AScriptOpensEveryFileItsJsonRowsName) {
    const TempDir dir;
    const std::vector<std::string> names{"IMG_\xff\xfe.HEIC", "A\nB\x1b[2J.HEIC", "Ærø \xe2\x82.HEIC", "IMG_0001.HEIC"};
    for (const std::string& name : names) placePair(dir.path() / "photos" / name, sidecarXml(letterlessSidecar));
    const ProcessResult rows = runCli({"--json", "-q", "photos"}, dir.path());
    ASSERT_EQ(rows.exitCode, 0) << rows.err;
    writeText(dir.path() / "rows.jsonl", rows.out);
    const char* script = R"(
import base64, json, os, sys
opened = by_bytes = 0
for line in open(sys.argv[1], encoding="utf-8"):
    row = json.loads(line)
    name = os.fsencode(row["file"])
    if "file_bytes" in row:
        assert base64.b64decode(row["file_bytes"]) == name, row
        by_bytes += 1
    with open(name, "rb") as image:
        assert image.read(12)[4:8] == b"ftyp", row
    opened += 1
print(opened, by_bytes)
)";
    const ProcessResult opened = runProgram({"/usr/bin/python3", "-c", script, "rows.jsonl"}, dir.path(), dir.path());
    EXPECT_EQ(opened.out, "4 2\n") << opened.err;
}

}  // namespace
}  // namespace corvane::test
