// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FileSystem.h"

namespace corvane {

Error fileChangedError() {
    return Error{"FileSystem", 1, "The file changed while it was being replaced; it was left as the other program saved it"};
}

bool isFileChanged(const Error& error) { return error.domain == "FileSystem" && error.code == 1; }

Error readBackError(const std::filesystem::path& temporary) {
    return Error{"FileSystem", 2, "“" + temporary.string() + "” does not read back as the text written to it"};
}

bool isReadBackFailure(const Error& error) { return error.domain == "FileSystem" && error.code == 2; }

std::string lastPathComponent(const std::filesystem::path& path) {
    std::filesystem::path p = path;
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
    return p.filename().string();
}

std::string pathExtension(const std::filesystem::path& path) {
    const std::string name = lastPathComponent(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    return name.substr(dot + 1);
}

std::filesystem::path standardizedPath(const std::filesystem::path& path) {
    std::filesystem::path absolute = path.is_absolute() ? path : std::filesystem::absolute(path);
    std::filesystem::path normal = absolute.lexically_normal();
    std::string text = normal.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace corvane
