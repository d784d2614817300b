// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the cases of tests/cases (the format is described in tests/cases/README.md): per distinct set of
// switches, one folder holding every case of that set in a subfolder of its own, one run of the built
// corvane-cli with --json over it, then every row, the exit status, the closing line and every file
// compared with what the cases expect, and every row held to the manual page's description of the JSON
// fields; a second run over a fresh copy checks the plain-text report. What cannot be a case (usage
// errors, help, version, --inspect, exit statuses per file) is in CliTest.cpp.

#include "tests/e2e/JsonRowDescription.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cstdlib>
#include <regex>
#include <set>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path casesFolder = CORVANE_CASES_DIR;
const JsonRowDescription documented(CORVANE_CLI_MAN_PAGE);

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) text.replace(at, from.size(), to);
    return text;
}

// A name as the case writes it: "%" and two hex digits stand for one byte, for names that are not UTF-8.
std::string decodeName(const std::string& name) {
    std::string bytes;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            bytes += name[i];
            continue;
        }
        bytes += static_cast<char>(std::stoi(name.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return bytes;
}

// The keys a case may use, where they may stand. A key the runner does not know would drop its check without
// a word (a misspelled "stderr" checks nothing), so the case is refused instead.
const std::set<std::string> caseKeys{"why",        "made",   "image",  "files", "switches",    "row",   "rows",  "sidecarAfter",
                                     "filesAfter", "named",  "exitStatus", "stderr", "grant", "reportNames", "fault", "repeat"};
const std::set<std::string> imageKeys{"file", "latitude", "longitude", "make", "model", "software", "latitudeRef", "longitudeRef", "damage"};
const std::set<std::string> placedFileKeys{"from", "size"};
const std::set<std::string> faultKeys{"path", "inject"};

// "<case>: unknown key "<where><key>"" for each key of `object` that `known` lacks.
void refuseUnknownKeys(const std::string& caseName, const json& object, const std::set<std::string>& known, const std::string& where,
                       std::vector<std::string>& problems) {
    if (!object.is_object()) return;
    for (const auto& [key, value] : object.items())
        if (!known.contains(key)) problems.push_back(caseName + ": unknown key \"" + where + key + "\"");
}

std::vector<std::string> unknownKeys(const std::string& caseName, const json& data) {
    std::vector<std::string> problems;
    refuseUnknownKeys(caseName, data, caseKeys, "", problems);
    if (!data.contains("switches")) problems.push_back(caseName + ": no \"switches\" (\"[]\" for the default dry run)");
    refuseUnknownKeys(caseName, data.value("image", json::object()), imageKeys, "image.", problems);
    refuseUnknownKeys(caseName, data.value("fault", json::object()), faultKeys, "fault.", problems);
    const json files = data.value("files", json::object());
    for (const auto& [name, what] : files.items())
        refuseUnknownKeys(caseName, what, what.contains("from") ? placedFileKeys : imageKeys, "files." + name + ".", problems);
    return problems;
}

struct Case {
    std::string name;
    json data;   // case.json
    json files;  // what the case's folder holds before the run: name -> an image, a file of the case, ...
    json rows;   // name -> the row the file must get
    json after;  // name -> the file of the case it must equal after the run; the others stay unchanged
    std::vector<std::string> problems;  // keys the runner does not know, which would check nothing

    fs::path source(const std::string& file) const { return casesFolder / name / file; }
    // Each mark of "repeat" replaced by its text repeated: for documents too large or too deep to keep.
    std::string expand(std::string text) const {
        const json repeats = data.value("repeat", json::object());
        for (const auto& [mark, repeat] : repeats.items()) {
            std::string repeated;
            for (int i = 0; i < repeat[1]; ++i) repeated += repeat[0].get<std::string>();
            text = replaceAll(text, mark, repeated);
        }
        return text;
    }
};

// A case, its short forms ("image", "row", "sidecarAfter" and sidecar.xmp) spelled out.
Case readCase(const fs::path& folder) {
    Case c{folder.filename().string(), json::parse(readText(folder / "case.json")), {}, {}, {}, {}};
    c.problems = unknownKeys(c.name, c.data);
    const std::string image = c.data.value("image", json::object()).value("file", "IMG_0001.HEIC");
    const std::string sidecar = fs::path(image).stem().string() + ".xmp";
    c.files = c.data.value("files", json{{image, c.data.value("image", json::object())}});
    if (!c.data.contains("files") && fs::exists(folder / "sidecar.xmp")) c.files[sidecar] = "sidecar.xmp";
    c.rows = c.data.value("rows", json::object());
    if (c.data.contains("row")) c.rows[image] = c.data["row"];
    c.after = c.data.value("filesAfter", json::object());
    if (c.data.value("sidecarAfter", "unchanged") != "unchanged") c.after[sidecar] = c.data["sidecarAfter"];
    return c;
}

// Every case, or only the one CORVANE_CASE names (to run a case alone: CORVANE_CASE=<folder> ctest -R Cases).
std::vector<Case> allCases() {
    const std::set<fs::path> folders{fs::directory_iterator(casesFolder), fs::directory_iterator()};
    const char* only = std::getenv("CORVANE_CASE");
    std::vector<Case> cases;
    for (const fs::path& folder : folders) {
        if (!fs::is_directory(folder)) continue;
        if (only != nullptr && *only != '\0' && folder.filename() != only) continue;
        cases.push_back(readCase(folder));
    }
    return cases;
}

// One run of the program: its switches, and the failure strace injects into the system calls on the
// paths the cases name ("" for none), e.g. "openat:error=EACCES". Cases that share both share the run.
json runOf(const Case& c) { return {c.data.value("switches", json::array()), c.data.value("fault", json::object()).value("inject", "")}; }

std::vector<json> runs() {
    std::set<json> kinds;
    for (const Case& c : allCases()) kinds.insert(runOf(c));
    return {kinds.begin(), kinds.end()};
}

// The image a case describes: an iPhone photo at the position (degree/minute/second rationals, references
// from the signs) unless the case says otherwise; a key given as null leaves that tag out. A coordinate
// may also be given as it is stored: {"fractions": [[0, 0], ...]} or {"doubles": [37.7749]}.
TestImage imageOf(const json& image) {
    const auto degrees = [&](const char* key) { return image.contains(key) && image[key].is_number() ? image[key].get<double>() : 0.0; };
    TestImage made = iPhoneImageAt(degrees("latitude"), degrees("longitude"));
    for (const auto& [key, coordinate, ref] : {std::tuple{"latitude", &made.latitude, &made.latitudeRef},
                                               std::tuple{"longitude", &made.longitude, &made.longitudeRef}}) {
        if (!image.contains(key)) {
            coordinate->reset();
            ref->reset();
        } else if (image[key].contains("doubles")) *coordinate = StoredCoordinate::asDoubles(image[key]["doubles"]);
        else if (image[key].contains("fractions")) *coordinate = StoredCoordinate::asFractions(image[key]["fractions"]);
    }
    for (const auto& [key, field] : {std::pair{"make", &made.make}, std::pair{"model", &made.model}, std::pair{"software", &made.software},
                                     std::pair{"latitudeRef", &made.latitudeRef}, std::pair{"longitudeRef", &made.longitudeRef}})
        if (image.contains(key)) *field = image[key].is_null() ? std::nullopt : std::optional(image[key].get<std::string>());
    return made;
}

// What stands at a path: a regular file's bytes, or what kind of entry it is (a FIFO or a device is never
// opened: that would wait for a writer or never end).
// The run's exit status from two of its cases': a failure (1) outweighs a sidecar that --check finds in
// need of a change (3), which outweighs success (0).
int worseExitStatus(int a, int b) {
    const auto rank = [](int status) { return status == 3 ? 1 : status == 1 ? 2 : 0; };
    return rank(a) >= rank(b) ? a : b;
}

std::string snapshot(const fs::path& path) {
    const auto status = fs::symlink_status(path);
    const std::string contents = fs::is_regular_file(path) ? readText(path) : "(not a regular file)";
    if (fs::is_symlink(status)) return "link to " + fs::read_symlink(path).string() + ": " + contents;
    return fs::is_directory(status) ? "directory" : fs::is_fifo(status) ? "FIFO" : contents;
}

class CaseFolderTest : public ::testing::TestWithParam<json> {
protected:
    // Puts every case into a subfolder of `root` and runs corvane-cli from there on "." and the paths the
    // cases name, with its home beside `root`; returns what each placed file held.
    ProcessResult run(const std::vector<Case>& cases, const fs::path& root, bool asJson, std::map<fs::path, std::string>& before) {
        std::vector<std::string> arguments{CORVANE_CLI_PATH, "--quiet"};
        if (asJson) arguments.push_back("--json");
        arguments.insert(arguments.end(), GetParam()[0].begin(), GetParam()[0].end());
        arguments.push_back(".");
        std::string grants = "[xmpBookmark%3A%3A]\n";
        for (const Case& c : cases) {
            for (const auto& [encoded, what] : c.files.items()) {
                const fs::path path = root / c.name / decodeName(encoded);
                fs::create_directories(path.parent_path());
                if (what.is_object() && !what.contains("from")) placeImage(what, path);
                else if (what == "fifo") ::mkfifo(path.c_str(), 0644);
                else if (what.is_string() && what.get<std::string>().starts_with("link:")) fs::create_symlink(what.get<std::string>().substr(5), path);
                else if (what.is_string() && what.get<std::string>().starts_with("hardlink:")) fs::create_hard_link(root / c.name / what.get<std::string>().substr(9), path);
                else placeFile(c, what, path);
            }
            fs::create_directories(root / c.name);
            for (const auto& [encoded, what] : c.files.items()) before[root / c.name / decodeName(encoded)] = snapshot(root / c.name / decodeName(encoded));
            for (const std::string& named : c.data.value("named", std::vector<std::string>{})) arguments.push_back(c.name + "/" + decodeName(named));
            // The grant as the window's settings (QSettings, INI) hold it: the key's first "/" opens a group,
            // the later ones become backslashes (the temporary paths need no other escape).
            if (c.data.contains("grant"))
                grants += replaceAll((root / c.name).string().substr(1), "/", "\\") + "=@ByteArray(" + (root / c.name / c.data["grant"]).string() + ")\n";
        }
        const fs::path home = root.parent_path() / "home";
        fs::create_directories(home / "config/Corvane");
        writeText(home / "config/Corvane/Corvane.conf", grants);
        if (const std::string inject = GetParam()[1]; !inject.empty()) {
            std::vector<std::string> options{"--seccomp-bpf", "-e", "trace=" + inject.substr(0, inject.find(':')), "-e", "inject=" + inject};
            for (const Case& c : cases) options.insert(options.end(), {"-P", (root / c.name / c.data["fault"]["path"]).string()});
            arguments = underStrace(options, arguments);
        }
        return runProgram(arguments, home, root);
    }

    // Each distinct image is encoded once and copied.
    void placeImage(const json& image, const fs::path& destination) {
        const std::string extension = destination.extension().string();
        auto [made, isNew] = images_.try_emplace(image.dump() + extension, media_.path() / std::to_string(images_.size()));
        if (isNew && (extension == ".DNG" || extension == ".dng")) writeDng(made->second, imageOf(image));
        else if (isNew) writeHeic(made->second, imageOf(image));
        fs::copy_file(made->second, destination);
        if (image.contains("damage")) damageImage(destination, imageDamageNamed(image["damage"]).value());
    }

    // A file of the case, made longer (sparse) when the case gives a size.
    static void placeFile(const Case& c, const json& what, const fs::path& destination) {
        writeText(destination, c.expand(readText(c.source(what.is_string() ? what : what["from"]))));
        if (what.contains("size")) fs::resize_file(destination, what["size"]);
    }

    TempDir media_;
    std::map<std::string, fs::path> images_;
};

TEST_P(CaseFolderTest, EveryCaseGivesItsRowsAndLeavesItsFiles) {
    std::vector<Case> cases = allCases();
    std::erase_if(cases, [&](const Case& c) { return runOf(c) != GetParam(); });
    if (cases.empty()) GTEST_SKIP() << "CORVANE_CASE names a case of another run";
    const auto has = [&](const char* option) { return std::ranges::find(GetParam()[0], option) != GetParam()[0].end(); };
    const bool dryRun = !has("--write") && !has("-w");
    const TempDir jsonRun, textRun;
    const fs::path jsonRoot = jsonRun.path() / "cases", textRoot = textRun.path() / "cases";
    std::map<fs::path, std::string> before, ignored;
    const ProcessResult result = run(cases, jsonRoot, true, before);
    const ProcessResult text = run(cases, textRoot, false, ignored);
    ASSERT_FALSE(result.timedOut || text.timedOut);

    std::map<std::string, json> rows;  // by path below the root
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        // The JSON library refuses the lone surrogates that stand for bytes that are not UTF-8; here they
        // read as U+FFFD, as the cases' names do (the exact bytes are checked by CliTest.cpp).
        const bool notUtf8 = line.find("\\udc") != std::string::npos;
        json row = json::parse(std::regex_replace(line, std::regex(R"(\\udc[89a-f][0-9a-f])"), "\\ufffd"));
        EXPECT_EQ(documented.problems(row, JsonRowDescription::row), std::vector<std::string>{}) << line;
        EXPECT_EQ(row.value("dryRun", !dryRun), dryRun) << line;
        EXPECT_EQ(row.contains("file_bytes"), notUtf8) << line;
        const std::string file = fs::path(row.at("file").get<std::string>()).lexically_normal().string();
        for (const char* key : {"file", "file_bytes", "dryRun"}) row.erase(key);
        EXPECT_TRUE(rows.emplace(file, row).second) << "two rows for " << file;
    }

    int exitStatus = 0;
    std::map<std::string, int> counts{{"files", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + ": " + c.data.value("why", ""));
        EXPECT_EQ(c.problems, std::vector<std::string>{});
        int caseExitStatus = 0;  // a failed row fails the run
        for (const auto& [encoded, expected] : c.rows.items()) {
            const std::string file = c.name + "/" + decodeName(encoded);
            const std::string key = json::parse(json(file).dump(-1, ' ', false, json::error_handler_t::replace));
            ++counts[expected.at("outcome")];
            ++counts["files"];
            caseExitStatus |= expected.at("outcome") == "failed" && !expected.value("hidden", false);
            if (expected.value("hidden", false)) {
                EXPECT_FALSE(rows.contains(key)) << "a hidden row is shown: " << key;
                continue;
            }
            const json row = json::parse(c.expand(replaceAll(expected.dump(), "$CASE", (jsonRoot / c.name).string())));
            EXPECT_EQ(rows[key], row) << key;
            rows.erase(key);
            // The report's row: the path as given (named, or found below ".") and the text, with the name
            // spelt as the case says.
            const std::string name = decodeName(encoded), shown = c.data.value("reportNames", json::object()).value(encoded, name);
            const bool named = std::ranges::count(c.data.value("named", std::vector<std::string>{}), encoded) > 0;
            const std::string block = (named ? "" : "./") + c.name + "/" + shown + ": " + replaceAll(row.at("text"), name, shown) + "\n";
            EXPECT_NE(replaceAll(text.out, textRoot.string(), jsonRoot.string()).find(block), std::string::npos) << block;
        }
        exitStatus = worseExitStatus(exitStatus, c.data.value("exitStatus", caseExitStatus));
        if (c.data.contains("stderr")) {
            EXPECT_NE(result.err.find(replaceAll(c.data["stderr"], "$CASE", (jsonRoot / c.name).string())), std::string::npos);
        }

        // Nothing created or left behind (a temporary file), nothing removed, each file as the case says.
        std::set<std::string> entries;
        for (const auto& [encoded, what] : c.files.items()) entries.insert(fs::path(decodeName(encoded)).begin()->string());
        EXPECT_EQ(folderEntries(jsonRoot / c.name), std::vector(entries.begin(), entries.end()));
        for (const auto& [encoded, what] : c.files.items()) {
            const fs::path path = jsonRoot / c.name / decodeName(encoded);
            if (!c.after.contains(encoded)) {
                EXPECT_EQ(snapshot(path), before[path]) << path << " changed";
                continue;
            }
            EXPECT_EQ(readText(path), readText(c.source(c.after[encoded])));
            const ProcessResult lint = runProgram({"/usr/bin/xmllint", "--noout", path.string()}, media_.path());
            EXPECT_EQ(std::to_string(lint.exitCode) + lint.out + lint.err, "0") << "xmllint complains";
        }
    }
    EXPECT_TRUE(rows.empty()) << "rows no case expects: " << json(rows).dump();
    EXPECT_EQ(result.exitCode, exitStatus) << result.err;
    EXPECT_EQ(text.exitCode, exitStatus) << text.err;

    // The closing line counts every file, hidden rows included.
    const std::string summary = result.err.substr(result.err.rfind("corvane-cli: "));
    std::map<std::string, int> counted;
    const std::regex count("(\\d+) ([a-zA-Z]+)");
    for (std::sregex_iterator it(summary.begin(), summary.end(), count), end; it != end; ++it)
        counted[(*it)[2].str() == "file" ? "files" : (*it)[2].str()] = std::stoi((*it)[1]);
    EXPECT_EQ(counted, counts) << summary;
    EXPECT_EQ(summary.ends_with("(dry run, nothing written)\n"), dryRun) << summary;

    // The report's header names the switches of the run, and a choice only when it is not the default;
    // diagnostic lines only with --debug.
    const auto word = [](bool value) { return value ? std::string("true") : std::string("false"); };
    const auto choice = [&](const char* option, const std::string& byDefault, const std::string& key) {
        const auto at = std::ranges::find(GetParam()[0], option);
        const std::string chosen = at == GetParam()[0].end() ? byDefault : at[1].get<std::string>();
        return chosen == byDefault ? "" : " " + key + "=" + chosen;
    };
    const std::string header = " — Settings: DryRun=" + word(dryRun) + " ForceOverwrite=" + word(has("--always-overwrite")) +
                               " AppleOnly=" + word(!has("--any-device")) + " SilentSkip=" + word(has("--silently-ignore-skipped")) +
                               choice("--sidecar-name", "base", "SidecarName") +
                               choice("--coordinate-form", "decimal", "CoordinateForm") + "\n";
    EXPECT_TRUE(std::regex_search(text.out.substr(0, text.out.find('\n') + 1),
                                  std::regex("^Results — \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000" + header + "$")))
        << text.out.substr(0, 200) << "\nexpected" << header;
    EXPECT_EQ(text.err.find("[DEBUG]") != std::string::npos, has("--debug"));
}

