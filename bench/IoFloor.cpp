// corvane-bench-floor: the least file work that repairing a corpus can take, as a yardstick for
// corvane-cli. For every media file (heic, heif, dng in any letter case; hidden entries skipped) it reads
// the image's first 64 KiB and the whole sidecar beside it, then writes the sidecar's bytes to a hidden
// temporary file in the same folder, syncs it and renames it over the sidecar. With --read-only it
// stops after the reads (the floor of a dry run).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool isMediaFile(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".heic" || extension == ".heif" || extension == ".dng";
}

[[noreturn]] void fail(const char* what, const fs::path& path) {
    std::fprintf(stderr, "corvane-bench-floor: %s %s: %s\n", what, path.c_str(), std::strerror(errno));
    std::exit(1);
}

// Reads up to `limit` bytes (all of the file when limit is 0) into `buffer`; false when the file is absent.
bool readFile(const fs::path& path, std::vector<char>& buffer, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return false;
        fail("cannot open", path);
    }
    size_t size = limit;
    if (limit == 0) {
        struct stat info {};
        if (::fstat(fd, &info) != 0) fail("cannot stat", path);
        size = static_cast<size_t>(info.st_size);
    }
    buffer.resize(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(fd, buffer.data() + done, size - done);
        if (count < 0) fail("cannot read", path);
        if (count == 0) break;
        done += static_cast<size_t>(count);
    }
    buffer.resize(done);
    ::close(fd);
    return true;
}

void replaceWithCopy(const fs::path& sidecar, const std::vector<char>& bytes) {
    const fs::path temporary = sidecar.parent_path() / ("." + sidecar.filename().string() + ".floor.tmp");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot create", temporary);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0) fail("cannot write", temporary);
        done += static_cast<size_t>(count);
    }
    if (::fsync(fd) != 0) fail("cannot sync", temporary);
    ::close(fd);
    if (::rename(temporary.c_str(), sidecar.c_str()) != 0) fail("cannot rename onto", sidecar);
}

}  // namespace

int main(int argc, char** argv) {
    bool readOnly = false;
    std::vector<fs::path> roots;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--read-only") readOnly = true;
        else roots.emplace_back(arg);
    }
    if (roots.empty()) {
        std::fprintf(stderr, "usage: corvane-bench-floor [--read-only] DIR...\n");
        return 2;
    }

    long images = 0, sidecars = 0;
    std::vector<char> head, sidecar;
    for (const fs::path& root : roots) {
        for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
            const fs::path& path = it->path();
            if (path.filename().string().front() == '.') {
                if (it->is_directory()) it.disable_recursion_pending();
                continue;
            }
            if (!it->is_regular_file() || !isMediaFile(path)) continue;
            readFile(path, head, 64 * 1024);
            ++images;
            fs::path sidecarPath = path;
            sidecarPath.replace_extension(".xmp");
            if (!readFile(sidecarPath, sidecar, 0)) continue;
            ++sidecars;
            if (!readOnly) replaceWithCopy(sidecarPath, sidecar);
        }
    }
    std::printf("corvane-bench-floor: %ld images, %ld sidecars %s\n", images, sidecars, readOnly ? "read" : "rewritten");
    return 0;
}
