// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace corvane::test {

TempDir::TempDir(const std::filesystem::path& base) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (!base.empty() ? base.string() : tmp && *tmp ? tmp : "/tmp") + "/corvane-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = std::filesystem::canonical(pattern);
}

TempDir::~TempDir() {
    std::error_code error;
    // Folders a test made read-only must become writable again to be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        if (it->is_directory(error)) ::chmod(it->path().c_str(), 0755);
    std::filesystem::remove_all(path_, error);
}

std::filesystem::path TempDir::writeFile(const std::filesystem::path& relative, const std::string& text) const {
    const std::filesystem::path target = path_ / relative;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary) << text;
    return target;
}

}  // namespace corvane::test
