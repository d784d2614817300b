// Runs the cases of tests/cases (the format is described in tests/cases/README.md): per distinct set of
// switches, one folder holding every case of that set in a subfolder of its own, one run of the built
// corvane-cli with --json over it, then every row and every file compared with what the case expects.

#include "tests/e2e/ChildProcess.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path casesFolder = CORVANE_CASES_DIR;

struct Case {
    std::string name;
    json spec;  // case.json
    std::string sidecar;
    std::optional<std::string> sidecarAfter;  // absent: unchanged

    std::string imageFile() const { return spec.at("image").value("file", "IMG_0001.HEIC"); }
    std::string sidecarFile() const { return fs::path(imageFile()).stem().string() + ".xmp"; }
    std::vector<std::string> switches() const { return spec.at("switches").get<std::vector<std::string>>(); }
};

Case readCase(const fs::path& folder) {
    Case c;
    c.name = folder.filename().string();
    c.spec = json::parse(test::readText(folder / "case.json"));
    c.sidecar = test::readText(folder / "sidecar.xmp");
    const std::string after = c.spec.at("sidecarAfter");
    if (after != "unchanged") c.sidecarAfter = test::readText(folder / after);
    return c;
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (const auto& entry : fs::directory_iterator(casesFolder))
        if (entry.is_directory()) cases.push_back(readCase(entry.path()));
    std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
    return cases;
}

std::vector<std::vector<std::string>> switchSets() {
    std::set<std::vector<std::string>> sets;
    for (const Case& c : allCases()) sets.insert(c.switches());
    return {sets.begin(), sets.end()};
}

// The image a case describes: an iPhone photo at the position (degree/minute/second rationals, references
// from the signs) unless the case says otherwise; a key given as null leaves that tag out.
test::TestImage imageSpecOf(const json& image) {
    test::TestImage spec = test::iPhoneImageAt(image.value("latitude", 0.0), image.value("longitude", 0.0));
    if (!image.contains("latitude")) {
        spec.latitude.reset();
        spec.latitudeRef.reset();
    }
    if (!image.contains("longitude")) {
        spec.longitude.reset();
        spec.longitudeRef.reset();
    }
    auto text = [&](const char* key, std::optional<std::string>& field) {
        if (image.contains(key)) field = image[key].is_null() ? std::nullopt : std::optional(image[key].get<std::string>());
    };
    text("make", spec.make);
    text("model", spec.model);
    text("software", spec.software);
    text("latitudeRef", spec.latitudeRef);
    text("longitudeRef", spec.longitudeRef);
    return spec;
}

class CaseFolderTest : public ::testing::TestWithParam<std::vector<std::string>> {
protected:
    // Each distinct image is encoded once and copied.
    void placeImage(const json& image, const fs::path& destination) {
        const std::string key = image.dump() + fs::path(destination).extension().string();
        auto [made, isNew] = images_.try_emplace(key, media_.path() / std::to_string(images_.size()));
        if (isNew) {
            std::string extension = destination.extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
            if (extension == ".dng") test::writeDng(made->second, imageSpecOf(image));
            else test::writeHeic(made->second, imageSpecOf(image));
        }
        fs::copy_file(made->second, destination);
    }

    // xmllint's complaints about a written document; empty when there are none, warnings included.
    std::string xmllintComplaints(const fs::path& file) {
        const test::ProcessResult lint = test::runProgram({"/usr/bin/xmllint", "--noout", file.string()}, home_.path());
        return lint.exitCode == 0 ? lint.out + lint.err : "exit " + std::to_string(lint.exitCode) + ": " + lint.err;
    }

    test::TempDir media_;
    test::TempDir home_;
    std::map<std::string, fs::path> images_;
};

TEST_P(CaseFolderTest, EveryCaseGivesItsRowAndLeavesItsFiles) {
    std::vector<Case> cases = allCases();
    std::erase_if(cases, [&](const Case& c) { return c.switches() != GetParam(); });
    ASSERT_FALSE(cases.empty());

    const test::TempDir run;
    for (const Case& c : cases) {
        const fs::path folder = run.path() / c.name;
        fs::create_directories(folder);
        placeImage(c.spec.at("image"), folder / c.imageFile());
        test::writeText(folder / c.sidecarFile(), c.sidecar);
    }

    std::vector<std::string> arguments{"--json", "--quiet"};
    arguments.insert(arguments.end(), GetParam().begin(), GetParam().end());
    arguments.push_back(run.path().string());
    const test::ProcessResult result = test::runCli(arguments, home_.path(), std::chrono::seconds(60));
    ASSERT_FALSE(result.timedOut);

    std::map<std::string, json> rows;  // by case
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        json row = json::parse(line);
        const fs::path file = fs::path(row.at("file").get<std::string>()).lexically_relative(run.path());
        row.erase("file");
        EXPECT_TRUE(rows.emplace(file.begin()->string(), row).second) << "two rows for " << file;
    }
    EXPECT_EQ(rows.size(), cases.size()) << result.out << result.err;

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + ": " + c.spec.value("why", ""));
        const fs::path folder = run.path() / c.name;
        EXPECT_EQ(rows[c.name], c.spec.at("row"));
        // Nothing created or left behind (a temporary file), nothing removed.
        std::vector<std::string> expectedEntries{c.imageFile(), c.sidecarFile()};
        std::sort(expectedEntries.begin(), expectedEntries.end());
        EXPECT_EQ(test::folderEntries(folder), expectedEntries);
        const std::string after = test::readText(folder / c.sidecarFile());
        EXPECT_EQ(after, c.sidecarAfter.value_or(c.sidecar));
        if (after != c.sidecar) {
            EXPECT_EQ(xmllintComplaints(folder / c.sidecarFile()), "");
        }
    }
}

std::string switchSetName(const ::testing::TestParamInfo<std::vector<std::string>>& info) {
    std::string name;
    for (const std::string& option : info.param) {
        for (const char c : option) {
            if (std::isalnum(static_cast<unsigned char>(c))) name += c;
            else if (c == '-' && !name.empty() && name.back() != '_') name += '_';
        }
        name += '_';
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name.empty() ? "dry_run" : name;
}

INSTANTIATE_TEST_SUITE_P(Cases, CaseFolderTest, ::testing::ValuesIn(switchSets()), switchSetName);

}  // namespace
}  // namespace corvane