std::string runName(const ::testing::TestParamInfo<json>& info) {
    std::string name;
    for (const std::string option : info.param[0]) name += (name.empty() ? "" : "_") + option.substr(option.find_first_not_of('-'));
    if (info.param[1] != "") name += (name.empty() ? "" : "_") + info.param[1].get<std::string>();
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name.empty() ? "no_switches" : name;
}

INSTANTIATE_TEST_SUITE_P(Cases, CaseFolderTest, ::testing::ValuesIn(runs()), runName);

// A run exists for every case, so a case with an unknown key is refused by name even when it is the only
// one; and a CORVANE_CASE that names no case runs nothing, which must not pass for a run of that case.
TEST(CaseFolder, TheCaseToRunAloneExists) {
    const char* only = std::getenv("CORVANE_CASE");
    EXPECT_FALSE(allCases().empty()) << "no case folder named " << (only != nullptr ? only : "");
}

TEST(CaseFolder, AnUnknownKeyIsRefusedWithTheCaseAndTheKey) {
    const json misspelled = json::parse(R"({"why": "w", "switches": [], "stdErr": "x", "image": {"latitude": 1, "lat": 2},
                                            "files": {"a.HEIC": {"latitude": 1, "mkae": "Apple"}, "b.xmp": {"from": "s", "sise": 3}},
                                            "fault": {"path": "a", "inject": "openat:error=EIO", "when": 2}})");
    EXPECT_EQ(unknownKeys("c", misspelled), (std::vector<std::string>{"c: unknown key \"stdErr\"", "c: unknown key \"image.lat\"",
                                                                      "c: unknown key \"fault.when\"", "c: unknown key \"files.a.HEIC.mkae\"",
                                                                      "c: unknown key \"files.b.xmp.sise\""}));
}

}  // namespace
}  // namespace corvane::test
