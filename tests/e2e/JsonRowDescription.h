// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The JSON rows of corvane-cli as its manual page describes them, so that tests can hold real rows to
// that description. The page's JSON OUTPUT section lists each field as `.BR name " (TYPE; WHEN)"` under
// a subsection per kind of object, and the outcome values as `.B value` under "Outcomes". TYPE is a
// type or several joined by " or " ("string", "boolean", "number", "null", "object", "array of
// strings", "array of objects"); WHEN is "every ..." (always there), "only when ..." (sometimes there)
// or the outcomes whose rows carry the field (there exactly for them).

#include "tests/support/SidecarXml.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::test {

class JsonRowDescription {
public:
    static constexpr const char* row = "Fields of a row";
    static constexpr const char* inspectRow = "Fields of an \\-\\-inspect row";

    explicit JsonRowDescription(const std::filesystem::path& manPage) {
        std::istringstream lines(readText(manPage));
        const std::regex field(R"re(^\.BR (\w+) " \(([^;]+); ([^)]+)\)"$)re");
        std::string section, group, line;
        for (std::smatch match; std::getline(lines, line);) {
            if (line.starts_with(".SH ")) section = line.substr(4);
            if (section != "JSON OUTPUT") continue;
            if (line.starts_with(".SS ")) group = line.substr(4);
            else if (std::regex_match(line, match, field)) groups_[group][match[1]] = {match[2], match[3]};
            else if (group == "Outcomes" && line.starts_with(".B ")) outcomes_.insert(line.substr(3));
        }
    }

    const std::set<std::string>& outcomes() const { return outcomes_; }

    // What is wrong with a row of the kind `group` (row or inspectRow); empty when it fits.
    std::vector<std::string> problems(const nlohmann::json& object, const std::string& group) const {
        std::vector<std::string> found;
        const std::string outcome = object.value("outcome", "");
        if (group == row && !outcomes_.contains(outcome)) found.push_back("undocumented outcome " + outcome);
        check(object, group, outcome, found);
        if (object.contains("differences") && object["differences"].is_array())
            for (const auto& difference : object["differences"]) check(difference, "Fields of a difference", "", found);
        if (object.contains("device") && object["device"].is_object()) check(object["device"], "Fields of a device", "", found);
        return found;
    }

private:
    struct Field {
        std::string type, when;
    };

    // The value's type as the page names types: "string", "array of objects", ...
    static std::string typeOf(const nlohmann::json& value) {
        if (!value.is_array()) return value.type_name();  // "string", "boolean", "number", "null", "object"
        const std::string first = value.empty() ? "string" : typeOf(value[0]);
        const bool alike = std::ranges::all_of(value, [&](const auto& element) { return typeOf(element) == first; });
        return alike ? "array of " + first + "s" : "array of mixed values";
    }

    static bool hasType(const nlohmann::json& value, const std::string& types) {
        return (" or " + types + " or ").find(" or " + typeOf(value) + " or ") != std::string::npos;
    }

    void check(const nlohmann::json& object, const std::string& group, const std::string& outcome,
               std::vector<std::string>& found) const {
        const auto described = groups_.find(group);
        if (described == groups_.end()) return found.push_back("no subsection \"" + group + "\"");
        for (const auto& [key, value] : object.items()) {
            const auto field = described->second.find(key);
            if (field == described->second.end()) found.push_back(group + ": undocumented field " + key);
            else if (!hasType(value, field->second.type)) found.push_back(group + ": " + key + " is not " + field->second.type);
        }
        for (const auto& [key, field] : described->second) {
            if (field.when.starts_with("only when")) continue;
            const bool expected = field.when.starts_with("every ") || (", " + field.when + ",").find(", " + outcome + ",") != std::string::npos;
            if (object.contains(key) != expected)
                found.push_back(group + ": " + key + (expected ? " is missing" : " is there") + " for " + (outcome.empty() ? "this object" : outcome));
        }
    }

    std::map<std::string, std::map<std::string, Field>> groups_;
    std::set<std::string> outcomes_;
};

}  // namespace corvane::test
