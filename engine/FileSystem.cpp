// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FileSystem.h"

#include <sys/stat.h>

namespace corvane {

std::string lastPathComponent(const std::filesystem::path& path) {
    std::filesystem::path p = path;
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
    return p.filename().string();
}

std::string notRegularFileMessage(const std::filesystem::path& path, unsigned mode) {
    std::string_view kind = "an unknown kind of file";
    if (S_ISFIFO(mode)) kind = "a FIFO";
    else if (S_ISDIR(mode)) kind = "a directory";
    else if (S_ISCHR(mode)) kind = "a character device";
    else if (S_ISBLK(mode)) kind = "a block device";
    else if (S_ISSOCK(mode)) kind = "a socket";
    return path.string() + " is not a regular file (" + std::string(kind) + ")";
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
