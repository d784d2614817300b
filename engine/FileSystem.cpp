// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FileSystem.h"

namespace corvane {

std::string lastPathComponent(const std::filesystem::path& path) {
    std::filesystem::path p = path;
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
    return p.filename().string();
}

std::string_view stemOf(std::string_view name) {
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? std::string_view() : name.substr(0, dot);
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
